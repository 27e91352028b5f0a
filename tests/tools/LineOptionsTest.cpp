#include <gtest/gtest.h>

#include "tools/LineOptions.h"

namespace {

TParsedArgs Args(const std::vector<std::string>& words) {
  return ParseArgs(words, {{"--baud", "--data-bits", "--parity", "--stop-bits", "--udp-port"}, {}});
}

TEST(LineOptions, KeepsTheDefaultsAndTakesEveryTextThePortKnows) {
  TLineTexts line;
  EXPECT_EQ(ReadLineOptions(Args({}), line), "");
  EXPECT_EQ(std::vector<std::string>({line.Baud, line.DataBits, line.Parity, line.StopBits}),
            std::vector<std::string>({"9600", "8", "odd", "1"}));
  const struct {
    std::vector<std::string> Words;
    std::vector<std::string> Line;
  } cases[] = {
      {{"--baud", "115200", "--data-bits", "7", "--parity", "even", "--stop-bits", "2"},
       {"115200", "7", "even", "2"}},
      {{"--baud=100", "--data-bits=5", "--parity=none", "--stop-bits=1.5"},
       {"100", "5", "none", "1.5"}},
      {{"--baud", "921600", "--parity", "mark"}, {"921600", "8", "mark", "1"}},
      {{"--parity", "space"}, {"9600", "8", "space", "1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Words));
    line = {};
    EXPECT_EQ(ReadLineOptions(Args(c.Words), line), "");
    EXPECT_EQ(std::vector<std::string>({line.Baud, line.DataBits, line.Parity, line.StopBits}),
              c.Line);
  }
}

TEST(LineOptions, RefusesTextsThatWouldBecomeDefaults) {
  const struct {
    std::vector<std::string> Words;
    std::string Error;
  } cases[] = {
      {{"--baud", "9601"},
       "--baud «9601»: такой скорости порт не знает; можно 100, 110, 200, 300, 600, 1200, "
       "2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000, 460800, "
       "921600"},
      {{"--baud", "fast"}, "--baud «fast»: нужно целое число от 50 до 4000000"},
      {{"--baud", "49"}, "--baud «49»: нужно целое число от 50 до 4000000"},
      {{"--baud", "4000001"}, "--baud «4000001»: нужно целое число от 50 до 4000000"},
      {{"--data-bits", "9"}, "--data-bits «9»: можно 5, 6, 7, 8"},
      {{"--data-bits", "08"}, "--data-bits «08»: можно 5, 6, 7, 8"},
      {{"--parity", "banana"}, "--parity «banana»: можно none, odd, even, mark, space"},
      {{"--parity", "ODD"}, "--parity «ODD»: можно none, odd, even, mark, space"},
      {{"--stop-bits", "3"}, "--stop-bits «3»: можно 1, 1.5, 2"},
      {{"--stop-bits", ""}, "--stop-bits «»: можно 1, 1.5, 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Words));
    TLineTexts line;
    EXPECT_EQ(ReadLineOptions(Args(c.Words), line), c.Error);
  }
}

TEST(LineOptions, PortsAreWholeNumbersUpTo65535) {
  const struct {
    std::vector<std::string> Words;
    int64_t Min;
    std::string Error;
    uint16_t Port;
  } cases[] = {
      {{}, 1, "", 1001},
      {{"--udp-port", "65535"}, 1, "", 65535},
      {{"--udp-port", "0"}, 0, "", 0},
      {{"--udp-port", "0"}, 1, "--udp-port «0»: нужен номер порта от 1 до 65535", 1001},
      {{"--udp-port", "65536"}, 0, "--udp-port «65536»: нужен номер порта от 0 до 65535", 1001},
      {{"--udp-port", "12a"}, 1, "--udp-port «12a»: нужен номер порта от 1 до 65535", 1001},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Words));
    uint16_t port = 1001;
    EXPECT_EQ(ReadPortOption(Args(c.Words), "--udp-port", c.Min, port), c.Error);
    EXPECT_EQ(port, c.Port);
  }
}

TEST(LineOptions, HostsAreDottedAddressesOrNamesOfOne) {
  const std::string notAddress = ": это не адрес IPv4 (четыре числа 0–255 через точку)";
  const struct {
    std::string Host;
    std::string Error;
    std::string Ip;
  } cases[] = {
      {"127.0.0.1", "", "127.0.0.1"},
      {"0.0.0.0", "", "0.0.0.0"},
      {"255.255.255.255", "", "255.255.255.255"},
      {"localhost", "", "127.0.0.1"},
      {"192.168.0.300", "--udp «192.168.0.300»" + notAddress, ""},
      {"1.2.3", "--udp «1.2.3»" + notAddress, ""},
      {"1.2.3.4.5", "--udp «1.2.3.4.5»" + notAddress, ""},
      {"1.2..4", "--udp «1.2..4»" + notAddress, ""},
      {"01.2.3.4", "--udp «01.2.3.4»" + notAddress, ""},
      {"1234", "--udp «1234»" + notAddress, ""},
      {"", "--udp «»" + notAddress, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Host);
    std::string ip;
    EXPECT_EQ(ResolveHostText("--udp", c.Host, ip), c.Error);
    EXPECT_EQ(ip, c.Ip);
    EXPECT_EQ(CheckHostText("--udp", c.Host), c.Error);
  }
}

}  // namespace
