#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/Descriptor.h"
#include "platform/EventLoop.h"

// The main loop of the headless front ends (command line, tests): periodic
// timers, watched descriptors and the main-thread hand-over queue, on the
// main thread. While nothing is due it sleeps in one wait on all of them.
class TMainLoop : public IEventLoop {
 public:
  TMainLoop() = default;
  TMainLoop(const TMainLoop&) = delete;
  TMainLoop& operator=(const TMainLoop&) = delete;

  TimerId AddTimer(int intervalMs, std::function<void()> onTick) override;
  void RemoveTimer(TimerId id) override;
  void SetInterval(TimerId id, int intervalMs) override;
  int Interval(TimerId id) const;
  void SetEnabled(TimerId id, bool enabled);
  bool Enabled(TimerId id) const;

  // Serves hand-overs and timers until done() is true (checked after every
  // call that ran and every tick) or timeoutMs passed (negative: no limit).
  // Returns done().
  bool RunUntil(const std::function<bool()>& done, int timeoutMs = -1);

  // Serves for the given time, whatever happens.
  void RunFor(int milliseconds);

  // Serves hand-overs and watched descriptors, but no timers, waiting up to
  // timeoutMs for the first; as a modal question does, whose asker's timers
  // must not tick meanwhile.
  void ServeWithoutTimers(int timeoutMs);

  WatchId WatchReadable(int fd, std::function<void()> onReady) override;
  void Unwatch(WatchId id) override;

 private:
  using Clock = std::chrono::steady_clock;
  struct TTimer {
    int IntervalMs;
    bool Enabled;
    Clock::time_point Due;
    std::function<void()> OnTick;
  };

  // As a window timer: one without a positive interval is stopped, rather
  // than ticking as fast as the loop can turn.
  static bool Ticking(const TTimer& timer) { return timer.Enabled && timer.IntervalMs > 0; }
  // Runs the timers that are due; returns the time until the next one.
  Clock::duration FireDueTimers();
  // One wait on the hand-over queue and the watched descriptors, and what
  // it found run.
  void ServeWatched(int timeoutMs);
  void RunReadyWatches(const std::vector<WatchId>& ids, const std::vector<size_t>& ready);

  struct TWatch {
    int Fd;
    std::function<void()> OnReady;
  };

  std::map<TimerId, TTimer> Timers;
  TimerId NextId = 1;
  std::map<WatchId, TWatch> Watches;
  WatchId NextWatchId = 1;
  // Ends the wait on the descriptors when a worker queues a hand-over.
  // Shared with the wake hook: a worker that took the hook just before the
  // loop went still signals a descriptor that is open.
  std::shared_ptr<platform::TWakeSignal> HandOverQueued =
      std::make_shared<platform::TWakeSignal>();
};
