#include "serial/ComThread.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "platform/ErrorReport.h"

namespace {

const char* const kTextSetCommMask = "Ошибка функции SetCommMask";

// Pauses between checks of a device that has gone away: short at first, so
// that a device that comes back quickly is noticed, then no more than a few
// wake-ups a second.
constexpr int kFirstPauseMs = 5;
constexpr int kLongestPauseMs = 200;

}  // namespace

TComThread::TComThread(int deviceFd, TPortEvents waited, THandOver handOver)
    : DeviceFd(deviceFd), Waited(waited), HandOver(std::move(handOver)) {
  if (const int err = Watch.Start(DeviceFd); err != 0) throw EComPort(kTextSetCommMask, err);
  port_backend::ReadLineErrorCounts(DeviceFd, LastSeenErrors);
}

TComThread::~TComThread() {
  Stop();
}

void TComThread::Stop() {
  RequestStop();
  WaitFor();
}

void TComThread::RequestStop() {
  Terminate();
  Watch.Wake();
}

void TComThread::Execute() {
  using TWake = port_backend::TDeviceWatch::TWake;
  while (!Terminated()) {
    const TWake wake = Watch.Wait();
    if (wake == TWake::Woken || wake == TWake::WaitFailed) break;
    TPortEvents events;
    if (wake == TWake::DeviceGone || !CollectEvents(events)) {
      ReportHangUp();
      if (!BackOffWhileDeviceIsGone()) break;
      HangUpReported = false;  // the device is back; a new hang-up is news again
      continue;
    }
    if (!events.Empty()) Deliver(events);
  }
}

bool TComThread::CollectEvents(TPortEvents& events) {
  int queued = 0;
  if (port_backend::QueuedInputBytes(DeviceFd, queued) != 0) return false;
  port_backend::TLineErrorCounts counts;
  if (port_backend::ReadLineErrorCounts(DeviceFd, counts) == 0 && !(counts == LastSeenErrors)) {
    LastSeenErrors = counts;
    events.Include(peError);
  }
  if (queued > 0) events.Include(peRxChar);
  return true;
}

// The line hung up (the far end of a pseudo-terminal closed, an adapter was
// pulled out). The port is opened with CLOCAL, so this is no mere carrier
// drop; the owner hears it once, as the loss of the carrier signal, and can
// end its work at once instead of waiting for an answer that cannot come.
void TComThread::ReportHangUp() {
  if (HangUpReported || !Waited.Contains(peRLSD)) return;
  HangUpReported = true;
  Deliver(TPortEvents{peRLSD});
}

bool TComThread::BackOffWhileDeviceIsGone() {
  int pauseMs = kFirstPauseMs;
  for (;;) {
    if (WaitForStop(pauseMs)) return false;
    if (!Watch.DeviceReportsGone()) return true;
    pauseMs = std::min(pauseMs * 2, kLongestPauseMs);
  }
}

bool TComThread::WaitForStop(int timeoutMs) {
  return Watch.PauseUnlessWoken(timeoutMs) || Terminated();
}

void TComThread::Deliver(TPortEvents events) {
  // A handler that fails does not end reception: the failure is reported and
  // the next characters are delivered as usual.
  try {
    HandOver(events);
  } catch (const std::exception& e) {
    platform::ReportError(e.what());
  } catch (...) {
    platform::ReportError("unknown exception in a serial port event handler");
  }
}
