#pragma once

#include <array>
#include <cstdint>

// Builds a 16-bit value from two bytes; with highFirst the first byte is the
// high byte (how every 16-bit field of an image is stored).
constexpr uint16_t MakeWord(uint8_t first, uint8_t second, bool highFirst) {
  return highFirst ? static_cast<uint16_t>(first << 8 | second)
                   : static_cast<uint16_t>(second << 8 | first);
}

namespace detail {

// Entry i is i after eight shift-right steps, XOR-ing 0xA001 in whenever a
// one is shifted out: the reflected CRC-16 polynomial.
constexpr std::array<uint16_t, 256> BuildCrc16Table() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned value = i;
    for (int step = 0; step < 8; ++step)
      value = (value & 1) ? (value >> 1) ^ 0xA001 : value >> 1;
    table[i] = static_cast<uint16_t>(value);
  }
  return table;
}

}  // namespace detail

// Evaluated by the compiler: the table is constant data, nothing runs at start-up.
inline constexpr std::array<uint16_t, 256> Crc16Table = detail::BuildCrc16Table();

// One step of CRC-16/MODBUS: start at 0xFFFF, one call per byte, no final XOR.
constexpr uint16_t Crc16Update(uint8_t b, uint16_t crc) {
  return static_cast<uint16_t>((crc >> 8) ^ Crc16Table[(crc ^ b) & 0xFF]);
}
