#include "serial/ComEvents.h"

#include <algorithm>
#include <exception>

#include "platform/ErrorReport.h"

namespace {

const char* const kTextSetCommMask = "Ошибка функции SetCommMask";

constexpr int kFirstPauseMs = 5;
constexpr int kLongestPauseMs = 200;

}  // namespace

int StartDeviceWatch(port_backend::TDeviceWatch& watch, int deviceFd) {
  if (const int err = watch.Start(deviceFd); err != 0) throw EComPort(kTextSetCommMask, err);
  return deviceFd;
}

TComEventReader::TComEventReader(int deviceFd, TPortEvents waited)
    : DeviceFd(deviceFd),
      Waited(waited),
      CountsLineErrors(port_backend::CountsLineErrors(deviceFd)) {
  port_backend::ReadLineErrorCounts(DeviceFd, LastSeenErrors);
}

bool TComEventReader::CollectEvents(TPortEvents& events) {
  int queued = 0;
  if (port_backend::QueuedInputBytes(DeviceFd, queued) != 0) return false;
  port_backend::TLineErrorCounts counts;
  if (CountsLineErrors && port_backend::ReadLineErrorCounts(DeviceFd, counts) == 0 &&
      !(counts == LastSeenErrors)) {
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
TPortEvents TComEventReader::HangUpEvents() {
  if (HangUpReported || !Waited.Contains(peRLSD)) return {};
  HangUpReported = true;
  return TPortEvents{peRLSD};
}

int TComEventReader::FirstPauseMs() {
  return kFirstPauseMs;
}

int TComEventReader::NextPauseMs(int pauseMs) {
  return std::min(pauseMs * 2, kLongestPauseMs);
}

void TComEventReader::Deliver(const IComEventSource::THandOver& handOver, TPortEvents events) {
  try {
    handOver(events);
  } catch (const std::exception& e) {
    platform::ReportError(e.what());
  } catch (...) {
    platform::ReportError("unknown exception in a serial port event handler");
  }
}
