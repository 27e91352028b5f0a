#include <gtest/gtest.h>

#include "tools/CommandLine.h"

namespace {

const TKnownOptions kSpec = {{"--port", "-o"}, {"--yes"}};

TEST(CommandLine, TakesValuesFlagsAndOperandsInAnyOrder) {
  const auto parsed = ParseArgs({"image.vqf", "--port", "ttyS0", "--yes", "-o=out", "more"}, kSpec);
  EXPECT_EQ(parsed.Error, "");
  EXPECT_EQ(parsed.Value("--port"), "ttyS0");
  EXPECT_EQ(parsed.Value("-o"), "out");
  EXPECT_TRUE(parsed.Has("--yes"));
  EXPECT_FALSE(parsed.Has("--missing"));
  EXPECT_EQ(parsed.Value("--missing", "fallback"), "fallback");
  EXPECT_EQ(parsed.Operands, (std::vector<std::string>{"image.vqf", "more"}));
}

TEST(CommandLine, ValuesMayLookLikeOptionsOrBeEmpty) {
  auto parsed = ParseArgs({"--port", "--yes"}, kSpec);
  EXPECT_EQ(parsed.Value("--port"), "--yes");
  EXPECT_FALSE(parsed.Flags.count("--yes"));
  parsed = ParseArgs({"--port="}, kSpec);
  EXPECT_EQ(parsed.Error, "");
  EXPECT_TRUE(parsed.Has("--port"));
  EXPECT_EQ(parsed.Value("--port", "x"), "");
}

TEST(CommandLine, DoubleDashAndLoneDashAreOperands) {
  const auto parsed = ParseArgs({"-", "--", "--port", "-o"}, kSpec);
  EXPECT_EQ(parsed.Error, "");
  EXPECT_EQ(parsed.Operands, (std::vector<std::string>{"-", "--port", "-o"}));
}

TEST(CommandLine, RefusesUnknownRepeatedAndIncompleteOptions) {
  EXPECT_EQ(ParseArgs({"--bogus"}, kSpec).Error, "unknown option '--bogus'");
  EXPECT_EQ(ParseArgs({"--yes=1"}, kSpec).Error, "unknown option '--yes=1'");
  EXPECT_EQ(ParseArgs({"--port", "a", "--port=b"}, kSpec).Error,
            "option --port given more than once");
  EXPECT_EQ(ParseArgs({"--yes", "--yes"}, kSpec).Error, "option --yes given more than once");
  EXPECT_EQ(ParseArgs({"x", "--port"}, kSpec).Error, "option --port needs a value");
}

TEST(CommandLine, NumbersAreWholeDecimalsWithinTheirRange) {
  EXPECT_EQ(ParseNumber("1001", 1, 65535), 1001);
  EXPECT_EQ(ParseNumber("0", 0, 5), 0);
  EXPECT_EQ(ParseNumber("65535", 1, 65535), 65535);
  for (const char* bad : {"", "65536", "0", "-1", "+1", " 1", "1 ", "1x", "0x10", "1.5"})
    EXPECT_EQ(ParseNumber(bad, 1, 65535), std::nullopt) << bad;
}

}  // namespace
