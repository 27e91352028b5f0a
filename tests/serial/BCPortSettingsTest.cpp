#include <gtest/gtest.h>
#include <termios.h>

#include <cerrno>
#include <functional>
#include <string>

#include "platform/MainThread.h"
#include "serial/BCPort.h"
#include "serial/BCPortInternal.h"
#include "serial/LineDriver.h"
#include "tests/serial/ComPortError.h"
#include "tests/support/PtyPair.h"

namespace {

const std::string kWhileOpen = "Нельзя менять свойство, пока порт открыт";
const std::string kNotFound = "Попытка открыть несуществующий COM-порт";
const std::string kBusy = "Порт занят другой программой";

// What an EComPort raised by fn carried (empty text when none was raised).
struct TRaised {
  std::string Text;
  int SystemError = 0;
};
template <typename F>
TRaised Raised(F&& fn) {
  try {
    fn();
  } catch (const EComPort& e) {
    return {e.what(), e.SystemError()};
  }
  return {};
}

uint32_t DriverOutputRate(int fd) {
  uint32_t in = 0, out = 0;
  EXPECT_EQ(line_driver::GetRates(fd, in, out), 0);
  EXPECT_EQ(in, out);
  return out;
}

termios DriverSettings(int fd) {
  termios tio{};
  EXPECT_EQ(tcgetattr(fd, &tio), 0);
  return tio;
}

class BCPortSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMainThread();
    Port.SetPort(Line.SlavePath());
  }
  TPtyPair Line;
  TBComPort Port;
};

TEST(BCPortDefaults, ConstructorValues) {
  TBComPort port;
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.ByteSize(), bs8);
  EXPECT_EQ(port.InBufSize(), 2048);
  EXPECT_EQ(port.OutBufSize(), 2048);
  EXPECT_EQ(port.Parity(), paNone);
  EXPECT_EQ(port.Port(), "COM2");
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_EQ(port.StopBits(), sb1);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 0);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_EQ(port.Timeouts().Owner(), &port);
  EXPECT_EQ(port.Tag(), 0);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.DeviceHandle(), -1);
  EXPECT_EQ(PortEventsToMask(port.WaitedEvents()), 0x05BDu);
}

TEST(BCPortDefaults, RateTableFollowsMemberOrder) {
  EXPECT_EQ(BaudRateBitsPerSecond(br110), 110);
  EXPECT_EQ(BaudRateBitsPerSecond(br56000), 56000);
  EXPECT_EQ(BaudRateBitsPerSecond(br921600), 921600);
  EXPECT_EQ(BaudRateBitsPerSecond(br100), 100);
  EXPECT_EQ(BaudRateBitsPerSecond(br200), 200);
  EXPECT_EQ(static_cast<int>(br100), 17);
  EXPECT_EQ(static_cast<int>(br200), 18);
}

TEST(BCPortDefaults, EventMaskConversions) {
  const TPortEvents all{peRxChar, peTxEmpty, peRing, peCTS, peDSR, peRLSD, peError, peRx80Full};
  EXPECT_EQ(PortEventsToMask(all), 0x05BDu);
  EXPECT_EQ(PortEventsToMask({}), 0u);
  EXPECT_EQ(PortEventsToMask({peRing, peRx80Full}), 0x0500u);
  EXPECT_EQ(MaskToPortEvents(0x05BD), all);
  // Flags outside the table are ignored.
  EXPECT_EQ(MaskToPortEvents(0xFFFFFFFF), all);
  EXPECT_TRUE(MaskToPortEvents(0x0242).Empty());
  EXPECT_EQ(MaskToPortEvents(0x0081), (TPortEvents{peRxChar, peError}));
  for (uint32_t bits = 0; bits < 256; ++bits) {
    const auto set = TPortEvents::FromBits(static_cast<uint8_t>(bits));
    EXPECT_EQ(MaskToPortEvents(PortEventsToMask(set)), set);
  }
}

TEST(BCPortDefaults, BufferSizesAreMadeEven) {
  TBComPort port;
  port.SetInBufSize(2049);
  EXPECT_EQ(port.InBufSize(), 2048);
  port.SetInBufSize(4096);
  EXPECT_EQ(port.InBufSize(), 4096);
  port.SetInBufSize(-3);
  EXPECT_EQ(port.InBufSize(), -3);
  port.SetOutBufSize(1);
  EXPECT_EQ(port.OutBufSize(), 0);
  port.SetOutBufSize(2047);
  EXPECT_EQ(port.OutBufSize(), 2046);
}

