#include "serial/uRSbcom.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/MainThread.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempDir.h"

namespace {

TEST(SettingTexts, EveryTableTextRoundTrips) {
  for (const char* text :
       {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000",
        "57600", "115200", "128000", "256000", "460800", "921600", "100", "200"}) {
    EXPECT_EQ(BaudRateToStr(StrToBaudRate(text)), text);
    EXPECT_EQ(BaudRateBitsPerSecond(StrToBaudRate(text)), std::stoi(text));
  }
  for (const char* text : {"5", "6", "7", "8"})
    EXPECT_EQ(ByteSizeToStr(StrToByteSize(text)), text);
  for (const char* text : {"none", "odd", "even", "mark", "space"}) {
    EXPECT_EQ(ParityToStr(StrToParity(text)), text);
  }
  for (const char* text : {"1", "1.5", "2"})
    EXPECT_EQ(StopBitsToStr(StrToStopBits(text)), text);
}

TEST(SettingTexts, EveryValueHasItsText) {
  for (int rate = 0; rate < kBaudRateCount; ++rate) {
    const auto member = static_cast<TBaudRate>(rate);
    EXPECT_EQ(StrToBaudRate(BaudRateToStr(member)), member);
  }
  EXPECT_EQ(StrToParity("mark"), paMark);
  EXPECT_EQ(StrToParity("space"), paSpace);
  EXPECT_EQ(StrToStopBits("1.5"), sb1_5);
  EXPECT_EQ(StrToByteSize("5"), bs5);
}

TEST(SettingTexts, TextsOutsideTheTablesFallBack) {
  EXPECT_EQ(StrToParity("Odd"), paNone);
  EXPECT_EQ(StrToStopBits("1,5"), sb1);
  EXPECT_EQ(StrToBaudRate(" 115200"), br9600);
  EXPECT_EQ(StrToBaudRate("115200 "), br9600);
  EXPECT_EQ(StrToBaudRate("9601"), br9600);
  EXPECT_EQ(StrToBaudRate(""), br9600);
  EXPECT_EQ(StrToByteSize("9"), bs8);
  EXPECT_EQ(StrToParity(""), paNone);
}

TEST(SettingTexts, ValuesWithoutAnEntryGiveTheFallBackText) {
  EXPECT_EQ(BaudRateToStr(static_cast<TBaudRate>(19)), "9600");
  EXPECT_EQ(ByteSizeToStr(static_cast<TByteSize>(4)), "8");
  EXPECT_EQ(ParityToStr(static_cast<TParity>(5)), "none");
  EXPECT_EQ(StopBitsToStr(static_cast<TStopBits>(3)), "1");
}

TEST(SettingTexts, SummaryOfAPort) {
  TBComPort port;
  EXPECT_EQ(PortSettingsText(port), "COM2/9600/8/none/1");
  port.SetPort("COM3");
  port.SetBaudRate(br115200);
  EXPECT_EQ(PortSettingsText(port), "COM3/115200/8/none/1");
  port.SetBaudRate(br100);
  port.SetStopBits(sb1_5);
  port.SetParity(paMark);
  port.SetByteSize(bs7);
  EXPECT_EQ(PortSettingsText(port), "COM3/100/7/mark/1.5");
}

TEST(SettingTexts, ApplyPortSettingsStoresEveryText) {
  TBComPort port;
  ApplyPortSettings(port, "ttyS3", "57600", "7", "even", "2");
  EXPECT_EQ(port.Port(), "ttyS3");
  EXPECT_EQ(port.BaudRate(), br57600);
  EXPECT_EQ(port.ByteSize(), bs7);
  EXPECT_EQ(port.Parity(), paEven);
  EXPECT_EQ(port.StopBits(), sb2);
}

TEST(OpenFailureCause, WordsTheSystemsNumberWithoutThePort) {
  const struct {
    int SystemError;
    std::string Cause;
  } cases[] = {
      {ENOENT, "нет такого порта"},
      {ENODEV, "нет такого порта"},
      {ENXIO, "нет такого порта"},
      {EACCES, "нет прав доступа к порту"},
      {EPERM, "нет прав доступа к порту"},
      {EBUSY, "порт занят другой программой"},
      {EWOULDBLOCK, "порт занят другой программой"},
      {EIO, "системная ошибка " + std::to_string(EIO) + " (" + std::strerror(EIO) + ")"},
      {EISDIR, "системная ошибка " + std::to_string(EISDIR) + " (" + std::strerror(EISDIR) + ")"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(OpenFailureCause(c.SystemError), c.Cause) << c.SystemError;
}

class OpenClosePortTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetMainThread(); }
  bool OpenWith(const std::string& portText, const std::string& baud = "115200") {
    return OpenClosePort(Port, 1, portText, baud, "8", "none", "1", Warn, &Failure);
  }
  bool CloseIt(uint8_t flag = 0) {
    return OpenClosePort(Port, flag, "ignored", "x", "x", "x", "x", Warn);
  }
  TPtyPair Line;
  TBComPort Port;
  std::vector<std::string> Warnings;
  TWarningBox Warn = [this](const std::string& text) { Warnings.push_back(text); };
  TPortOpenFailure Failure{-1, "not set"};
};

TEST_F(OpenClosePortTest, OpensWithTheTextsAndClosesWithoutWords) {
  EXPECT_TRUE(OpenWith(Line.SlavePath()));
  EXPECT_TRUE(Port.IsOpen());
  EXPECT_EQ(Port.BaudRate(), br115200);
  EXPECT_EQ(PortSettingsText(Port), Line.SlavePath() + "/115200/8/none/1");
  EXPECT_TRUE(CloseIt());
  EXPECT_FALSE(Port.IsOpen());
  EXPECT_EQ(Port.Port(), Line.SlavePath());  // the texts are not used to close
  EXPECT_TRUE(CloseIt(2));                   // closed already: nothing shown
  EXPECT_TRUE(Warnings.empty());
}

TEST_F(OpenClosePortTest, ReopensAnOpenPortWithNewTexts) {
  ASSERT_TRUE(OpenWith(Line.SlavePath()));
  EXPECT_TRUE(OpenWith(Line.SlavePath(), "921600"));
  EXPECT_TRUE(Port.IsOpen());
  EXPECT_EQ(Port.BaudRate(), br921600);
  EXPECT_TRUE(Warnings.empty());
}

TEST_F(OpenClosePortTest, FailedOpenShowsThePortTextOnly) {
  EXPECT_FALSE(OpenWith("1"));
  EXPECT_FALSE(OpenWith("veq-missing-port"));
  EXPECT_EQ(Warnings, (std::vector<std::string>{"1 не удалось открыть.",
                                                "veq-missing-port не удалось открыть."}));
  EXPECT_FALSE(Port.IsOpen());
}

TEST_F(OpenClosePortTest, MissingPortGivesItsCauseBesideTheSameWarning) {
  EXPECT_FALSE(OpenWith("veq-missing-port"));
  EXPECT_EQ(Failure.SystemError, ENOENT);
  EXPECT_EQ(Failure.Cause, "нет такого порта");
  EXPECT_EQ(Warnings, std::vector<std::string>{"veq-missing-port не удалось открыть."});
  // An open that works leaves no cause behind.
  ASSERT_TRUE(OpenWith(Line.SlavePath()));
  EXPECT_EQ(Failure.SystemError, 0);
  EXPECT_EQ(Failure.Cause, "");
}

TEST_F(OpenClosePortTest, BusyPortShowsTheSameWarning) {
  TBComPort other;
  other.SetPort(Line.SlavePath());
  ASSERT_TRUE(other.Open());
  EXPECT_FALSE(OpenWith(Line.SlavePath()));
  EXPECT_EQ(Warnings, std::vector<std::string>{Line.SlavePath() + " не удалось открыть."});
  EXPECT_TRUE(Failure.SystemError == EWOULDBLOCK || Failure.SystemError == EBUSY)
      << Failure.SystemError;
  EXPECT_EQ(Failure.Cause, "порт занят другой программой");
}

TEST_F(OpenClosePortTest, PortWithoutAccessGivesThePermissionCause) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens a device whatever its mode";
  TTempDir dir;
  const std::string path = dir.Write("ttyVEQ", "");
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  EXPECT_FALSE(OpenWith(path));
  EXPECT_EQ(Failure.SystemError, EACCES);
  EXPECT_EQ(Failure.Cause, "нет прав доступа к порту");
  EXPECT_EQ(Warnings, std::vector<std::string>{path + " не удалось открыть."});
}

