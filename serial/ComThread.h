#pragma once

#include "platform/Thread.h"
#include "serial/BCPort.h"

// The event thread of an open port: sleeps until the device has received
// characters (or the port is closing), then hands the events to the port's
// handlers by the port's SyncMethod. It never polls while the device works;
// a device that has gone away is reported once as a carrier (RLSD) change
// and then re-checked with a growing pause.
class TComThread : public TThread {
 public:
  // Sets up the wait on the port's device; raises EComPort when it cannot.
  explicit TComThread(TBComPort& owner);
  // Stops the thread (see Stop) and releases the wait.
  ~TComThread() override;

  // Asks the body to end and waits for it; on the main thread the events
  // that the thread hands over meanwhile are still delivered.
  void Stop();
  // Asks the body to end without waiting. After this the thread touches the
  // device no more; it ends as soon as the hand-over it may wait in is done.
  void RequestStop();

  TBComPort& OwnerPort;
  // The events of the last completed wait; read during the hand-over.
  TPortEvents PendingEvents;

 protected:
  void Execute() override;

 private:
  enum class TWake { Stop, DeviceReady, DeviceGone, WaitFailed };

  TWake WaitForDevice();
  // Waits out a device that reports hang-up or error; returns false when
  // the thread was told to stop meanwhile.
  bool BackOffWhileDeviceIsGone();
  bool WaitForStop(int timeoutMs);
  bool DeviceReportsGone();
  // The events the device has for us now; DeviceGone when it cannot tell.
  TWake CollectEvents(TPortEvents& events);
  void Deliver(TPortEvents events);
  void ReportHangUp();

  int StopFd = -1;  // eventfd; readable once Stop ran
  int PollFd = -1;  // epoll set: device (edge-triggered) and StopFd
  device_io::TLineErrorCounts LastSeenErrors;
  bool HangUpReported = false;
};
