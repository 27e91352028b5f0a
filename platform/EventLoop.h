#pragma once

#include <functional>

// The main thread's event loop as a component sees it: periodic timers and
// descriptors to watch. A component given one does its waiting there, on the
// main thread, instead of on a thread of its own, which spares a thread
// hand-over per event. Main thread only, as are the calls it makes.
class IEventLoop {
 public:
  using TimerId = int;
  using WatchId = int;

  // A timer that calls onTick every intervalMs while enabled; starts enabled.
  virtual TimerId AddTimer(int intervalMs, std::function<void()> onTick) = 0;
  virtual void RemoveTimer(TimerId id) = 0;
  // Changing the interval restarts the period, as a window timer does.
  virtual void SetInterval(TimerId id, int intervalMs) = 0;

  // Calls onReady each time fd has input, a hang-up or an error, until
  // Unwatch. fd stays the caller's; it must stay open while watched. A
  // callback may unwatch any descriptor, its own included.
  virtual WatchId WatchReadable(int fd, std::function<void()> onReady) = 0;
  virtual void Unwatch(WatchId id) = 0;

 protected:
  ~IEventLoop() = default;
};
