#include <gtest/gtest.h>

#include "engine/uByteUtils.h"
#include "engine/uStrBinHex.h"

namespace {

using namespace std::string_literals;

TEST(HexToStr, ReadsFixedPairsInEitherCase) {
  EXPECT_EQ(HexToStr(""), "");
  EXPECT_EQ(HexToStr("0aFF"), "\x0A\xFF"s);
  EXPECT_EQ(HexToStr("7E0009AABBCCD47E"), "\x7E\x00\x09\xAA\xBB\xCC\xD4\x7E"s);
}

TEST(HexToStr, IgnoresLastUnpairedCharacter) {
  EXPECT_EQ(HexToStr("123"), "\x12"s);
}

TEST(HexToStr, SeparatorSpoilsItsPairWithoutShiftingLaterPairs) {
  EXPECT_EQ(HexToStr("1 23"), "\x23"s);
  EXPECT_EQ(HexToStr("12 34"), "\x12"s);
  EXPECT_EQ(HexToStr("G1"), "");
}

TEST(StrToHex, TwoUpperCaseDigitsPerByteZeroIncluded) {
  EXPECT_EQ(StrToHex("\x00\x7F\xAB"s), "007FAB");
  EXPECT_EQ(StrToHex(""), "");
  EXPECT_EQ(StrToHex("VEQENDF"), "564551454E4446");
}

TEST(HexRoundTrip, EveryByteValue) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  EXPECT_EQ(HexToStr(StrToHex(all)), all);
}

TEST(MakeWord, OrderFlagChoosesHighByte) {
  EXPECT_EQ(MakeWord(0x12, 0x34, true), 0x1234);
  EXPECT_EQ(MakeWord(0x12, 0x34, false), 0x3412);
}

TEST(Crc16, TableIsTheReflectedA001Table) {
  static_assert(Crc16Table[0] == 0x0000 && Crc16Table[1] == 0xC0C1);
  EXPECT_EQ(Crc16Table[2], 0xC181);
  EXPECT_EQ(Crc16Table[3], 0x0140);
  EXPECT_EQ(Crc16Table[255], 0x4040);
}

TEST(Crc16, ModbusCheckValueOfDigitsOneToNine) {
  uint16_t crc = 0xFFFF;
  for (char c : std::string("123456789"))
    crc = Crc16Update(static_cast<uint8_t>(c), crc);
  EXPECT_EQ(crc, 0x4B37);
}

}  // namespace
