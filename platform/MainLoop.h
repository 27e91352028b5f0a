#pragma once

#include <chrono>
#include <functional>
#include <map>

// The main loop of the headless front ends (command line, tests): periodic
// timers plus the main-thread hand-over queue, on the main thread.
class TMainLoop {
 public:
  using TimerId = int;

  // A timer that calls onTick every intervalMs while enabled; starts enabled.
  TimerId AddTimer(int intervalMs, std::function<void()> onTick);
  void RemoveTimer(TimerId id);
  // Changing the interval restarts the period, as a window timer does.
  void SetInterval(TimerId id, int intervalMs);
  int Interval(TimerId id) const;
  void SetEnabled(TimerId id, bool enabled);
  bool Enabled(TimerId id) const;

  // Serves hand-overs and timers until done() is true (checked after every
  // call that ran and every tick) or timeoutMs passed (negative: no limit).
  // Returns done().
  bool RunUntil(const std::function<bool()>& done, int timeoutMs = -1);

  // Serves for the given time, whatever happens.
  void RunFor(int milliseconds);

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

  std::map<TimerId, TTimer> Timers;
  TimerId NextId = 1;
};
