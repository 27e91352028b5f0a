#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

// Blocking transfers on a non-blocking serial file descriptor, bounded by the
// port's time-outs, and the status calls the port and its event thread share.
namespace device_io {

using Clock = std::chrono::steady_clock;
using TDeadline = std::optional<Clock::time_point>;  // none: no limit

struct TTransfer {
  int32_t Count = 0;         // bytes moved
  bool Complete = false;     // everything asked for, in time
  bool StartFailed = false;  // the device refused before anything moved
};

// The kernel's per-device line error counters (zero for devices without).
struct TLineErrorCounts {
  int Frame = 0;
  int Parity = 0;
  int Overrun = 0;
  int Break = 0;
  int BufferOverrun = 0;
  bool operator==(const TLineErrorCounts&) const = default;
};

// Writes all bytes, then waits until the driver has sent them out, both by
// the deadline. millisecondsPerByteOnLine paces the wait for the output queue.
TTransfer WriteAll(int fd, const char* data, int32_t count, TDeadline deadline,
                   double millisecondsPerByteOnLine);

// How long a read may wait, in the meaning of the driver time-outs.
struct TReadLimits {
  bool ReturnAtOnce = false;      // take what is queued, wait for nothing
  bool WaitForFirstByte = false;  // wait (to Deadline) only while nothing came
  TDeadline Deadline;             // the whole read
  std::optional<int> GapMs;       // longest pause between bytes once some came
};
TTransfer ReadUpTo(int fd, char* data, int32_t count, const TReadLimits& limits);

// 0 or an errno.
int QueuedInputBytes(int fd, int& count);
int QueuedOutputBytes(int fd, int& count);
int ReadLineErrorCounts(int fd, TLineErrorCounts& counts);

// A device without modem lines (a pseudo-terminal) answers so.
bool IsNoModemLinesError(int err);
// A device that has gone away (hung up, unplugged) answers so.
bool IsDeviceGoneError(int err);

}  // namespace device_io
