#include "platform/Descriptor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

namespace platform {
namespace {

bool Expired(const TDeadline& deadline) {
  return deadline && std::chrono::steady_clock::now() >= *deadline;
}

int PollRetryingAfterSignals(pollfd* entries, size_t count, int timeoutMs) {
  for (;;) {
    const int ready = ::poll(entries, count, timeoutMs);
    if (ready >= 0 || errno != EINTR) return ready;
  }
}

timespec TimeLeftUntil(std::chrono::steady_clock::time_point until) {
  const auto left = std::max(std::chrono::steady_clock::duration::zero(),
                             until - std::chrono::steady_clock::now());
  const auto seconds = std::chrono::floor<std::chrono::seconds>(left);
  return {static_cast<time_t>(seconds.count()),
          static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
}

// A signal ends the wait early; the time left is counted again from now.
int PollRetryingUntil(pollfd* entries, size_t count, std::chrono::steady_clock::time_point until) {
  for (;;) {
    const timespec left = TimeLeftUntil(until);
    const int ready = ::ppoll(entries, count, &left, nullptr);
    if (ready >= 0 || errno != EINTR) return ready;
  }
}

std::vector<pollfd> ReadableEntries(std::span<const int> fds) {
  std::vector<pollfd> entries;
  entries.reserve(fds.size());
  for (const int fd : fds)
    entries.push_back({fd, POLLIN, 0});
  return entries;
}

std::vector<size_t> ReadyPositions(const std::vector<pollfd>& entries) {
  std::vector<size_t> ready;
  for (size_t i = 0; i < entries.size(); ++i) {
    if ((entries[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) ready.push_back(i);
  }
  return ready;
}

}  // namespace

TUniqueFd& TUniqueFd::operator=(TUniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int TUniqueFd::Release() {
  return std::exchange(Fd, -1);
}

void TUniqueFd::Reset(int fd) {
  if (Fd >= 0) ::close(Fd);
  Fd = fd;
}

TWakeSignal::TWakeSignal() : Fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!Fd_.Valid()) throw std::system_error(errno, std::generic_category(), "eventfd");
}

void TWakeSignal::Signal() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(Fd_.Get(), &one, sizeof one);
}

void TWakeSignal::Clear() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = ::read(Fd_.Get(), &count, sizeof count);
}

int MillisecondsLeft(const TDeadline& deadline) {
  if (!deadline) return -1;
  const auto left = *deadline - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

TWriteResult WriteAll(int fd, std::string_view bytes, TDeadline deadline) {
  TWriteResult result;
  while (result.Written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + result.Written, bytes.size() - result.Written);
    if (n > 0) {
      result.Written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!Expired(deadline) && WaitReady(fd, POLLOUT, MillisecondsLeft(deadline))) continue;
      result.Error = ETIMEDOUT;
      return result;
    }
    // A write of zero bytes to a descriptor that is not full moves nothing
    // and never will.
    result.Error = n < 0 ? errno : EIO;
    return result;
  }
  return result;
}

bool WaitReady(int fd, short events, int timeoutMs) {
  pollfd entry{fd, events, 0};
  const int ready = PollRetryingAfterSignals(&entry, 1, timeoutMs);
  return ready > 0 && (entry.revents & events) != 0;
}

std::vector<size_t> WaitReadable(std::span<const int> fds, int timeoutMs) {
  std::vector<pollfd> entries = ReadableEntries(fds);
  if (PollRetryingAfterSignals(entries.data(), entries.size(), timeoutMs) <= 0) return {};
  return ReadyPositions(entries);
}

std::vector<size_t> WaitReadableUntil(std::span<const int> fds,
                                      std::chrono::steady_clock::time_point until) {
  std::vector<pollfd> entries = ReadableEntries(fds);
  if (PollRetryingUntil(entries.data(), entries.size(), until) <= 0) return {};
  return ReadyPositions(entries);
}

// The slack is the thread's own; 1 ns is the least the system takes (0
// would mean "the default" again).
void UsePreciseWakeUps() {
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

std::optional<std::string> ReadSome(int fd, size_t limit, int& error) {
  std::string bytes(limit, '\0');
  const ssize_t n = ::read(fd, bytes.data(), bytes.size());
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    return std::string();
  }
  if (n < 0) {
    error = errno;
    return std::nullopt;
  }
  bytes.resize(static_cast<size_t>(n));
  return bytes;
}

}  // namespace platform
