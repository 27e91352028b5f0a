#include <gtest/gtest.h>
#include <iconv.h>

#include "engine/DisplayText.h"

namespace {

using namespace std::string_literals;

// The C library's converter is the reference for every byte it knows.
std::string ReferenceDecode(char byte) {
  iconv_t cd = iconv_open("UTF-8", "CP1251");
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  char in[1] = {byte};
  char out[8] = {};
  char* inPtr = in;
  char* outPtr = out;
  size_t inLeft = 1, outLeft = sizeof out;
  const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return {};
  return std::string(out, sizeof out - outLeft);
}

TEST(BytesToDisplayText, AgreesWithReferenceForEveryByte) {
  if (ReferenceDecode('A').empty()) GTEST_SKIP() << "no CP1251 converter in this C library";
  for (int b = 0; b < 256; ++b) {
    const std::string expected = ReferenceDecode(static_cast<char>(b));
    if (expected.empty()) continue;  // unassigned in the reference (0x98)
    EXPECT_EQ(BytesToDisplayText(std::string(1, static_cast<char>(b))), expected) << "byte " << b;
  }
}

TEST(BytesToDisplayText, CyrillicAsciiAndZeroBytes) {
  EXPECT_EQ(BytesToDisplayText("\xC2\xE5\xF0\xF1\xE8\xFF"), "Версия");
  EXPECT_EQ(BytesToDisplayText("VEQ\x00OK"s), "VEQ\0OK"s);
  EXPECT_EQ(BytesToDisplayText("\xA8\xB8"), "Ёё");
  EXPECT_EQ(BytesToDisplayText("\x98"), "\uFFFD");
}

}  // namespace
