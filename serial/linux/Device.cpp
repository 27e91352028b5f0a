#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <utility>

#include "serial/PortBackend.h"
#include "serial/linux/LinuxDriver.h"

namespace port_backend {
namespace {

std::string DevicePath(const std::string& port) {
  return !port.empty() && port.front() == '/' ? port : "/dev/" + port;
}

// A port we may not have is as good as taken. Whatever else stops the open
// (no such path, no device behind it, not a device at all), the operator has
// no port there; the number says which.
bool IsOpenRefusedAsBusy(int err) {
  return err == EBUSY || err == EACCES || err == EPERM;
}

bool IsLockHeldElsewhere(int err) {
  return err == EWOULDBLOCK || err == EBUSY || err == EACCES;
}

// A file system that has no locks to give leaves the port to the terminal's
// exclusive flag alone; that is no refusal by another opener.
bool IsNoLockToBeHad(int err) {
  return err == ENOLCK || err == EOPNOTSUPP || err == ENOSYS;
}

TOpenResult Refused(int err, bool busy) {
  TOpenResult result;
  result.Error = err;
  result.Busy = busy;
  return result;
}

}  // namespace

TOpenResult OpenExclusive(const std::string& port) {
  platform::TUniqueFd device(
      ::open(DevicePath(port).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!device.Valid()) {
    const int err = errno;
    return Refused(err, IsOpenRefusedAsBusy(err));
  }
  // The lock refuses everyone who asks for it the same way, root included.
  // Any other answer fails the open with its number rather than leave the
  // port held without the lock.
  if (::flock(device.Get(), LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (!IsNoLockToBeHad(err)) return Refused(err, IsLockHeldElsewhere(err));
  }
  // TIOCEXCL also refuses openers that do not lock, but not root. Set only
  // once the lock is held: the flag belongs to the terminal, and setting or
  // clearing it for a port someone else holds would change theirs. A device
  // that is no terminal has no such flag; it fails at the line settings.
  ::ioctl(device.Get(), TIOCEXCL);
  TOpenResult result;
  result.Device = std::move(device);
  return result;
}

void Release(platform::TUniqueFd& device) {
  if (!device.Valid()) return;
  // The exclusive flag belongs to the terminal, not to this descriptor.
  ::ioctl(device.Get(), TIOCNXCL);
  device.Reset();
}

int CheckDevice(int fd) {
  return ::fcntl(fd, F_GETFD) < 0 ? errno : 0;
}

int SetModemOutputs(int fd, unsigned lines, bool raise) {
  int bits = ((lines & kDtr) != 0 ? TIOCM_DTR : 0) | ((lines & kRts) != 0 ? TIOCM_RTS : 0);
  if (::ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &bits) == 0) return 0;
  const int err = errno;
  return IsNoModemLinesError(err) || (!raise && IsDeviceGoneError(err)) ? 0 : err;
}

int ReadModemInputs(int fd, TModemInputs& inputs) {
  inputs = {};
  int status = 0;
  if (::ioctl(fd, TIOCMGET, &status) != 0) {
    const int err = errno;
    return IsNoModemLinesError(err) ? 0 : err;
  }
  inputs.Cts = (status & TIOCM_CTS) != 0;
  inputs.Dsr = (status & TIOCM_DSR) != 0;
  inputs.Ring = (status & TIOCM_RNG) != 0;
  inputs.Carrier = (status & TIOCM_CAR) != 0;
  return 0;
}

int QueuedInputBytes(int fd, int& count) {
  return ::ioctl(fd, FIONREAD, &count) == 0 ? 0 : errno;
}

int QueuedOutputBytes(int fd, int& count) {
  return ::ioctl(fd, TIOCOUTQ, &count) == 0 ? 0 : errno;
}

void DiscardQueues(int fd) {
  ::tcflush(fd, TCIFLUSH);
  // Only what the driver has not sent yet; a pseudo-terminal has already
  // handed every written byte to the other side, and flushing its output
  // would throw those away there.
  int unsent = 0;
  if (QueuedOutputBytes(fd, unsent) == 0 && unsent > 0) ::tcflush(fd, TCOFLUSH);
}

int ReadLineErrorCounts(int fd, TLineErrorCounts& counts) {
  serial_icounter_struct icount{};
  if (::ioctl(fd, TIOCGICOUNT, &icount) != 0) {
    const int err = errno;
    counts = {};
    return IsNoModemLinesError(err) ? 0 : err;
  }
  counts = {icount.frame, icount.parity, icount.overrun, icount.brk, icount.buf_overrun};
  return 0;
}

bool CountsLineErrors(int fd) {
  serial_icounter_struct icount{};
  return ::ioctl(fd, TIOCGICOUNT, &icount) == 0 || !IsNoModemLinesError(errno);
}

}  // namespace port_backend