TEST_F(OpenClosePortTest, FailureWithoutASystemNumberGivesThePortsOwnText) {
  Port.SetInBufSize(-2);  // refused at open, before any system call fails
  EXPECT_FALSE(OpenWith(Line.SlavePath()));
  EXPECT_EQ(Failure.SystemError, 0);
  EXPECT_EQ(Failure.Cause, "Ошибка функции SetupComm");
  EXPECT_EQ(Warnings, std::vector<std::string>{Line.SlavePath() + " не удалось открыть."});
}

TEST_F(OpenClosePortTest, SharedOperationFollowsAPortTaggedOne) {
  EXPECT_EQ(SharedOperation(), nullptr);
  ASSERT_TRUE(OpenWith(Line.SlavePath()));
  EXPECT_EQ(SharedOperation(), nullptr);  // Tag 0: untouched
  Port.SetTag(1);
  ASSERT_TRUE(OpenWith(Line.SlavePath()));
  EXPECT_NE(SharedOperation(), nullptr);
  EXPECT_TRUE(CloseIt());
  EXPECT_EQ(SharedOperation(), nullptr);
  // Kept even when the open fails.
  EXPECT_FALSE(OpenWith("veq-missing-port"));
  EXPECT_NE(SharedOperation(), nullptr);
  EXPECT_TRUE(CloseIt());
  EXPECT_EQ(SharedOperation(), nullptr);
}

}  // namespace
