#pragma once

#include "platform/Thread.h"
#include "serial/ComEvents.h"
#include "serial/PortBackend.h"

// The event thread of an open port that has no event loop to wait in: sleeps
// until the device has received characters (or the port is closing), then
// hands the events over to the port. It never polls while the device works;
// a device that has gone away is reported once as a carrier (RLSD) change
// and then re-checked with a growing pause. Made, stopped and destroyed by
// the port's owner (the main thread); Execute runs on the thread itself.
// Internal to serial/.
class TComThread : public TThread, public IComEventSource {
 public:
  // Sets up the wait on deviceFd; raises EComPort, with the system's number,
  // when it cannot. waited: the events the port wants to hear of. The
  // handOver runs on the event thread.
  TComThread(int deviceFd, TPortEvents waited, THandOver handOver);
  // Stops the thread (see Stop) and releases the wait.
  ~TComThread() override;

  void Stop() override;
  void RequestStop() override;

 protected:
  void Execute() override;

 private:
  // Waits out a device that reports hang-up or error; returns false when
  // the thread was told to stop meanwhile.
  bool BackOffWhileDeviceIsGone();
  bool WaitForStop(int timeoutMs);

  const THandOver HandOver;
  port_backend::TDeviceWatch Watch;
  TComEventReader Reader;
};
