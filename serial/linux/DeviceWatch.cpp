#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "serial/PortBackend.h"

namespace port_backend {
namespace {

int AddToWaitSet(int waitSet, int fd, uint32_t events) {
  epoll_event entry{};
  entry.events = events;
  entry.data.fd = fd;
  return ::epoll_ctl(waitSet, EPOLL_CTL_ADD, fd, &entry) == 0 ? 0 : errno;
}

}  // namespace

int TDeviceWatch::Start(int deviceFd) {
  DeviceFd = deviceFd;
  WakeFd.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!WakeFd.Valid()) return errno;
  WaitSet.Reset(::epoll_create1(EPOLL_CLOEXEC));
  if (!WaitSet.Valid()) return errno;
  if (const int err = AddToWaitSet(WaitSet.Get(), WakeFd.Get(), EPOLLIN); err != 0) return err;
  // Edge-triggered on the device: one wake-up per arrival of characters, as
  // a received-characters event, and none for bytes a handler leaves queued.
  return AddToWaitSet(WaitSet.Get(), DeviceFd, EPOLLIN | EPOLLET);
}

TDeviceWatch::TWake TDeviceWatch::Wait() {
  return WaitUpTo(-1);
}

TDeviceWatch::TWake TDeviceWatch::Poll() {
  return WaitUpTo(0);
}

TDeviceWatch::TWake TDeviceWatch::WaitUpTo(int timeoutMs) {
  epoll_event ready[2];
  for (;;) {
    const int count = ::epoll_wait(WaitSet.Get(), ready, 2, timeoutMs);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return TWake::WaitFailed;
    if (count == 0) return TWake::Nothing;
    bool gone = false;
    for (int i = 0; i < count; ++i) {
      if (ready[i].data.fd == WakeFd.Get()) return TWake::Woken;
      if (ready[i].events & (EPOLLHUP | EPOLLERR)) gone = true;
    }
    return gone ? TWake::DeviceGone : TWake::DeviceReady;
  }
}

bool TDeviceWatch::PauseUnlessWoken(int timeoutMs) {
  return platform::WaitReady(WakeFd.Get(), POLLIN, timeoutMs);
}

bool TDeviceWatch::DeviceReportsGone() const {
  pollfd device{DeviceFd, POLLIN, 0};
  if (::poll(&device, 1, 0) < 0) return errno != EINTR;
  return (device.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void TDeviceWatch::Wake() {
  const uint64_t one = 1;
  while (::write(WakeFd.Get(), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

}  // namespace port_backend
