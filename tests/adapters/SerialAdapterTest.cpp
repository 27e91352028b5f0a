#include "adapters/SerialAdapter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "engine/Session.h"
#include "platform/MainLoop.h"
#include "platform/MainThread.h"
#include "tests/support/PtyPair.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/SessionProbe.h"

namespace {

class SerialAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMainThread();
    Session.AttachSerial(&Adapter);
    SetPanel(Line.SlavePath());
  }
  void SetPanel(const std::string& port) {
    Window.SetText(TTextControl::cbComN, port);
    Window.SetText(TTextControl::cbBr, "9600");
    Window.SetText(TTextControl::cbDb, "8");
    Window.SetText(TTextControl::cbPar, "none");
    Window.SetText(TTextControl::cbSb, "1");
  }
  TPtyPair Line;
  TRecordingWindow Window;
  TSession Session{Window};
  TBComPort Port;
  TSerialAdapter Adapter{Port, Session, Window};
  TMainLoop Loop;
};

TEST_F(SerialAdapterTest, SessionOpensThePortAndLogsItsSettings) {
  ASSERT_TRUE(Session.OpenComLink());
  EXPECT_TRUE(Adapter.IsOpen());
  ASSERT_FALSE(Window.Log.empty());
  EXPECT_EQ(Window.Log.back(), Line.SlavePath() + "/9600/8/none/1");
  EXPECT_EQ(Adapter.PortSettingsText(), Line.SlavePath() + "/9600/8/none/1");
  EXPECT_TRUE(Window.Messages.empty());
  Adapter.Close();
  EXPECT_FALSE(Adapter.IsOpen());
}

TEST_F(SerialAdapterTest, FailedOpenIsToldInTheWindowsWarningBox) {
  SetPanel("veq-missing-port");
  EXPECT_FALSE(Session.OpenComLink());
  ASSERT_EQ(Window.Messages.size(), 1u);
  EXPECT_EQ(Window.Messages[0].Kind, TMessageKind::Warning);
  EXPECT_EQ(Window.Messages[0].Text, "veq-missing-port не удалось открыть.");
}

TEST_F(SerialAdapterTest, EachOpenLeavesItsCauseForTheEngine) {
  TBComPort holder;
  holder.SetPort(Line.SlavePath());
  ASSERT_TRUE(holder.Open());
  const struct {
    std::string Port;
    std::vector<int> SystemErrors;  // busy: refused by the lock or by the terminal
    std::string Cause;
  } refusals[] = {
      {"veq-missing-port", {ENOENT}, "нет такого порта"},
      {Line.SlavePath(), {EWOULDBLOCK, EBUSY}, "порт занят другой программой"},
  };
  for (const auto& c : refusals) {
    Window.Messages.clear();
    EXPECT_FALSE(Adapter.OpenClosePort(true, c.Port, "9600", "8", "none", "1")) << c.Port;
    const TOpenFailure failure = Adapter.LastOpenFailure();
    EXPECT_NE(std::find(c.SystemErrors.begin(), c.SystemErrors.end(), failure.SystemError),
              c.SystemErrors.end())
        << c.Port << ": " << failure.SystemError;
    EXPECT_EQ(failure.Cause, c.Cause) << c.Port;
    ASSERT_EQ(Window.Messages.size(), 1u) << c.Port;
    EXPECT_EQ(Window.Messages[0].Text, c.Port + " не удалось открыть.");
  }
  // Once the holder lets go the open works and no cause is left over.
  holder.Close();
  ASSERT_TRUE(Adapter.OpenClosePort(true, Line.SlavePath(), "9600", "8", "none", "1"));
  EXPECT_EQ(Adapter.LastOpenFailure().SystemError, 0);
  EXPECT_EQ(Adapter.LastOpenFailure().Cause, "");
}

TEST_F(SerialAdapterTest, ReceivedBytesReachTheSessionOnTheMainThread) {
  ASSERT_TRUE(Session.OpenComLink());
  Probe(Session).SessionState = TSessionState::Searching;  // searching: the identity is parsed out of RxBuffer
  Line.Write(std::string("\0\x01VEQ123456789", 14));
  ASSERT_TRUE(Loop.RunUntil([&] { return Session.State() == TSessionState::Found; }, 2000));
  EXPECT_EQ(Probe(Session).DeviceId, "VEQ123456789");
}

TEST_F(SerialAdapterTest, BytesGoOutAndComeBackThroughTheTransport) {
  ASSERT_TRUE(Adapter.OpenClosePort(true, Line.SlavePath(), "115200", "8", "none", "1"));
  EXPECT_EQ(Adapter.SendBytes(std::string("PROG\0", 5)), 5);
  EXPECT_EQ(Line.Read(5), std::string("PROG\0", 5));
  Port.OnRxChar = nullptr;  // read by hand below
  Line.Write("READY");
  std::string got;
  for (int i = 0; i < 200 && got.size() < 5; ++i) {
    const std::string part = Adapter.ReceiveBytes(3);
    EXPECT_LE(part.size(), 3u);
    got += part;
    Loop.RunFor(1);
  }
  EXPECT_EQ(got, "READY");
  EXPECT_TRUE(Adapter.OpenClosePort(false, "", "", "", "", ""));
  EXPECT_FALSE(Adapter.IsOpen());
}

TEST_F(SerialAdapterTest, BaudRatesByNumber) {
  ASSERT_TRUE(Session.OpenComLink());
  Adapter.SetBaudRate(921600);
  EXPECT_EQ(Port.BaudRate(), br921600);
  Adapter.SetBaudRate(9600);
  EXPECT_EQ(Port.BaudRate(), br9600);
  Adapter.SetBaudRate(200);
  EXPECT_EQ(Port.BaudRate(), br200);
  Adapter.SetBaudRate(12345);  // no such rate in the table
  EXPECT_EQ(Port.BaudRate(), br9600);
}

TEST_F(SerialAdapterTest, WriteFailureEscapesToTheEngine) {
  ASSERT_TRUE(Session.OpenComLink());
  Line.HangUp();
  EXPECT_THROW(Adapter.SendBytes("S"), EComPort);
  Adapter.Close();
  EXPECT_FALSE(Adapter.IsOpen());
}

// A line that hangs up mid-run ends the run at once, not at the 60 s
// time-out; the port is released by the next tick and Disconnect still works.
TEST_F(SerialAdapterTest, AHungUpLineEndsTheRunAsALinkFailure) {
  Session.ButConnectClick();
  ASSERT_EQ(Session.State(), TSessionState::Searching);
  Line.HangUp();
  ASSERT_TRUE(Loop.RunUntil([&] { return Session.State() == TSessionState::Idle; }, 5000));
  EXPECT_EQ(Session.LastRunEnd().Outcome, TRunOutcome::LinkFailure);
  EXPECT_EQ(Window.LabProg, " Ошибка связи с устройством");
  EXPECT_EQ(Window.Log.back(), "Ошибка связи с устройством: линия оборвана. Сеанс прерван.");
  Session.Timer1Timer();
  EXPECT_FALSE(Adapter.IsOpen());
  Session.ButDisconnectClick();
  EXPECT_EQ(Window.Log.back(), "Отключено.");
}

}  // namespace
