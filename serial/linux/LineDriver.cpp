// A file of its own: any bit rate needs the kernel's own termios layout
// (BOTHER), which cannot share a translation unit with <termios.h>.
#include "serial/LineDriver.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace line_driver {
namespace {

tcflag_t DataBitsFlag(int dataBits) {
  switch (dataBits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

tcflag_t ParityFlags(TParityBits parity) {
  switch (parity) {
    case TParityBits::Odd:
      return PARENB | PARODD;
    case TParityBits::Even:
      return PARENB;
    // Stick parity: the parity bit is always 1 (mark) or 0 (space).
    case TParityBits::Mark:
      return PARENB | CMSPAR | PARODD;
    case TParityBits::Space:
      return PARENB | CMSPAR;
    case TParityBits::None:
      break;
  }
  return 0;
}

tcflag_t StopBitsFlag(TStopBitCount stopBits) {
  // There is no 1.5 setting; a UART sends 1.5 stop bits for 5-bit characters
  // when asked for two, which is where 1.5 is used at all.
  return stopBits == TStopBitCount::One ? 0 : CSTOPB;
}

}  // namespace

uint32_t ControlFlags(const TLineSetting& setting) {
  return CREAD | CLOCAL | DataBitsFlag(setting.DataBits) | ParityFlags(setting.Parity) |
         StopBitsFlag(setting.StopBits);
}

int SetLine(int fd, const TLineSetting& setting) {
  // Built from zero on every call: nothing of the driver's previous state
  // (echo, line editing, flow control) survives.
  struct termios2 tio {};
  tio.c_iflag = setting.Parity == TParityBits::None ? 0 : INPCK;
  tio.c_oflag = 0;
  tio.c_lflag = 0;
  tio.c_cflag = BOTHER | (BOTHER << IBSHIFT) | ControlFlags(setting);
  tio.c_ispeed = setting.BitsPerSecond;
  tio.c_ospeed = setting.BitsPerSecond;
  // The descriptor is non-blocking; one character minimum makes an empty
  // queue answer EAGAIN, so that end of file means the line has hung up.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return ioctl(fd, TCSETS2, &tio) == 0 ? 0 : errno;
}

int GetRates(int fd, uint32_t& inputBitsPerSecond, uint32_t& outputBitsPerSecond) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
  inputBitsPerSecond = tio.c_ispeed;
  outputBitsPerSecond = tio.c_ospeed;
  return 0;
}

}  // namespace line_driver
