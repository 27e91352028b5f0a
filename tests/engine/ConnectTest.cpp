#include <gtest/gtest.h>

#include <algorithm>

#include "engine/Session.h"
#include "engine/uStrBinHex.h"
#include "tests/engine/TestImages.h"
#include "tests/support/SessionBench.h"
#include "tests/support/SessionProbe.h"

namespace {

using namespace std::string_literals;
using TLines = std::vector<std::string>;

const std::string kDefaultWakeUp = HexToStr("7E7E0009AABBCCD47E");
const std::string kKufxWakeUp = HexToStr("3505AABB013BD8");
const std::string kOxrWakeUp = HexToStr("7E0009AABBCCD47E");

class Connect : public ::testing::Test {
 protected:
  size_t ProbesSent() const {
    return std::count_if(bench.Serial.Writes.begin(), bench.Serial.Writes.end(),
                         [](const auto& write) { return write.Bytes == "S"; });
  }

  TSessionBench bench;
  TSession& session = bench.Session;
  TClockedWindow& window = bench.Window;
};

TEST_F(Connect, OpensTheSerialLinkAndWakesAnOrdinaryBoard) {
  bench.UseSerial();
  window.Log = {"old line"};
  bench.Connect();
  EXPECT_EQ(session.State(), TSessionState::Searching);
  EXPECT_EQ(window.Log, TLines{"Ожидание..."});  // the port summary is cleared too
  EXPECT_EQ(window.LabProg, " Выключите и включите устройство.");
  EXPECT_EQ(window.TimerInterval, 50);
  EXPECT_FALSE(window.Buttons[TButton::ButConnect]);
  EXPECT_TRUE(window.Buttons[TButton::ButDisconnect]);
  ASSERT_EQ(bench.Serial.Writes.size(), 1u);
  EXPECT_EQ(bench.Serial.Writes[0].Bytes, kDefaultWakeUp);
  EXPECT_EQ(bench.Serial.Writes[0].Baud, 115200);
  EXPECT_TRUE(bench.Serial.BaudChanges.empty());
  EXPECT_EQ(window.Sleeps, std::vector<int>{300});
  EXPECT_EQ(Probe(session).SavedIp, "192.168.0.254");
}

TEST_F(Connect, DebugModeTracesTheWakeUp) {
  bench.UseSerial();
  session.EnableDebugMode();
  bench.Connect();
  EXPECT_EQ(window.Log, (TLines{"Debug mode", "Ожидание...", ">>send Char=~~\0\tЄ»МФ~"s,
                                ">>send Hex =7E7E0009AABBCCD47E"}));
}

TEST_F(Connect, Kind1WakesAtBothRatesAndStaysAt9600) {
  bench.UseSerial();
  Probe(session).BoardKind = 1;
  bench.Connect();
  EXPECT_EQ(bench.Serial.BaudChanges, (std::vector<int>{921600, 9600}));
  ASSERT_EQ(bench.Serial.Writes.size(), 2u);
  EXPECT_EQ(bench.Serial.Writes[0].Bytes, kKufxWakeUp);
  EXPECT_EQ(bench.Serial.Writes[0].Baud, 921600);
  EXPECT_EQ(bench.Serial.Writes[1].Bytes, kKufxWakeUp);
  EXPECT_EQ(bench.Serial.Writes[1].Baud, 9600);
  EXPECT_EQ(bench.Serial.Writes[1].AtMs - bench.Serial.Writes[0].AtMs, 500);
  EXPECT_EQ(window.Sleeps, (std::vector<int>{500, 300}));
  ASSERT_TRUE(bench.TickUntil([&] { return session.State() == TSessionState::Ready; }, 10) >= 0);
  EXPECT_EQ(bench.Serial.Writes[2].Bytes, "S");
  EXPECT_EQ(bench.Serial.Writes[2].Baud, 9600);
}

TEST_F(Connect, Kind1OverUdpSendsTwiceAndStillSetsTheSerialRate) {
  bench.UseUdp("192.168.0.254");
  Probe(session).BoardKind = 1;
  bench.Connect();
  ASSERT_EQ(bench.Udp.Sent.size(), 2u);
  EXPECT_EQ(bench.Udp.Sent[0].Bytes, kKufxWakeUp);
  EXPECT_EQ(bench.Udp.Sent[1].Bytes, kKufxWakeUp);
  EXPECT_EQ(bench.Udp.Sent[1].AtMs - bench.Udp.Sent[0].AtMs, 500);
  EXPECT_EQ(bench.Serial.BaudChanges, (std::vector<int>{921600, 9600}));
  EXPECT_TRUE(bench.Serial.Writes.empty());
}

TEST_F(Connect, Kind2OverSerialAlsoOpensUdpTowardTheFixedAddress) {
  bench.UseSerial();
  window.SetText(TTextControl::EditIP, "127.0.0.1");
  Probe(session).BoardKind = 2;
  bench.Connect();
  ASSERT_EQ(bench.Serial.Writes.size(), 1u);
  EXPECT_EQ(bench.Serial.Writes[0].Bytes, kOxrWakeUp);
  EXPECT_TRUE(bench.Udp.Active());
  EXPECT_EQ(Probe(session).UdpTargetIp, "192.168.0.254");
  EXPECT_EQ(window.Text(TTextControl::EditIP), "192.168.0.254");
  EXPECT_EQ(window.Sleeps, std::vector<int>{300});
  // The search goes on over the serial link.
  ASSERT_GE(bench.TickUntil([&] { return session.State() == TSessionState::Ready; }, 10), 0);
  EXPECT_EQ(bench.Serial.Writes.back().Bytes, "PROG");
  EXPECT_TRUE(bench.Udp.Sent.empty());

  bench.Disconnect();
  EXPECT_EQ(window.Text(TTextControl::EditIP), "127.0.0.1");
  EXPECT_FALSE(bench.Udp.Active());
  EXPECT_FALSE(bench.Serial.IsOpen());
}

TEST_F(Connect, Kind2OverUdpWakesTheTypedAddressThenSearchesTheFixedOne) {
  bench.UseUdp("127.0.0.1");
  Probe(session).BoardKind = 2;
  bench.Connect();
  ASSERT_EQ(bench.Udp.Sent.size(), 1u);
  EXPECT_EQ(bench.Udp.Sent[0].Host, "127.0.0.1");
  EXPECT_EQ(bench.Udp.Sent[0].Bytes, kOxrWakeUp);
  EXPECT_EQ(bench.Udp.BoundPorts, (std::vector<int>{12345, 12345}));  // closed and reopened
  ASSERT_TRUE(bench.TickUntil([&] { return session.State() == TSessionState::Ready; }, 10) >= 0);
  EXPECT_EQ(bench.Udp.Sent[1].Host, "192.168.0.254");
  EXPECT_EQ(bench.Udp.Sent[1].Bytes, "S");

  // The idle tick after a session also puts the typed address back.
  Probe(session).SessionState = TSessionState::Idle;
  bench.Tick();
  EXPECT_FALSE(bench.Udp.Active());
  EXPECT_EQ(window.Text(TTextControl::EditIP), "127.0.0.1");
}

TEST_F(Connect, SearchProbesEveryTickUntilTheIdentityThenAsksForProgrammingMode) {
  bench.UseSerial();
  bench.Connect();
  bench.Tick();
  EXPECT_EQ(ProbesSent(), 1u);
  EXPECT_EQ(session.State(), TSessionState::Searching);
  bench.Pump();  // the answer to the probe
  EXPECT_EQ(session.State(), TSessionState::Found);
  EXPECT_EQ(Probe(session).DeviceId, "VEQKUFX01105");
  EXPECT_EQ(window.LabProg, "VEQKUFX01105");
  bench.Tick();
  EXPECT_EQ(session.State(), TSessionState::ProgSent);
  EXPECT_EQ(bench.Serial.Writes.back().Bytes, "PROG");
  EXPECT_EQ(ProbesSent(), 1u);
  bench.Pump();
  EXPECT_EQ(session.State(), TSessionState::Ready);
  EXPECT_EQ(window.LabProg, "VEQKUFX01105 Устройство готово к записи.");
  EXPECT_FALSE(window.Buttons[TButton::ButStart]);
  bench.Tick();
  EXPECT_TRUE(window.Buttons[TButton::ButStart]);
  EXPECT_EQ(window.Log, (TLines{"Ожидание...", "Обнаружено устройство VEQKUFX01105",
                                "Устройство готово к записи."}));
}

TEST_F(Connect, IdentityAfterOtherBytesIsFound) {
  TDeviceModel::TSettings device;
  device.Noise = "\r\nboot 1.2\r\n";
  bench.Device.SetSettings(device);
  bench.UseSerial();
  EXPECT_TRUE(bench.ConnectUntilReady(10));
  EXPECT_EQ(Probe(session).DeviceId, "VEQKUFX01105");
}

TEST_F(Connect, IdentityCutShortWaitsForTheRest) {
  TDeviceModel::TSettings device;
  device.SplitIdentity = true;
  device.SplitGapMs = 20;
  bench.Device.SetSettings(device);
  bench.UseSerial();
  bench.Connect();
  bench.Tick();  // the probe goes out
  bench.Pump();
  EXPECT_EQ(session.State(), TSessionState::Searching);
  EXPECT_EQ(Probe(session).RxBuffer, "VEQKUF");
  bench.Clock.NowMs += 20;
  bench.Pump();
  EXPECT_EQ(session.State(), TSessionState::Found);
  EXPECT_EQ(Probe(session).DeviceId, "VEQKUFX01105");
}

TEST_F(Connect, IdentityInTwoDatagrams) {
  TDeviceModel::TSettings device;
  device.SplitIdentity = true;
  bench.Device.SetSettings(device);
  bench.UseUdp();
  session.EnableDebugMode();
  ASSERT_TRUE(bench.ConnectUntilReady(10));
  const TLines& log = window.Log;
  const auto found = std::find(log.begin(), log.end(), "Обнаружено устройство VEQKUFX01105");
  ASSERT_NE(found, log.end());
  EXPECT_EQ(*(found - 4), "<<recv   char=VEQKUF     ");
  EXPECT_EQ(*(found - 2), "<<recv   char=X01105     ");
}

TEST_F(Connect, BoardThatBootsLaterIsFoundOnceItAnswers) {
  TDeviceModel::TSettings device;
  device.BootDelayMs = 2000;
  bench.Device.SetSettings(device);
  bench.UseSerial();
  bench.Connect();
  ASSERT_GT(bench.TickUntil([&] { return session.State() >= TSessionState::Found; }, 100), 0);
  // Probes every 50 ms from 350 ms (after the 300 ms pause) to 2000 ms.
  EXPECT_EQ(ProbesSent(), 34u);
  EXPECT_GE(bench.Clock.NowMs, 2000);
}

TEST_F(Connect, NoLinkSelectedOpensUdpButEverySendOnlyLogs) {
  bench.UseUdp();
  session.SelectLink(TLinkMode::None);
  bench.Connect();
  EXPECT_TRUE(bench.Udp.Active());
  bench.Tick();
  bench.Tick();
  EXPECT_EQ(window.Log, (TLines{"Ожидание...", " MODE NONE  7E7E0009AABBCCD47E", " MODE NONE  53",
                                " MODE NONE  53"}));
  EXPECT_EQ(session.State(), TSessionState::Searching);
  EXPECT_TRUE(bench.Udp.Sent.empty());
  bench.Disconnect();
  EXPECT_EQ(bench.LogFrom(4), (TLines{" MODE NONE  564551454E4446", "Отключено."}));
}

TEST_F(Connect, FailedOpenLeavesTheSessionIdle) {
  bench.UseSerial();
  bench.Serial.RefuseOpen = true;
  window.Log = {"kept"};
  bench.Connect();
  EXPECT_EQ(session.State(), TSessionState::Idle);
  // The port told the operator why in its own box; the cause goes beside it.
  EXPECT_EQ(window.Log, (TLines{"kept", "Причина: нет такого порта."}));
  EXPECT_TRUE(window.Sleeps.empty());
  EXPECT_EQ(session.LastRunEnd().Outcome, TRunOutcome::LinkFailure);
  EXPECT_EQ(session.LastRunEnd().Detail, "нет такого порта");
  EXPECT_TRUE(session.LastRunEnd().AlreadyShown);

  bench.UseUdp();
  bench.Udp.RefuseActivate = true;
  bench.Connect();
  EXPECT_EQ(session.State(), TSessionState::Idle);
  ASSERT_EQ(window.Messages.size(), 1u);
  EXPECT_EQ(window.Messages[0].Text, "Соединение не установлено. Возможно порт занят");
}

TEST_F(Connect, BufferOverflowWhereNothingIsConsumed) {
  bench.UseSerial();
  bench.Connect();
  bench.Tick();
  bench.Pump();
  ASSERT_EQ(session.State(), TSessionState::Found);
  bench.Serial.InjectFromDevice(std::string(511, '.'), bench.Clock.NowMs);
  bench.Pump();
  EXPECT_EQ(Probe(session).RxBuffer.size(), 511u);
  bench.Serial.InjectFromDevice(".", bench.Clock.NowMs);
  bench.Pump();
  EXPECT_EQ(window.Log.back(), "Buffer overflow");
  EXPECT_EQ(Probe(session).RxBuffer, "");
  EXPECT_EQ(session.State(), TSessionState::Found);

  bench.Tick();
  bench.Pump();
  ASSERT_EQ(session.State(), TSessionState::Ready);
  const size_t lines = window.Log.size();
  bench.Serial.InjectFromDevice(std::string(600, '.'), bench.Clock.NowMs);
  bench.Pump();
  EXPECT_EQ(bench.LogFrom(lines), TLines{"Buffer overflow"});
  EXPECT_EQ(session.State(), TSessionState::Ready);
}

TEST_F(Connect, DisconnectSendsTheEndCommandAndClosesEverything) {
  bench.UseSerial();
  ASSERT_TRUE(bench.ConnectUntilReady());
  window.Sleeps.clear();
  const int64_t before = bench.Clock.NowMs;
  bench.Disconnect();
  EXPECT_EQ(bench.Serial.Writes.back().Bytes, "VEQENDF");
  EXPECT_EQ(bench.Serial.Writes.back().AtMs, before + 500);
  EXPECT_EQ(window.Sleeps, (std::vector<int>{500, 300}));
  EXPECT_FALSE(bench.Serial.IsOpen());
  EXPECT_EQ(session.State(), TSessionState::Idle);
  EXPECT_EQ(session.ActiveLink(), TLinkMode::None);
  EXPECT_EQ(window.Log.back(), "Отключено.");
  EXPECT_TRUE(window.Buttons[TButton::ButConnect]);
  EXPECT_FALSE(window.Buttons[TButton::ButDisconnect]);
  // The board is back in its boot state and can be found again.
  bench.Device.Advance(bench.Clock.NowMs);
  EXPECT_EQ(bench.Device.Phase(), TDeviceModel::TPhase::Boot);
  EXPECT_TRUE(bench.ConnectUntilReady());
}

TEST_F(Connect, DisconnectWithoutSession) {
  bench.Disconnect();  // first run: serial selected, port closed
  EXPECT_EQ(window.Log, TLines{"Отключено."});
  EXPECT_TRUE(bench.Serial.Writes.empty());
  bench.Disconnect();
  EXPECT_EQ(bench.LogFrom(1), (TLines{" MODE NONE  564551454E4446", "Отключено."}));
}

TEST_F(Connect, DisconnectOverUdpReactivatesAClosedEndpoint) {
  bench.UseUdp();
  ASSERT_TRUE(bench.ConnectUntilReady());
  Probe(session).SessionState = TSessionState::Idle;
  bench.Tick();  // the idle tick closes the endpoint
  ASSERT_FALSE(bench.Udp.Active());
  bench.Disconnect();
  EXPECT_EQ(bench.Udp.Sent.back().Bytes, "VEQENDF");
  EXPECT_EQ(bench.Udp.BoundPorts.size(), 2u);
  EXPECT_FALSE(bench.Udp.Active());
}

TEST_F(Connect, StartButtonOnlyWhileReady) {
  bench.UseSerial();
  ASSERT_TRUE(bench.ConnectUntilReady());
  bench.Tick();
  EXPECT_TRUE(window.Buttons[TButton::ButStart]);
  Probe(session).SessionState = TSessionState::ProgSent;
  bench.Tick();
  EXPECT_FALSE(window.Buttons[TButton::ButStart]);
  Probe(session).SessionState = TSessionState::Ready;
  bench.Tick();
  Probe(session).SessionState = TSessionState::Idle;
  bench.Tick();
  EXPECT_FALSE(window.Buttons[TButton::ButStart]);
  EXPECT_EQ(window.LabProg, " Нет операций");
  EXPECT_FALSE(bench.Serial.IsOpen());
}

}  // namespace
