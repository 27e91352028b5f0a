#pragma once

#include <functional>

#include "platform/Thread.h"
#include "serial/BCPort.h"
#include "serial/PortBackend.h"

// The event thread of an open port: sleeps until the device has received
// characters (or the port is closing), then hands the events over to the
// port. It never polls while the device works; a device that has gone away
// is reported once as a carrier (RLSD) change and then re-checked with a
// growing pause. Made, stopped and destroyed by the port's owner (the main
// thread); Execute runs on the thread itself. Internal to serial/.
class TComThread : public TThread {
 public:
  // Runs on the event thread for each wait's events; it takes them to the
  // handlers by the port's SyncMethod.
  using THandOver = std::function<void(TPortEvents events)>;

  // Sets up the wait on deviceFd; raises EComPort, with the system's number,
  // when it cannot. waited: the events the port wants to hear of.
  TComThread(int deviceFd, TPortEvents waited, THandOver handOver);
  // Stops the thread (see Stop) and releases the wait.
  ~TComThread() override;

  // Asks the body to end and waits for it; on the main thread the events
  // that the thread hands over meanwhile are still delivered.
  void Stop();
  // Asks the body to end without waiting. After this the thread touches the
  // device no more; it ends as soon as the hand-over it may wait in is done.
  void RequestStop();

 protected:
  void Execute() override;

 private:
  // Waits out a device that reports hang-up or error; returns false when
  // the thread was told to stop meanwhile.
  bool BackOffWhileDeviceIsGone();
  bool WaitForStop(int timeoutMs);
  // The events the device has for us now; false when it cannot tell.
  bool CollectEvents(TPortEvents& events);
  void Deliver(TPortEvents events);
  void ReportHangUp();

  const int DeviceFd;
  const TPortEvents Waited;
  const THandOver HandOver;
  port_backend::TDeviceWatch Watch;
  port_backend::TLineErrorCounts LastSeenErrors;
  bool HangUpReported = false;
};
