#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// What every fuzz target shares: a property check that stops the run loudly
// (libFuzzer then keeps the input as a crash, the corpus replay fails), a
// UTF-8 test for the texts the programmer shows, and a reader that cuts one
// input into the small decisions of a structured target.

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) ::fuzz::Fail(__FILE__, __LINE__, #condition);                      \
  } while (false)

namespace fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* condition) {
  std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, condition);
  std::abort();
}

// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates, nothing above U+10FFFF.
inline bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    size_t extra = 0;
    uint32_t code = 0;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      extra = 1;
      code = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2;
      code = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3;
      code = b & 0x07;
    } else {
      return false;
    }
    if (extra >= text.size() - i) return false;  // the text ends inside the character
    for (size_t k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      code = code << 6 | (c & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

// Takes the input from the front: single bytes and numbers for decisions,
// runs of bytes for data. Past the end everything reads as zero or empty,
// so every input, the empty one too, is a valid script.
class TInput {
 public:
  TInput(const uint8_t* data, size_t size) : Data(data), Size(size) {}

  bool Empty() const { return At >= Size; }
  size_t Left() const { return Size - At; }

  uint8_t Byte() { return At < Size ? Data[At++] : 0; }
  uint16_t Word() {
    const uint16_t high = Byte();
    return static_cast<uint16_t>(high << 8 | Byte());
  }
  bool Bit() { return (Byte() & 1) != 0; }
  // A choice among count (> 0) alternatives.
  size_t Pick(size_t count) { return Byte() % count; }

  // At most max bytes, the count taken from the input first.
  std::string Bytes(size_t max) {
    const size_t want = max < 256 ? Byte() % (max + 1) : Word() % (max + 1);
    return Take(want);
  }
  std::string Take(size_t count) {
    const size_t n = count < Left() ? count : Left();
    std::string bytes(reinterpret_cast<const char*>(Data + At), n);
    At += n;
    return bytes;
  }
  std::string Rest() { return Take(Left()); }

 private:
  const uint8_t* Data;
  size_t Size;
  size_t At = 0;
};

}  // namespace fuzz
