#include "serial/DeviceIo.h"

#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <thread>

namespace device_io {
namespace {

constexpr int kForever = -1;

// Milliseconds left until the deadline for poll(), rounded up so that a
// deadline less than a millisecond away still waits; -1 when there is none.
int PollTimeout(const TDeadline& deadline) {
  if (!deadline) return kForever;
  const auto left = *deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

bool Expired(const TDeadline& deadline) {
  return deadline && Clock::now() >= *deadline;
}

// Waits for the device to become ready; false on time-out or when it reports
// only hang-up or error.
bool WaitReady(int fd, short events, int timeoutMs) {
  pollfd entry{fd, events, 0};
  for (;;) {
    const int ready = poll(&entry, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && (entry.revents & events) != 0;
  }
}

// Waits for the output queue to empty; the device gives no event for that,
// so the wait is paced by the time the queued bytes need on the line.
bool WaitOutputSent(int fd, TDeadline deadline, double millisecondsPerByteOnLine) {
  for (;;) {
    int queued = 0;
    const int err = QueuedOutputBytes(fd, queued);
    if (err != 0) return IsNoModemLinesError(err);  // no queue to watch: sent
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

// Reads what is there without waiting; returns false when the device failed
// or has gone (end of file on a line that never ends).
bool ReadQueued(int fd, char* data, int32_t count, int32_t& done) {
  while (done < count) {
    const ssize_t n = read(fd, data + done, static_cast<size_t>(count - done));
    if (n > 0) {
      done += static_cast<int32_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

TTransfer WriteAll(int fd, const char* data, int32_t count, TDeadline deadline,
                   double millisecondsPerByteOnLine) {
  TTransfer result;
  while (result.Count < count) {
    const ssize_t n = write(fd, data + result.Count, static_cast<size_t>(count - result.Count));
    if (n > 0) {
      result.Count += static_cast<int32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The driver's queue is full (or the other end of a pseudo-terminal
      // reads nothing): wait for room, but not beyond the write time-out.
      if (!Expired(deadline) && WaitReady(fd, POLLOUT, PollTimeout(deadline))) continue;
      return result;
    }
    result.StartFailed = result.Count == 0;
    return result;
  }
  result.Complete = WaitOutputSent(fd, deadline, millisecondsPerByteOnLine);
  return result;
}

TTransfer ReadUpTo(int fd, char* data, int32_t count, const TReadLimits& limits) {
  TTransfer result;
  if (!ReadQueued(fd, data, count, result.Count)) {
    result.StartFailed = result.Count == 0;
    return result;
  }
  while (result.Count < count && !limits.ReturnAtOnce) {
    if (limits.WaitForFirstByte && result.Count > 0) break;
    int timeoutMs = PollTimeout(limits.Deadline);
    if (result.Count > 0 && limits.GapMs) {
      timeoutMs = timeoutMs < 0 ? *limits.GapMs : std::min(timeoutMs, *limits.GapMs);
    }
    if (timeoutMs == 0 || !WaitReady(fd, POLLIN, timeoutMs)) break;
    if (!ReadQueued(fd, data, count, result.Count)) return result;
  }
  result.Complete = true;
  return result;
}

int QueuedInputBytes(int fd, int& count) {
  return ioctl(fd, FIONREAD, &count) == 0 ? 0 : errno;
}

int QueuedOutputBytes(int fd, int& count) {
  return ioctl(fd, TIOCOUTQ, &count) == 0 ? 0 : errno;
}

int ReadLineErrorCounts(int fd, TLineErrorCounts& counts) {
  serial_icounter_struct icount{};
  if (ioctl(fd, TIOCGICOUNT, &icount) != 0) {
    counts = {};
    return IsNoModemLinesError(errno) ? 0 : errno;
  }
  counts = {icount.frame, icount.parity, icount.overrun, icount.brk, icount.buf_overrun};
  return 0;
}

bool IsNoModemLinesError(int err) {
  return err == ENOTTY || err == EINVAL;
}

bool IsDeviceGoneError(int err) {
  return err == EIO || err == ENODEV || err == ENXIO;
}

}  // namespace device_io