TEST(BCPortDefaults, TimeoutsCopyAndFreeStandingValues) {
  TBComPort port;
  TComTimeouts values;
  EXPECT_EQ(values.Owner(), nullptr);
  values.SetReadInterval(5);
  values.SetReadTotalMultiplier(6);
  values.SetReadTotalConstant(7);
  values.SetWriteTotalMultiplier(8);
  values.SetWriteTotalConstant(9);
  port.SetTimeouts(values);
  EXPECT_EQ(port.Timeouts().ReadInterval(), 5);
  EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 6);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 7);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 8);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 9);
  EXPECT_EQ(port.Timeouts().Owner(), &port);
}

TEST_F(BCPortSettingsTest, OpenCloseAndReopen) {
  EXPECT_TRUE(Port.Open());
  EXPECT_TRUE(Port.IsOpen());
  EXPECT_GE(Port.DeviceHandle(), 0);
  const int fd = Port.DeviceHandle();
  EXPECT_TRUE(Port.Open());  // already open: nothing happens
  EXPECT_EQ(Port.DeviceHandle(), fd);
  EXPECT_TRUE(Port.Close());
  EXPECT_FALSE(Port.IsOpen());
  EXPECT_EQ(Port.DeviceHandle(), -1);
  EXPECT_TRUE(Port.Close());  // closed: nothing happens
  EXPECT_TRUE(Port.Open());
  EXPECT_TRUE(Port.IsOpen());
  EXPECT_TRUE(Port.Close());
}

TEST_F(BCPortSettingsTest, OpenWithoutADeviceIsNotFoundAndKeepsTheSystemsNumber) {
  const struct {
    const char* Name;
    int SystemError;
  } cases[] = {
      {"veq-no-such-port", ENOENT},
      {"/dev/veq-no-such-port", ENOENT},
      {"1", ENOENT},
      {"/", EISDIR},  // there, but a folder: nothing to open for writing
  };
  for (const auto& c : cases) {
    TBComPort port;
    port.SetPort(c.Name);
    const TRaised raised = Raised([&] { port.Open(); });
    EXPECT_EQ(raised.Text, kNotFound) << c.Name;
    EXPECT_EQ(raised.SystemError, c.SystemError) << c.Name;
    EXPECT_FALSE(port.IsOpen()) << c.Name;
    EXPECT_EQ(port.DeviceHandle(), -1) << c.Name;
  }
}

TEST_F(BCPortSettingsTest, SecondOpenOfTheSamePortIsBusyEvenForRoot) {
  ASSERT_TRUE(Port.Open());
  TBComPort second;
  second.SetPort(Line.SlavePath());
  const TRaised raised = Raised([&] { second.Open(); });
  EXPECT_EQ(raised.Text, kBusy);
  // Refused by the lock (root, or the flag was passed) or by the terminal's
  // exclusive flag.
  EXPECT_TRUE(raised.SystemError == EWOULDBLOCK || raised.SystemError == EBUSY)
      << raised.SystemError;
  EXPECT_FALSE(second.IsOpen());
  // Once the first lets go, the port is free again.
  Port.Close();
  EXPECT_TRUE(second.Open());
}

TEST_F(BCPortSettingsTest, DeviceThatIsNoTerminalFailsAtTheLineSettingsAndIsReleased) {
  TBComPort port;
  port.SetPort("/dev/null");
  EXPECT_EQ(ComPortError([&] { port.Open(); }), "Ошибка функции SetCommState");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.DeviceHandle(), -1);
  // Released: a second try meets the same refusal, not a busy device.
  EXPECT_EQ(ComPortError([&] { port.Open(); }), "Ошибка функции SetCommState");
}

TEST_F(BCPortSettingsTest, NegativeBufferSizeIsRefusedAtOpen) {
  Port.SetInBufSize(-3);
  EXPECT_EQ(ComPortError([&] { Port.Open(); }), "Ошибка функции SetupComm");
  EXPECT_FALSE(Port.IsOpen());
  Port.SetInBufSize(2048);
  EXPECT_TRUE(Port.Open());
  EXPECT_EQ(ComPortError([&] { Port.SetOutBufSize(-2); }), "Ошибка функции SetupComm");
  EXPECT_EQ(Port.OutBufSize(), -2);
  EXPECT_TRUE(Port.IsOpen());
}

