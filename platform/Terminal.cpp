#include "platform/Terminal.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace platform {
namespace {

[[noreturn]] void ThrowSystemError(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

bool IsTerminal(int fd) {
  return ::isatty(fd) != 0;
}

int TerminalColumns(int fd, int fallback) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return fallback;
}

void MakeRaw(int fd) {
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) return;
  ::cfmakeraw(&settings);
  ::tcsetattr(fd, TCSANOW, &settings);
}

TPseudoTerminal OpenPseudoTerminal() {
  TPseudoTerminal terminal;
  terminal.Main.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!terminal.Main.Valid()) ThrowSystemError("posix_openpt");
  char name[128];
  if (::grantpt(terminal.Main.Get()) != 0 || ::unlockpt(terminal.Main.Get()) != 0 ||
      ::ptsname_r(terminal.Main.Get(), name, sizeof name) != 0) {
    ThrowSystemError("pseudo-terminal");
  }
  terminal.Path = name;
  terminal.Other.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!terminal.Other.Valid()) ThrowSystemError("open " + terminal.Path);
  MakeRaw(terminal.Other.Get());
  MakeRaw(terminal.Main.Get());
  return terminal;
}

TUniqueFd OpenTerminalDevice(const std::string& path) {
  TUniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) ThrowSystemError("open " + path);
  return fd;
}

}  // namespace platform
