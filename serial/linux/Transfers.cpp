#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <string_view>
#include <thread>

#include "serial/PortBackend.h"
#include "serial/linux/LinuxDriver.h"

namespace port_backend {
namespace {

using Clock = std::chrono::steady_clock;

bool Expired(const platform::TDeadline& deadline) {
  return deadline && Clock::now() >= *deadline;
}

// Waits for the output queue to empty; the device gives no event for that,
// so the wait is paced by the time the queued bytes need on the line. False
// when time ran out, or (with error set) when the driver cannot tell.
bool WaitOutputSent(int fd, platform::TDeadline deadline, double millisecondsPerByteOnLine,
                    int& error) {
  for (;;) {
    int queued = 0;
    if (const int err = QueuedOutputBytes(fd, queued); err != 0) {
      if (IsNoModemLinesError(err)) return true;  // no queue to watch: sent
      error = err;
      return false;
    }
    if (queued == 0) return true;
    if (Expired(deadline)) return false;
    auto pause = std::chrono::microseconds(
        static_cast<int64_t>(std::ceil(queued * millisecondsPerByteOnLine * 1000.0)) + 100);
    if (deadline)
      pause =
          std::min(pause, std::chrono::ceil<std::chrono::microseconds>(*deadline - Clock::now()));
    std::this_thread::sleep_for(pause);
  }
}

// Reads what is there without waiting; false when the device failed (error
// set) or has gone (end of file on a line that never ends, error 0).
bool ReadQueued(int fd, char* data, int32_t count, TTransfer& transfer) {
  while (transfer.Count < count) {
    const ssize_t n =
        ::read(fd, data + transfer.Count, static_cast<size_t>(count - transfer.Count));
    if (n > 0) {
      transfer.Count += static_cast<int32_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else {
      transfer.Error = n < 0 ? errno : 0;
      return false;
    }
  }
  return true;
}

}  // namespace

TTransfer Write(int fd, const char* data, int32_t count, platform::TDeadline deadline,
                double millisecondsPerByteOnLine) {
  TTransfer result;
  // A full queue (or a far end of a pseudo-terminal that reads nothing) is
  // waited out, but not beyond the write time-out.
  const platform::TWriteResult written =
      platform::WriteAll(fd, std::string_view(data, static_cast<size_t>(count)), deadline);
  result.Count = static_cast<int32_t>(written.Written);
  if (written.Error == ETIMEDOUT) return result;  // no failure of the device: no number
  if (written.Error != 0) {
    result.Error = written.Error;
    result.StartFailed = result.Count == 0;
    return result;
  }
  result.Complete = WaitOutputSent(fd, deadline, millisecondsPerByteOnLine, result.Error);
  return result;
}

TTransfer Read(int fd, char* data, int32_t count, const TReadLimits& limits) {
  TTransfer result;
  if (!ReadQueued(fd, data, count, result)) {
    result.StartFailed = result.Count == 0;
    return result;
  }
  while (result.Count < count && !limits.ReturnAtOnce) {
    if (limits.WaitForFirstByte && result.Count > 0) break;
    int timeoutMs = platform::MillisecondsLeft(limits.Deadline);
    if (result.Count > 0 && limits.GapMs) {
      timeoutMs = timeoutMs < 0 ? *limits.GapMs : std::min(timeoutMs, *limits.GapMs);
    }
    if (timeoutMs == 0 || !platform::WaitReady(fd, POLLIN, timeoutMs)) break;
    if (!ReadQueued(fd, data, count, result)) return result;
  }
  result.Complete = true;
  return result;
}

}  // namespace port_backend
