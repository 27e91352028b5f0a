#pragma once

#include <cerrno>

// How the Linux serial driver answers in the cases that are no failure of
// the port; shared by the backend's files only. Any thread.
namespace port_backend {

// A device without modem lines (a pseudo-terminal) answers so.
inline bool IsNoModemLinesError(int err) {
  return err == ENOTTY || err == EINVAL;
}

// A device that has gone away (hung up, unplugged) answers so.
inline bool IsDeviceGoneError(int err) {
  return err == EIO || err == ENODEV || err == ENXIO;
}

// What the driver holds and has not sent yet.
int QueuedOutputBytes(int fd, int& count);

}  // namespace port_backend