TEST_F(BCPortSettingsTest, PortAndSyncMethodAreRefusedWhileOpen) {
  ASSERT_TRUE(Port.Open());
  const std::string path = Line.SlavePath();
  EXPECT_EQ(ComPortError([&] { Port.SetPort(path); }), kWhileOpen);
  EXPECT_EQ(ComPortError([&] { Port.SetPort("COM7"); }), kWhileOpen);
  EXPECT_EQ(Port.Port(), path);
  EXPECT_EQ(ComPortError([&] { Port.SetSyncMethod(smThreadSync); }), "");
  EXPECT_EQ(ComPortError([&] { Port.SetSyncMethod(smNone); }), kWhileOpen);
  EXPECT_EQ(Port.SyncMethod(), smThreadSync);
  Port.Close();
  Port.SetSyncMethod(smNone);
  EXPECT_EQ(Port.SyncMethod(), smNone);
}

TEST(LineDriver, ControlFlagsOfEachSetting) {
  line_driver::TLineSetting setting;
  const auto flags = [&] { return static_cast<tcflag_t>(line_driver::ControlFlags(setting)); };
  EXPECT_EQ(flags(), static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));  // no flow control
  const struct {
    line_driver::TParityBits Parity;
    tcflag_t Flags;
  } parities[] = {{line_driver::TParityBits::Odd, PARENB | PARODD},
                  {line_driver::TParityBits::Even, PARENB},
                  {line_driver::TParityBits::Mark, PARENB | CMSPAR | PARODD},
                  {line_driver::TParityBits::Space, PARENB | CMSPAR}};
  for (const auto& parity : parities) {
    setting.Parity = parity.Parity;
    EXPECT_EQ(flags() & (PARENB | PARODD | CMSPAR), parity.Flags);
  }
  const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  for (int bits = 5; bits <= 8; ++bits) {
    setting.DataBits = bits;
    EXPECT_EQ(flags() & CSIZE, sizes[bits - 5]);
  }
  setting.StopBits = line_driver::TStopBitCount::One;
  EXPECT_FALSE(flags() & CSTOPB);
  setting.StopBits = line_driver::TStopBitCount::OneAndHalf;
  EXPECT_TRUE(flags() & CSTOPB);
  setting.StopBits = line_driver::TStopBitCount::Two;
  EXPECT_TRUE(flags() & CSTOPB);
}

TEST_F(BCPortSettingsTest, LineSettingsReachTheDriverRaw) {
  Port.SetBaudRate(br115200);
  Port.SetParity(paOdd);
  Port.SetStopBits(sb2);
  ASSERT_TRUE(Port.Open());
  const int fd = Port.DeviceHandle();
  EXPECT_EQ(DriverOutputRate(fd), 115200u);
  // A pseudo-terminal forces eight data bits without parity; it keeps the
  // rest of the control flags.
  const termios tio = DriverSettings(fd);
  EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR | CSTOPB), static_cast<tcflag_t>(PARODD | CSTOPB));
  EXPECT_TRUE(tio.c_cflag & CLOCAL);
  EXPECT_FALSE(tio.c_cflag & CRTSCTS);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP | IGNBRK | BRKINT), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  // Each line property written while open reaches the driver at once.
  Port.SetParity(paSpace);
  EXPECT_EQ(DriverSettings(fd).c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(CMSPAR));
  Port.SetStopBits(sb1);
  EXPECT_FALSE(DriverSettings(fd).c_cflag & CSTOPB);
}

TEST_F(BCPortSettingsTest, BaudSwitchOnAnOpenPortIsInForceWhenTheWriteReturns) {
  ASSERT_TRUE(Port.Open());
  const int fd = Port.DeviceHandle();
  EXPECT_EQ(DriverOutputRate(fd), 9600u);
  Port.SetBaudRate(br921600);
  EXPECT_EQ(DriverOutputRate(fd), 921600u);
  Port.SetBaudRate(br9600);
  EXPECT_EQ(DriverOutputRate(fd), 9600u);
  // Rates outside the classic list go to the driver unchanged.
  for (const TBaudRate rate : {br100, br200, br14400, br56000, br128000, br256000}) {
    Port.SetBaudRate(rate);
    EXPECT_EQ(DriverOutputRate(fd), static_cast<uint32_t>(BaudRateBitsPerSecond(rate)));
  }
}

