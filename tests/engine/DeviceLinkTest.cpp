#include <gtest/gtest.h>

#include "engine/Session.h"
#include "tests/support/SessionBench.h"
#include "tests/support/SessionProbe.h"

namespace {

using namespace std::string_literals;
using TLines = std::vector<std::string>;

class DeviceLink : public ::testing::Test {
 protected:
  void OpenSerial() {
    bench.UseSerial();
    ASSERT_TRUE(session.OpenComLink());
    Probe(session).LinkMode = TLinkMode::Serial;
  }

  TSessionBench bench;
  TSession& session = bench.Session;
  TClockedWindow& window = bench.Window;
};

TEST_F(DeviceLink, NoLinkSelectedOnlyLogsAndSucceeds) {
  Probe(session).LinkMode = TLinkMode::None;
  EXPECT_TRUE(session.SendToDevice("VEQENDF"));
  EXPECT_EQ(window.Log, TLines{" MODE NONE  564551454E4446"});
  session.EnableDebugMode();
  EXPECT_TRUE(session.SendToDevice("S"));
  EXPECT_EQ(bench.LogFrom(1), (TLines{" MODE NONE  53", ">>send Char=S", ">>send Hex =53"}));
  EXPECT_TRUE(bench.Serial.Writes.empty());
  EXPECT_TRUE(bench.Udp.Sent.empty());
}

TEST_F(DeviceLink, UnattachedTransportCountsAsNoLink) {
  TRecordingWindow bare;
  TSession alone(bare);
  for (const TLinkMode mode : {TLinkMode::Serial, TLinkMode::Udp}) {
    Probe(alone).LinkMode = mode;
    EXPECT_TRUE(alone.SendToDevice("S"));
  }
  EXPECT_EQ(bare.Log, (TLines{" MODE NONE  53", " MODE NONE  53"}));
  EXPECT_FALSE(alone.OpenComLink());
  EXPECT_FALSE(alone.OpenUdpLink());
  EXPECT_TRUE(bare.Messages.empty());
}

TEST_F(DeviceLink, ClosedOrSilentSerialPortFails) {
  session.EnableDebugMode();
  Probe(session).LinkMode = TLinkMode::Serial;
  EXPECT_FALSE(session.SendToDevice("S"));  // never opened
  EXPECT_TRUE(bench.Serial.Writes.empty());
  OpenSerial();
  bench.Serial.WriteReportsZero = true;
  EXPECT_FALSE(session.SendToDevice("PROG"));
  EXPECT_EQ(bench.LogFrom(0),
            (TLines{"! error !   53", "ttyUSB0/115200/8/None/1", "! error !   50524F47"}));
}

TEST_F(DeviceLink, SerialSendTracesBytesAsDisplayText) {
  OpenSerial();
  session.EnableDebugMode();
  EXPECT_TRUE(session.SendToDevice("\xC0\x00z"s));
  ASSERT_EQ(bench.Serial.Writes.size(), 1u);
  EXPECT_EQ(bench.Serial.Writes[0].Bytes, "\xC0\x00z"s);
  EXPECT_EQ(bench.LogFrom(1), (TLines{">>send Char=А\0z"s, ">>send Hex =C0007A"}));
}

TEST_F(DeviceLink, UdpSendGoesToTheTargetAndFailuresAreSwallowed) {
  Probe(session).LinkMode = TLinkMode::Udp;
  Probe(session).UdpTargetIp = "192.168.0.254";
  session.EnableDebugMode();
  // An inactive endpoint is activated by the send itself.
  EXPECT_TRUE(session.SendToDevice("S"));
  EXPECT_TRUE(bench.Udp.Active());
  ASSERT_EQ(bench.Udp.Sent.size(), 1u);
  EXPECT_EQ(bench.Udp.Sent[0].Host, "192.168.0.254");
  EXPECT_EQ(bench.Udp.Sent[0].Port, 1001);
  bench.Udp.FailSends = true;
  EXPECT_FALSE(session.SendToDevice("PROG"));
  EXPECT_EQ(window.Log.back(), "! error !   50524F47");
  EXPECT_TRUE(window.Messages.empty());
}

TEST_F(DeviceLink, SendTxBufferSendsBlockSizeBytes) {
  Probe(session).LinkMode = TLinkMode::None;
  Probe(session).TxBuffer[0] = 0xAB;
  Probe(session).TxBuffer[1] = 0xCD;
  Probe(session).BlockSize = 0;
  session.SendTxBuffer();
  Probe(session).BlockSize = -5;
  session.SendTxBuffer();
  Probe(session).BlockSize = 2;
  session.SendTxBuffer();
  EXPECT_EQ(window.Log, (TLines{" MODE NONE  ", " MODE NONE  ", " MODE NONE  ABCD"}));
}

TEST_F(DeviceLink, SerialOpenUsesThePanelTextsAndLogsTheSummary) {
  bench.UseSerial();
  EXPECT_TRUE(session.OpenComLink());
  EXPECT_EQ(bench.Serial.OpenTexts, (TLines{"ttyUSB0", "115200", "8", "None", "1"}));
  EXPECT_EQ(window.Log, TLines{"ttyUSB0/115200/8/None/1"});
  session.CloseComLink();
  EXPECT_FALSE(bench.Serial.IsOpen());
  EXPECT_TRUE(session.CloseComLink());  // closing twice is harmless

  bench.Serial.RefuseOpen = true;
  EXPECT_FALSE(session.OpenComLink());
  EXPECT_EQ(window.Log.size(), 1u);
}

TEST_F(DeviceLink, UdpOpenTakesTheAddressAndReportsABusyPort) {
  window.SetText(TTextControl::EditIP, "127.0.0.1");
  EXPECT_TRUE(session.OpenUdpLink());
  EXPECT_EQ(Probe(session).UdpTargetIp, "127.0.0.1");
  EXPECT_EQ(bench.Udp.BoundPorts, std::vector<int>{12345});
  session.CloseUdpLink();
  EXPECT_FALSE(bench.Udp.Active());

  bench.Udp.RefuseActivate = true;
  EXPECT_FALSE(session.OpenUdpLink());
  ASSERT_EQ(window.Messages.size(), 1u);
  EXPECT_EQ(window.Messages[0].Kind, TMessageKind::Warning);
  EXPECT_EQ(window.Messages[0].Text, "Соединение не установлено. Возможно порт занят");
}

TEST_F(DeviceLink, ClosingUdpPutsTheOperatorsAddressBackOnlyForKind2) {
  Probe(session).SavedIp = "127.0.0.1";
  window.SetText(TTextControl::EditIP, "192.168.0.254");
  Probe(session).BoardKind = 1;
  session.CloseUdpLink();
  EXPECT_EQ(window.Text(TTextControl::EditIP), "192.168.0.254");
  Probe(session).BoardKind = 2;
  session.CloseUdpLink();
  EXPECT_EQ(window.Text(TTextControl::EditIP), "127.0.0.1");
}

TEST_F(DeviceLink, ConnectButtonsFollowEitherLink) {
  const auto buttons = [&] {
    session.UpdateConnectButtons();
    return std::pair(window.Buttons[TButton::ButConnect], window.Buttons[TButton::ButDisconnect]);
  };
  EXPECT_EQ(buttons(), std::pair(true, false));
  bench.UseSerial();
  session.OpenComLink();
  EXPECT_EQ(buttons(), std::pair(false, true));
  session.CloseComLink();
  session.OpenUdpLink();
  EXPECT_EQ(buttons(), std::pair(false, true));
  session.CloseUdpLink();
  EXPECT_EQ(buttons(), std::pair(true, false));
}

TEST_F(DeviceLink, SerialReceiveTracesWithTheEventsCount) {
  OpenSerial();
  session.EnableDebugMode();
  Probe(session).SessionState = TSessionState::Found;  // nothing is consumed
  bench.Serial.InjectFromDevice("\xC0OK"s, 0);
  bench.Pump();
  EXPECT_EQ(Probe(session).RxBuffer, "\xC0OK"s);
  // The driver may hold fewer bytes than the event announced.
  session.BComRxChar(5);
  EXPECT_EQ(bench.LogFrom(1), (TLines{"<<recv   char=АOK     ", "<<recv   Hex =C04F4B (3byte)",
                                      "<<recv   char=     ", "<<recv   Hex = (5byte)"}));
}

TEST_F(DeviceLink, SerialReceiveInPiecesGathersInRxBuffer) {
  OpenSerial();
  Probe(session).SessionState = TSessionState::Ready;
  bench.Serial.ReadChunk = 4;
  bench.Serial.InjectFromDevice("0123456789", 0);
  bench.Pump();
  EXPECT_EQ(bench.Serial.RxEvents, (std::vector<int>{4, 4, 2}));
  EXPECT_EQ(Probe(session).RxBuffer, "0123456789");
}

struct TSenderCase {
  std::string Target;
  std::string SenderIp;
  int SenderPort;
  bool Accepted;
};

class UdpSender : public DeviceLink, public ::testing::WithParamInterface<TSenderCase> {};

TEST_P(UdpSender, AcceptedOnlyFromTheTargetAddressAndPort) {
  const TSenderCase& c = GetParam();
  Probe(session).UdpTargetIp = c.Target;
  Probe(session).SessionState = TSessionState::Found;
  session.IdUDPServer1UDPRead("GET", c.SenderIp, c.SenderPort);
  EXPECT_EQ(Probe(session).RxBuffer, c.Accepted ? "GET" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Senders, UdpSender,
    ::testing::Values(TSenderCase{"192.168.0.254", "192.168.0.254", 1001, true},
                      TSenderCase{"192.168.0.254", "192.168.0.254", 1002, false},
                      TSenderCase{"192.168.0.254", "192.168.0.25", 1001, false},
                      // The same address however the operator typed it.
                      TSenderCase{"192.168.000.254", "192.168.0.254", 1001, true},
                      TSenderCase{"192.168.0.0254", "192.168.0.254", 1001, true},
                      TSenderCase{"localhost", "127.0.0.1", 1001, true},
                      TSenderCase{"LocalHost", "127.0.0.1", 1001, true},
                      TSenderCase{"LOCALHOST", "127.0.0.2", 1001, false},
                      // Host names and texts that are no address match as text only.
                      TSenderCase{"device.lan", "device.lan", 1001, true},
                      TSenderCase{"device.lan", "192.168.0.254", 1001, false},
                      TSenderCase{"1.2.3", "1.2.3.0", 1001, false},
                      TSenderCase{"1.2.3.4.5", "1.2.3.4", 1001, false},
                      TSenderCase{"256.1.1.1", "0.1.1.1", 1001, false},
                      TSenderCase{"1.2.3.4.", "1.2.3.4", 1001, false}));

TEST_F(DeviceLink, RejectedDatagramIsTracedWithItsSizeAndStillParsed) {
  session.EnableDebugMode();
  Probe(session).UdpTargetIp = "192.168.0.254";
  Probe(session).RxBuffer = "stale";  // idle: parsing empties it
  session.IdUDPServer1UDPRead("READY", "192.168.0.254", 1002);
  EXPECT_EQ(window.Log, (TLines{"<<recv   char=     ", "<<recv   Hex = (5byte)"}));
  EXPECT_EQ(Probe(session).RxBuffer, "");
}

}  // namespace
