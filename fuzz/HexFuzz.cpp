// The hex helpers (engine/uStrBinHex) and the byte helpers beside them
// (engine/uByteUtils) on arbitrary bytes: bytes to hex and back is the
// identity, hex to bytes reads fixed pairs and skips a pair holding a
// non-digit without shifting the rest, letter case does not matter, and the
// table CRC step equals the bitwise CRC-16/MODBUS.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/uByteUtils.h"
#include "engine/uStrBinHex.h"
#include "fuzz/FuzzCheck.h"

namespace {

int Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string ExpectedBytes(std::string_view hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    if (Digit(hex[i]) >= 0 && Digit(hex[i + 1]) >= 0)
      bytes += static_cast<char>(Digit(hex[i]) * 16 + Digit(hex[i + 1]));
  }
  return bytes;
}

uint16_t BitwiseCrcStep(uint8_t b, uint16_t crc) {
  crc ^= b;
  for (int bit = 0; bit < 8; ++bit)
    crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
  return crc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const std::string hex = StrToHex(bytes);
  FUZZ_CHECK(hex.size() == 2 * size);
  FUZZ_CHECK(hex.find_first_not_of("0123456789ABCDEF") == std::string::npos);
  FUZZ_CHECK(HexToStr(hex) == bytes);

  // The input read as hex text.
  const std::string read = HexToStr(bytes);
  FUZZ_CHECK(read == ExpectedBytes(bytes));
  FUZZ_CHECK(read.size() <= size / 2);
  std::string upper(bytes), lower(bytes);
  for (char& c : upper)
    if (c >= 'a' && c <= 'f') c = char(c - 'a' + 'A');
  for (char& c : lower)
    if (c >= 'A' && c <= 'F') c = char(c - 'A' + 'a');
  FUZZ_CHECK(HexToStr(upper) == read && HexToStr(lower) == read);
  // A valid pair written as hex again comes out in the upper-case form.
  FUZZ_CHECK(HexToStr(StrToHex(read)) == read);

  uint16_t table = 0xFFFF, bitwise = 0xFFFF;
  for (size_t i = 0; i < size; ++i) {
    table = Crc16Update(data[i], table);
    bitwise = BitwiseCrcStep(data[i], bitwise);
    if (i + 1 < size) {
      const uint16_t high = MakeWord(data[i], data[i + 1], true);
      FUZZ_CHECK(high >> 8 == data[i] && (high & 0xFF) == data[i + 1]);
      FUZZ_CHECK(MakeWord(data[i], data[i + 1], false) == MakeWord(data[i + 1], data[i], true));
    }
  }
  FUZZ_CHECK(table == bitwise);
  return 0;
}
