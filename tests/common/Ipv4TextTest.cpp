#include "common/Ipv4Text.h"

#include <gtest/gtest.h>

namespace {

using common::TIPv4Bytes;

TEST(Ipv4Text, ReadsFourFieldsOfZeroTo255) {
  const std::pair<const char*, TIPv4Bytes> cases[] = {
      {"1.2.3.4", {1, 2, 3, 4}},
      {"0.0.0.0", {0, 0, 0, 0}},
      {"255.255.255.255", {255, 255, 255, 255}},
      {"192.168.000.254", {192, 168, 0, 254}},
      {"000000000010.0.0.7", {10, 0, 0, 7}},
  };
  for (const auto& [text, bytes] : cases) {
    EXPECT_EQ(common::ParseIPv4(text), bytes) << text;
  }
}

TEST(Ipv4Text, RefusesEverythingElse) {
  for (const char* text : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.-1", "+1.2.3.4", "a.b.c.d", "",
                           "1..2.3", "1.2.3.4 ", " 1.2.3.4", "1.2.3.", "99999999999.0.0.1"}) {
    EXPECT_EQ(common::ParseIPv4(text), std::nullopt) << text;
  }
}

TEST(Ipv4Text, FormatsWithoutLeadingZeros) {
  EXPECT_EQ(common::FormatIPv4({10, 0, 0, 7}), "10.0.0.7");
  EXPECT_EQ(common::FormatIPv4({0, 0, 0, 0}), "0.0.0.0");
}

TEST(Ipv4Text, LocalhostInAnyLetterCase) {
  EXPECT_TRUE(common::IsLocalhostName("LocalHost"));
  EXPECT_FALSE(common::IsLocalhostName("localhost."));
  EXPECT_FALSE(common::IsLocalhostName("local"));
}

}  // namespace
