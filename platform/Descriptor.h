#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// File descriptors: the one owner type and the one write-all and wait loops
// that serial devices, pseudo-terminals, sockets and files share. Any thread;
// a descriptor is used by one thread at a time.
namespace platform {

// Owns one descriptor and closes it when it goes.
class TUniqueFd {
 public:
  explicit TUniqueFd(int fd = -1) : Fd(fd) {}
  ~TUniqueFd() { Reset(); }
  TUniqueFd(TUniqueFd&& other) noexcept : Fd(other.Release()) {}
  TUniqueFd& operator=(TUniqueFd&& other) noexcept;
  TUniqueFd(const TUniqueFd&) = delete;
  TUniqueFd& operator=(const TUniqueFd&) = delete;

  int Get() const { return Fd; }
  bool Valid() const { return Fd >= 0; }
  // Hands the descriptor on; this object no longer closes it.
  int Release();
  // Closes the descriptor held (if any) and holds fd instead.
  void Reset(int fd = -1);

 private:
  int Fd;
};

// A descriptor that becomes readable once Signal() is called, from any
// thread, and stays so until Clear(): how one thread ends another's wait in
// WaitReadable at once.
class TWakeSignal {
 public:
  // Throws std::system_error when the system has no descriptor left.
  TWakeSignal();
  int Fd() const { return Fd_.Get(); }
  void Signal();
  void Clear();

 private:
  TUniqueFd Fd_;
};

using TDeadline = std::optional<std::chrono::steady_clock::time_point>;  // none: no limit

// What WriteAll moved, and why it stopped: Error is 0 when every byte went,
// ETIMEDOUT when a non-blocking descriptor stayed full up to the deadline,
// otherwise the errno of the write that failed.
struct TWriteResult {
  size_t Written = 0;
  int Error = 0;
};

// Writes all bytes, retrying after signals; on a full non-blocking
// descriptor it waits for room, but not beyond the deadline.
TWriteResult WriteAll(int fd, std::string_view bytes, TDeadline deadline = std::nullopt);

// Waits until fd reports one of events (POLLIN, POLLOUT), or timeoutMs passes
// (negative: no limit). False on time-out and when only a hang-up or an
// error came.
bool WaitReady(int fd, short events, int timeoutMs);

// Waits until one of fds has input, a hang-up or an error, or timeoutMs
// passes (negative: no limit); returns the positions in fds of those that
// do, none on time-out.
std::vector<size_t> WaitReadable(std::span<const int> fds, int timeoutMs);

// The same, waiting until a point in time to the microsecond rather than for
// whole milliseconds, for a thread that must act at a given moment (a
// simulated board answering at its line's pace). The system may still end
// the wait up to the thread's timer slack late; see UsePreciseWakeUps.
std::vector<size_t> WaitReadableUntil(std::span<const int> fds,
                                      std::chrono::steady_clock::time_point until);

// Asks the system to end the calling thread's timed waits as close to their
// time as it can, instead of gathering them up to 50 microseconds late to
// save wake-ups.
void UsePreciseWakeUps();

// One read of up to limit bytes: empty when nothing was waiting (or a
// signal came first); std::nullopt with error set when the read failed.
std::optional<std::string> ReadSome(int fd, size_t limit, int& error);

// The milliseconds left until deadline for a wait, rounded up so that one
// less than a millisecond away still waits; -1 when there is none.
int MillisecondsLeft(const TDeadline& deadline);

}  // namespace platform
