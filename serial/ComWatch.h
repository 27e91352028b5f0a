#pragma once

#include <optional>

#include "platform/EventLoop.h"
#include "serial/ComEvents.h"
#include "serial/PortBackend.h"

// The event source of an open port given the main thread's event loop: the
// loop wakes on the device's wait itself, and the events are read and handed
// over right there, with no thread and no hand-over between. Reports what
// the event thread reports, in the same way: received characters, line
// errors, a hang-up once and a growing pause until the device is back. Main
// thread only. Internal to serial/.
class TComWatch : public IComEventSource {
 public:
  // Sets up the wait on deviceFd and enters it in the loop; raises EComPort,
  // with the system's number, when it cannot. The loop must outlive this.
  TComWatch(int deviceFd, TPortEvents waited, IEventLoop& loop, THandOver handOver);
  ~TComWatch() override;
  TComWatch(const TComWatch&) = delete;
  TComWatch& operator=(const TComWatch&) = delete;

  // Both leave the loop at once; nothing runs on any other thread to wait
  // for.
  void Stop() override;
  void RequestStop() override { Stop(); }

 private:
  void OnDeviceReady();
  void WatchDevice();
  void StopWatchingDevice();
  void StartBackOff();
  void CheckDeviceBack();

  IEventLoop& Loop;
  const THandOver HandOver;
  port_backend::TDeviceWatch Watch;
  TComEventReader Reader;
  std::optional<IEventLoop::WatchId> DeviceWatch;
  std::optional<IEventLoop::TimerId> BackOffTimer;
  int PauseMs = 0;
};
