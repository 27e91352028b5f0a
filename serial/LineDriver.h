#pragma once

#include <cstdint>

// The line settings of a serial device, on any descriptor of one: the port
// sets its line with them, and tools set the lines they open themselves.
// Part of the system's backend (serial/linux/LineDriver.cpp). Any thread; a
// descriptor is used by one thread at a time.
namespace line_driver {

enum class TParityBits { None, Odd, Even, Mark, Space };
enum class TStopBitCount { One, OneAndHalf, Two };

struct TLineSetting {
  uint32_t BitsPerSecond = 9600;
  int DataBits = 8;  // 5..8
  TParityBits Parity = TParityBits::None;
  TStopBitCount StopBits = TStopBitCount::One;
};

// Raw mode, no flow control, receiver on, modem control lines ignored; the
// rate passed unchanged. In force when it returns. Returns 0 or an errno.
int SetLine(int fd, const TLineSetting& setting);

// The control flags SetLine passes for the setting (without the rate bits).
uint32_t ControlFlags(const TLineSetting& setting);

// The rates the driver holds now. Returns 0 or an errno.
int GetRates(int fd, uint32_t& inputBitsPerSecond, uint32_t& outputBitsPerSecond);

}  // namespace line_driver
