#include <gtest/gtest.h>

#include <sstream>

#include "VeqVersion.h"
#include "tests/support/TempDir.h"
#include "tests/tools/ChildProcess.h"
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
  const struct {
    std::vector<std::string> Args;
    std::string Error;
  } cases[] = {
      {{"--bogus"}, "неизвестный параметр «--bogus»"},
      {{"--yes=1"}, "неизвестный параметр «--yes=1»"},
      {{"--port", "a", "--port=b"}, "параметр --port задан дважды"},
      {{"--yes", "--yes"}, "параметр --yes задан дважды"},
      {{"x", "--port"}, "параметру --port нужно значение"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args.front());
    EXPECT_EQ(ParseArgs(c.Args, kSpec).Error, c.Error);
  }
}

TEST(CommandLine, NumbersAreWholeDecimalsWithinTheirRange) {
  EXPECT_EQ(ParseNumber("1001", 1, 65535), 1001);
  EXPECT_EQ(ParseNumber("0", 0, 5), 0);
  EXPECT_EQ(ParseNumber("65535", 1, 65535), 65535);
  for (const char* bad : {"", "65536", "0", "-1", "+1", " 1", "1 ", "1x", "0x10", "1.5"})
    EXPECT_EQ(ParseNumber(bad, 1, 65535), std::nullopt) << bad;
}

TEST(CommandLine, HelpIsAskedOnlyBeforeADoubleDash) {
  const struct {
    std::vector<std::string> Args;
    bool Asks;
  } cases[] = {
      {{"--help"}, true},     {{"x.vqf", "-h"}, true},       {{"--port", "--help"}, true},
      {{"--", "--help"}, false}, {{"--helpx", "-hh"}, false}, {{}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    EXPECT_EQ(AsksForHelp(c.Args), c.Asks);
  }
}

TEST(CommandLine, UsageErrorNamesTheMistakeAndWhereTheHelpIs) {
  const struct {
    const char* Name;
    std::string Err;
  } cases[] = {
      {"info", "veq info: беда\nСправка: veq info --help\n"},
      {"", "veq: беда\nСправка: veq --help\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Err);
    std::ostringstream err;
    EXPECT_EQ(UsageError({c.Name, "справка"}, "беда", err), 2);
    EXPECT_EQ(err.str(), c.Err);
  }
}

// The program itself: what a script sees of the top level.
TEST(CommandLine, VeqAnswersVersionAndRefusesUnknownCommands) {
  const std::string version = std::string("veq ") + kVeqVersion + "\n";
  const struct {
    std::vector<std::string> Args;
    int Status;
    std::string Out, Err;
  } cases[] = {
      {{"--version"}, 0, version, ""},
      {{"-V"}, 0, version, ""},
      {{"flush"}, 2, "", "veq: неизвестная команда «flush»\nСправка: veq --help\n"},
      {{}, 2, "", "veq: не задана команда\nСправка: veq --help\n"},
  };
  TTempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    std::vector<std::string> argv = {VEQ_EXECUTABLE};
    argv.insert(argv.end(), c.Args.begin(), c.Args.end());
    TChildProcess veq(argv, dir.File("out"), dir.File("err"));
    EXPECT_EQ(veq.Wait(5000), c.Status);
    EXPECT_EQ(ReadFile(dir.File("out")), c.Out);
    EXPECT_EQ(ReadFile(dir.File("err")), c.Err);
  }
}

}  // namespace