TEST_F(BCPortSettingsTest, SettingsWrittenWhileClosedWaitForOpen) {
  Port.SetBaudRate(br460800);
  Port.Timeouts().SetWriteTotalConstant(-5);
  EXPECT_EQ(Port.DriverTimeouts().WriteTotalTimeoutConstant, 0u);  // nothing applied yet
  ASSERT_TRUE(Port.Open());
  EXPECT_EQ(DriverOutputRate(Port.DeviceHandle()), 460800u);
  EXPECT_EQ(Port.DriverTimeouts().WriteTotalTimeoutConstant, kNoTimeLimit);
}

TEST_F(BCPortSettingsTest, NegativeTimeOutsReachTheDriverAsNoLimit) {
  ASSERT_TRUE(Port.Open());
  EXPECT_EQ(Port.DriverTimeouts().ReadIntervalTimeout, kNoTimeLimit);  // the default -1
  EXPECT_EQ(Port.DriverTimeouts().WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(Port.DriverTimeouts().WriteTotalTimeoutConstant, 1000u);
  Port.Timeouts().SetReadTotalConstant(-5);
  EXPECT_EQ(Port.DriverTimeouts().ReadTotalTimeoutConstant, kNoTimeLimit);
  Port.Timeouts().SetWriteTotalMultiplier(7);
  EXPECT_EQ(Port.DriverTimeouts().WriteTotalTimeoutMultiplier, 7u);
  TComTimeouts values;
  values.SetWriteTotalConstant(-1);
  Port.SetTimeouts(values);
  EXPECT_EQ(Port.DriverTimeouts().WriteTotalTimeoutConstant, kNoTimeLimit);
  EXPECT_EQ(Port.DriverTimeouts().WriteTotalTimeoutMultiplier, 100u);
}

TEST_F(BCPortSettingsTest, PseudoTerminalWithoutModemLinesIsNoFailure) {
  ASSERT_TRUE(Port.Open());
  EXPECT_EQ(ComPortError([&] { Port.SetDTRLine(true); }), "");
  EXPECT_EQ(ComPortError([&] { Port.SetRTSLine(false); }), "");
  EXPECT_TRUE(Port.LineSignals().Empty());
  EXPECT_TRUE(Port.Close());
}

TEST_F(BCPortSettingsTest, LineSettingRefusedByTheDriverKeepsTheValueAndThePortOpen) {
  ASSERT_TRUE(Port.Open());
  Line.HangUp();  // the driver refuses everything from now on
  const TRaised raised = Raised([&] { Port.SetBaudRate(br57600); });
  EXPECT_EQ(raised.Text, "Ошибка функции SetCommState");
  EXPECT_EQ(raised.SystemError, EIO);
  EXPECT_EQ(Port.BaudRate(), br57600);
  EXPECT_TRUE(Port.IsOpen());
  EXPECT_TRUE(Port.Close());
  EXPECT_FALSE(Port.IsOpen());
}

TEST_F(BCPortSettingsTest, StatusCallsOnAClosedPortFailWithTheSystemsNumber) {
  const struct {
    const char* Call;
    std::function<void()> Run;
    std::string Text;
  } cases[] = {
      {"QueuedInputCount", [&] { Port.QueuedInputCount(); }, "Ошибка функции ClearCommError"},
      {"FireError", [&] { Port.FireError(); }, "Ошибка функции ClearCommError"},
      {"LineSignals", [&] { Port.LineSignals(); }, "Ошибка функции GetCommModemStatus"},
      {"SetDTRLine", [&] { Port.SetDTRLine(false); }, "Ошибка функции EscapeCommFunction"},
      {"SetRTSLine", [&] { Port.SetRTSLine(true); }, "Ошибка функции EscapeCommFunction"},
      {"AbortTransfers", [&] { Port.AbortTransfers(); }, "Ошибка функции PurgeComm"},
  };
  for (const auto& c : cases) {
    const TRaised raised = Raised(c.Run);
    EXPECT_EQ(raised.Text, c.Text) << c.Call;
    EXPECT_EQ(raised.SystemError, EBADF) << c.Call;  // no device behind a closed port
  }
}

}  // namespace
