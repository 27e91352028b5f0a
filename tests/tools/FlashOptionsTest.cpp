#include <gtest/gtest.h>

#include "tools/FlashCommand.h"
#include "tools/GangRun.h"

namespace {

struct TParsed {
  std::string Error;
  TFlashOptions Options;
};

TParsed Parse(const std::vector<std::string>& args, const char* divisor = nullptr) {
  TParsed parsed;
  parsed.Error = ParseFlashOptions(args, divisor, parsed.Options);
  return parsed;
}

TEST(FlashOptions, SerialLinkDefaultsToTheSettingsFilesLine) {
  const auto parsed = Parse({"image.vqf", "--port", "ttyUSB0"});
  ASSERT_EQ(parsed.Error, "");
  const TFlashOptions& o = parsed.Options;
  EXPECT_EQ(o.Image, "image.vqf");
  EXPECT_FALSE(o.Udp);
  EXPECT_EQ(o.Port, "ttyUSB0");
  EXPECT_EQ(o.Line.Baud, "9600");
  EXPECT_EQ(o.Line.DataBits, "8");
  EXPECT_EQ(o.Line.Parity, "odd");
  EXPECT_EQ(o.Line.StopBits, "1");
  EXPECT_FALSE(o.Yes);
  EXPECT_FALSE(o.Debug);
  EXPECT_FALSE(o.Json);
  EXPECT_EQ(o.ConnectTimeoutMs, 120000) << "a run that never finds its board ends";
  EXPECT_EQ(o.TimeDivisor, 1);
}

TEST(FlashOptions, LineTextsAreTakenWhenThePortKnowsThem) {
  const auto parsed =
      Parse({"--baud", "115200", "--data-bits", "7", "--parity", "even", "--stop-bits", "1.5",
             "--port", "/dev/pts/4", "i.vqf", "--yes", "--debug", "--json"});
  ASSERT_EQ(parsed.Error, "");
  EXPECT_EQ(parsed.Options.Line.Baud, "115200");
  EXPECT_EQ(parsed.Options.Line.DataBits, "7");
  EXPECT_EQ(parsed.Options.Line.Parity, "even");
  EXPECT_EQ(parsed.Options.Line.StopBits, "1.5");
  EXPECT_TRUE(parsed.Options.Yes);
  EXPECT_TRUE(parsed.Options.Debug);
  EXPECT_TRUE(parsed.Options.Json);
  EXPECT_EQ(Parse({"i.vqf", "--udp", "127.0.0.1", "--connect-timeout", "0"}).Options.ConnectTimeoutMs,
            0)
      << "0 waits for ever";
}

TEST(FlashOptions, UdpLinkTakesPortsAndTimeOut) {
  auto parsed = Parse({"i.vqf", "--udp", "127.0.0.1"});
  ASSERT_EQ(parsed.Error, "");
  EXPECT_TRUE(parsed.Options.Udp);
  EXPECT_EQ(parsed.Options.UdpIp, "127.0.0.1");
  EXPECT_EQ(parsed.Options.UdpPort, 1001);
  EXPECT_EQ(parsed.Options.LocalPort, 12345);

  parsed = Parse({"i.vqf", "--udp", "127.0.0.1", "--udp-port", "65535", "--local-port", "0",
                  "--connect-timeout", "2.5"},
                 "25");
  ASSERT_EQ(parsed.Error, "");
  EXPECT_EQ(parsed.Options.UdpPort, 65535);
  EXPECT_EQ(parsed.Options.LocalPort, 0) << "any free port";
  EXPECT_EQ(parsed.Options.ConnectTimeoutMs, 2500);
  EXPECT_EQ(parsed.Options.TimeDivisor, 25);
}

TEST(FlashOptions, KindTwoBoardsOpenUdpOverASerialLinkTooSoItsPortsAreAccepted) {
  const auto parsed = Parse({"i.vqf", "--port", "ttyS1", "--local-port", "0"});
  ASSERT_EQ(parsed.Error, "");
  EXPECT_EQ(parsed.Options.LocalPort, 0);
}

TEST(FlashOptions, RefusesWhatCannotBeMeant) {
  const std::vector<std::vector<std::string>> bad = {
      {"--port", "ttyS0"},                               // no image
      {"a.vqf", "b.vqf", "--port", "ttyS0"},             // two images
      {"i.vqf"},                                         // no link
      {"i.vqf", "--port", "ttyS0", "--udp", "1.2.3.4"},  // two links
      {"i.vqf", "--port", ""},
      {"i.vqf", "--udp", ""},
      {"i.vqf", "--udp", "127.0.0.1", "--baud", "9600"},  // serial setting for UDP
      {"i.vqf", "--udp", "127.0.0.1", "--udp-port", "0"},
      {"i.vqf", "--udp", "127.0.0.1", "--udp-port", "65536"},
      {"i.vqf", "--udp", "127.0.0.1", "--local-port", "-1"},
      {"i.vqf", "--port", "ttyS0", "--parity", "banana"},
      {"i.vqf", "--port", "ttyS0", "--baud", "9601"},
      {"i.vqf", "--port", "ttyS0", "--data-bits", "9"},
      {"i.vqf", "--udp", "192.168.0.300"},
      {"i.vqf", "--udp", "127.0.0.1", "--connect-timeout", "-2"},
      {"i.vqf", "--udp", "127.0.0.1", "--connect-timeout", "5s"},
      {"i.vqf", "--udp", "127.0.0.1", "--connect-timeout", "nan"},
      {"i.vqf", "--udp", "127.0.0.1", "--yes", "--yes"},
      {"i.vqf", "--udp", "127.0.0.1", "--force"},
  };
  for (const auto& args : bad) {
    std::string joined;
    for (const auto& arg : args)
      joined += arg + " ";
    const std::string error = Parse(args).Error;
    EXPECT_NE(error, "") << joined;
    EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
  }
  for (const char* divisor : {"0", "1001", "ten", ""})
    EXPECT_NE(Parse({"i.vqf", "--udp", "127.0.0.1"}, divisor).Error, "") << divisor;
}

}  // namespace

namespace {

TEST(GangExitStatus, TheFailureThatRanksFirstNamesTheGang) {
  const struct {
    std::vector<int> Statuses;
    int Gang;
  } cases[] = {
      {{0, 0, 0}, 0},  {{0, 1, 0}, 1},   {{1, 3, 6}, 3},  {{5, 4, 0}, 4},
      {{6, 1}, 1},     {{7, 6}, 6},      {{130, 2}, 130}, {{2, 3}, 2},
      {{137, 0}, 137}, {{127, 5}, 5},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GangExitStatus(c.Statuses), c.Gang) << ::testing::PrintToString(c.Statuses);
  }
}

}  // namespace
