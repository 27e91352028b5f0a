#include "serial/ComThread.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>

#include "platform/ErrorReport.h"

namespace {

const char* const kTextSetCommMask = "Ошибка функции SetCommMask";

// Pauses between checks of a device that has gone away: short at first, so
// that a device that comes back quickly is noticed, then no more than a few
// wake-ups a second.
constexpr int kFirstPauseMs = 5;
constexpr int kLongestPauseMs = 200;

void CloseIfOpen(int fd) {
  if (fd >= 0) close(fd);
}

}  // namespace

TComThread::TComThread(TBComPort& owner) : OwnerPort(owner) {
  StopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  PollFd = epoll_create1(EPOLL_CLOEXEC);
  // Edge-triggered on the device: one wake-up per arrival of characters, as
  // a received-characters event, and none for bytes a handler leaves queued.
  epoll_event device{};
  device.events = EPOLLIN | EPOLLET;
  device.data.fd = owner.DeviceHandle();
  epoll_event stop{};
  stop.events = EPOLLIN;
  stop.data.fd = StopFd;
  if (StopFd < 0 || PollFd < 0 || epoll_ctl(PollFd, EPOLL_CTL_ADD, StopFd, &stop) != 0 ||
      epoll_ctl(PollFd, EPOLL_CTL_ADD, owner.DeviceHandle(), &device) != 0) {
    CloseIfOpen(PollFd);
    CloseIfOpen(StopFd);
    throw EComPort(kTextSetCommMask);
  }
  device_io::ReadLineErrorCounts(owner.DeviceHandle(), LastSeenErrors);
}

TComThread::~TComThread() {
  Stop();
  CloseIfOpen(PollFd);
  CloseIfOpen(StopFd);
}

void TComThread::Stop() {
  RequestStop();
  WaitFor();
}

void TComThread::RequestStop() {
  Terminate();
  const uint64_t one = 1;
  while (write(StopFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void TComThread::Execute() {
  while (!Terminated()) {
    const TWake wake = WaitForDevice();
    if (wake == TWake::Stop || wake == TWake::WaitFailed) break;
    TPortEvents events;
    if (wake == TWake::DeviceGone || CollectEvents(events) == TWake::DeviceGone) {
      ReportHangUp();
      if (!BackOffWhileDeviceIsGone()) break;
      HangUpReported = false;  // the device is back; a new hang-up is news again
      continue;
    }
    if (!events.Empty()) Deliver(events);
  }
}

TComThread::TWake TComThread::WaitForDevice() {
  epoll_event ready[2];
  for (;;) {
    const int count = epoll_wait(PollFd, ready, 2, -1);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return TWake::WaitFailed;
    bool gone = false;
    for (int i = 0; i < count; ++i) {
      if (ready[i].data.fd == StopFd) return TWake::Stop;
      if (ready[i].events & (EPOLLHUP | EPOLLERR)) gone = true;
    }
    return gone ? TWake::DeviceGone : TWake::DeviceReady;
  }
}

TComThread::TWake TComThread::CollectEvents(TPortEvents& events) {
  const int fd = OwnerPort.DeviceHandle();
  int queued = 0;
  if (device_io::QueuedInputBytes(fd, queued) != 0) return TWake::DeviceGone;
  device_io::TLineErrorCounts counts;
  if (device_io::ReadLineErrorCounts(fd, counts) == 0 && !(counts == LastSeenErrors)) {
    LastSeenErrors = counts;
    events.Include(peError);
  }
  if (queued > 0) events.Include(peRxChar);
  return TWake::DeviceReady;
}

// The line hung up (the far end of a pseudo-terminal closed, an adapter was
// pulled out). The port is opened with CLOCAL, so this is no mere carrier
// drop; the owner hears it once, as the loss of the carrier signal, and can
// end its work at once instead of waiting for an answer that cannot come.
void TComThread::ReportHangUp() {
  if (HangUpReported || !OwnerPort.WaitedEvents().Contains(peRLSD)) return;
  HangUpReported = true;
  Deliver(TPortEvents{peRLSD});
}

bool TComThread::BackOffWhileDeviceIsGone() {
  int pauseMs = kFirstPauseMs;
  for (;;) {
    if (WaitForStop(pauseMs)) return false;
    if (!DeviceReportsGone()) return true;
    pauseMs = std::min(pauseMs * 2, kLongestPauseMs);
  }
}

bool TComThread::WaitForStop(int timeoutMs) {
  pollfd stop{StopFd, POLLIN, 0};
  const int ready = poll(&stop, 1, timeoutMs);
  return ready > 0 || Terminated();
}

bool TComThread::DeviceReportsGone() {
  pollfd device{OwnerPort.DeviceHandle(), POLLIN, 0};
  if (poll(&device, 1, 0) < 0) return errno != EINTR;
  return (device.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void TComThread::Deliver(TPortEvents events) {
  PendingEvents = events;
  // A handler that fails does not end reception: the failure is reported and
  // the next characters are delivered as usual.
  try {
    switch (OwnerPort.SyncMethod()) {
      case smThreadSync:
        Synchronize([this] { OwnerPort.DispatchEvents(PendingEvents); });
        break;
      case smWindowSync:
        OwnerPort.PostEventsToWindow(PendingEvents);
        break;
      case smNone:
        OwnerPort.DispatchEvents(PendingEvents);
        break;
    }
  } catch (const std::exception& e) {
    platform::ReportError(e.what());
  } catch (...) {
    platform::ReportError("unknown exception in a serial port event handler");
  }
}
