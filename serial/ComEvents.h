#pragma once

#include <functional>

#include "serial/BCPort.h"
#include "serial/PortBackend.h"

// What an open port's event source (its event thread, or its watch in the
// main thread's loop) shares: the interface the port drives it by, and the
// reading of one wake-up into the port's events. Internal to serial/.

// Reports a port's device events until stopped. Made, stopped and destroyed
// by the port's owner (the main thread).
class IComEventSource {
 public:
  // Runs for each wake-up's events; it takes them to the handlers by the
  // port's SyncMethod.
  using THandOver = std::function<void(TPortEvents events)>;

  virtual ~IComEventSource() = default;
  // Stops reporting and waits until the source is done with the device; on
  // the main thread the events handed over meanwhile are still delivered.
  virtual void Stop() = 0;
  // Stops reporting without waiting, from a handler the source reports to:
  // the source touches the device no more and is done once that handler
  // returns.
  virtual void RequestStop() = 0;
};

// Sets watch up on deviceFd and returns deviceFd; raises EComPort, with the
// system's number, when it cannot.
int StartDeviceWatch(port_backend::TDeviceWatch& watch, int deviceFd);

// Turns wake-ups of a device into the port's events: characters that came,
// new line errors, and a hang-up told once (as the loss of the carrier, when
// the port waits for that) until the device is back. Used by one thread.
class TComEventReader {
 public:
  TComEventReader(int deviceFd, TPortEvents waited);

  // The events the device has for us now; false when it cannot tell.
  bool CollectEvents(TPortEvents& events);
  // The events that tell that the device is gone: none when already told.
  TPortEvents HangUpEvents();
  // The device answers again; a new hang-up is news again.
  void DeviceBack() { HangUpReported = false; }

  // Pauses between checks of a device that has gone away: short at first,
  // so that a device that comes back quickly is noticed, then no more than a
  // few wake-ups a second.
  static int FirstPauseMs();
  static int NextPauseMs(int pauseMs);

  // Hands events over; a handler that fails does not end reception: the
  // failure is reported and the next events are delivered as usual.
  static void Deliver(const IComEventSource::THandOver& handOver, TPortEvents events);

 private:
  const int DeviceFd;
  const TPortEvents Waited;
  const bool CountsLineErrors;
  port_backend::TLineErrorCounts LastSeenErrors;
  bool HangUpReported = false;
};
