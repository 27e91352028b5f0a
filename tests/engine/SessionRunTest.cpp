#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "engine/Session.h"
#include "engine/uStrBinHex.h"
#include "tests/engine/TestImages.h"
#include "tests/support/SessionBench.h"
#include "tests/support/SessionProbe.h"

namespace {

using namespace std::string_literals;
using TLines = std::vector<std::string>;
using TFault = TDeviceModel::TFault;

const std::string kSuccess = "Успешно. Устройство перезагружается.";

const TLines kTwoSectionLog = {"Начало записи...",  "Стирание MCU Flash...", "Запись заголовка",
                               "Запись блока 1/3",  "Запись блока 2/3",      "Запись блока 3/3",
                               "Стирание Flash...", "Запись заголовка",      "Запись блока 1/2",
                               "Запись блока 2/2",  " Завершение записи...", kSuccess};

class FlashRun : public ::testing::Test {
 protected:
  // A device ready to write over the serial link, the image chosen.
  void Ready(const std::string& image, const std::string& identity = "VEQKUFX01105") {
    TDeviceModel::TSettings device;
    device.Identity = identity;
    bench.Device.SetSettings(device);
    if (!udp) bench.UseSerial();
    bench.LoadImage(image);
    ASSERT_TRUE(bench.ConnectUntilReady());
    startLine = window.Log.size();
    startStatus = window.StatusHistory.size();
    startWrites = bench.Serial.Writes.size();
  }

  TLines RunLog() const { return bench.LogFrom(startLine); }
  TLines RunStatus() const {
    return {window.StatusHistory.begin() + static_cast<std::ptrdiff_t>(startStatus),
            window.StatusHistory.end()};
  }
  // What the session wrote to the serial port since Start.
  TLines RunWrites() const {
    TLines writes;
    for (size_t i = startWrites; i < bench.Serial.Writes.size(); ++i) {
      writes.push_back(bench.Serial.Writes[i].Bytes);
    }
    return writes;
  }
  void SetAnswerDelay(int64_t delayMs) {
    TDeviceModel::TSettings device = bench.Device.Settings();
    device.AnswerDelayMs = delayMs;
    bench.Device.SetSettings(device);
  }

  TSessionBench bench;
  TSession& session = bench.Session;
  TClockedWindow& window = bench.Window;
  bool udp = false;
  size_t startLine = 0;
  size_t startStatus = 0;
  size_t startWrites = 0;
};

struct TLinkShape {
  std::string Name;
  bool Udp;
  size_t DeviceChunk;
  size_t ReadChunk;
};

class FullRun : public FlashRun, public ::testing::WithParamInterface<TLinkShape> {};

TEST_P(FullRun, StreamsEverySectionAndReportsSuccess) {
  const TLinkShape& shape = GetParam();
  udp = shape.Udp;
  if (udp) bench.UseUdp();
  bench.Serial.DeviceChunk = shape.DeviceChunk;
  bench.Serial.ReadChunk = shape.ReadChunk;
  const std::string image = TwoSectionImage();
  Ready(image);

  bench.Start();
  EXPECT_EQ(window.TimerInterval, 300);
  // Each block goes out from the handler of the previous answer: the whole
  // image is written before the first tick, which only finishes the run.
  EXPECT_TRUE(Probe(session).EndMarkerSeen);
  EXPECT_EQ(bench.Device.AcceptedImage(), image);
  bench.Tick();
  EXPECT_EQ(session.State(), TSessionState::Idle);
  EXPECT_FALSE(Probe(session).FileOpen);
  EXPECT_EQ(RunLog(), kTwoSectionLog);
  ASSERT_EQ(window.Messages.size(), 1u);
  EXPECT_EQ(window.Messages[0].Kind, TMessageKind::Information);
  EXPECT_EQ(window.Messages[0].Text, kSuccess);
  EXPECT_EQ(RunStatus(),
            (TLines{" Стирание MCU Flash...", " Запись...", " Запись...", " Запись...",
                    " Стирание Flash...", " Запись...", " Запись...", " Завершение записи..."}));

  bench.Tick();
  EXPECT_EQ(window.LabProg, " Нет операций");
  EXPECT_FALSE(bench.Serial.IsOpen());
  EXPECT_FALSE(bench.Udp.Active());
}

INSTANTIATE_TEST_SUITE_P(Links, FullRun,
                         ::testing::Values(TLinkShape{"SerialWhole", false, 0, 0},
                                           TLinkShape{"SerialInPieces", false, 50, 2},
                                           TLinkShape{"Udp", true, 0, 0}),
                         [](const auto& info) { return info.param.Name; });

TEST_F(FlashRun, SendsTheImageBytesInHeaderAndBlockWrites) {
  const std::string image = TwoSectionImage();
  Ready(image);
  bench.Start();
  EXPECT_EQ(RunWrites(),
            (TLines{image.substr(0, 21), image.substr(21, 64), image.substr(85, 64),
                    image.substr(149, 64), image.substr(213, 21), image.substr(234, 128),
                    image.substr(362, 128), image.substr(490, 21)}));
}

TEST_F(FlashRun, OneSectionImageMeetsTheEndMarkerAtSection1) {
  const std::string image = MakeSection("VEQKUFX01106", 64, Pattern(128, 3), 1) + EndMarker();
  Ready(image);
  bench.Start();
  bench.Tick();
  EXPECT_EQ(RunLog(), (TLines{"Начало записи...", "Стирание MCU Flash...", "Запись заголовка",
                              "Запись блока 1/2", "Запись блока 2/2", " Завершение записи...",
                              "Стирание Flash...", "Запись заголовка", kSuccess}));
  const TLines status = RunStatus();
  ASSERT_GE(status.size(), 2u);
  EXPECT_EQ(status[status.size() - 2], " Завершение записи...");
  EXPECT_EQ(status.back(), " Стирание Flash...");
  EXPECT_EQ(bench.Device.AcceptedImage(), image);
}

class ZeroCountHeader : public FlashRun {
 protected:
  void ExpectSilentEnd(uint16_t blockCount, uint16_t blockSize) {
    SectionHeader empty;
    empty.FileId = "VEQKUFX01106";
    empty.BlockCount = blockCount;
    empty.BlockSize = blockSize;
    const std::string section0 = MakeSection("VEQKUFX01106", 64, Pattern(64, 3), 1);
    Ready(section0 + EncodeSectionHeader(empty) + EndMarker());
    bench.Start();
    // Ended at the device's answer to that header, from within its handler.
    EXPECT_EQ(session.State(), TSessionState::Idle);
    EXPECT_FALSE(Probe(session).FileOpen);
    EXPECT_TRUE(window.Messages.empty());
    EXPECT_EQ(RunLog().back(), "Запись заголовка");
    EXPECT_EQ(bench.Device.AcceptedImage(), section0 + EncodeSectionHeader(empty));
    bench.Tick();
    EXPECT_EQ(RunLog().back(), "Запись заголовка");
  }
};

TEST_F(ZeroCountHeader, NoBlocks) {
  ExpectSilentEnd(0, 128);
}

TEST_F(ZeroCountHeader, EmptyBlocks) {
  ExpectSilentEnd(5, 0);
}

TEST_F(FlashRun, EndMarkerNeedsOnlyOneZeroCount) {
  const std::string image = MakeSection("VEQKUFX01106", 64, Pattern(64, 3), 1) + EndMarker(0, 512);
  Ready(image);
  bench.Start();
  bench.Tick();
  EXPECT_EQ(RunLog().back(), kSuccess);
  EXPECT_EQ(bench.Device.AcceptedImage(), image);
}

TEST_F(FlashRun, ImageThatEndsEarlyIsPaddedWithZeros) {
  const std::string section0 = MakeSection("VEQKUFX01106", 64, Pattern(192, 3), 1);
  const std::string image = section0.substr(0, 21 + 100);
  Ready(image);
  bench.Start();
  EXPECT_EQ(session.State(), TSessionState::Idle);
  EXPECT_TRUE(window.Messages.empty());
  // The missing 92 bytes of the blocks, then a header of zeros whose zero
  // counts end the run once the device has answered it.
  EXPECT_EQ(bench.Device.AcceptedImage(), image + std::string(92, '\0') + std::string(21, '\0'));
  EXPECT_EQ(RunLog(), (TLines{"Начало записи...", "Стирание MCU Flash...", "Запись заголовка",
                              "Запись блока 1/3", "Запись блока 2/3", "Запись блока 3/3",
                              "Стирание Flash...", "Запись заголовка"}));
}

// Zeros stand only for bytes past the end the image had at Start: a file cut
// short under the run ends it, and nothing of the missing part is sent.
TEST_F(FlashRun, ImageCutShortDuringTheRunEndsIt) {
  const std::string image = MakeSection("VEQKUFX01106", 2048, Pattern(64 * 2048, 5), 1) + EndMarker();
  Ready(image);
  SetAnswerDelay(1000);
  bench.Start();
  ASSERT_GE(bench.TickUntil([&] { return Probe(session).BlockIndex == 3; }, 100), 0);
  std::filesystem::resize_file(window.Text(TTextControl::EditFileName), 40000);
  ASSERT_TRUE(bench.RunUntilIdle());
  const TRunEnd& end = session.LastRunEnd();
  EXPECT_EQ(end.Outcome, TRunOutcome::ImageFault);
  EXPECT_EQ(end.Detail, "файл образа стал короче во время записи");
  EXPECT_EQ(RunLog().back(), "Файл образа стал короче во время записи.");
  // What was sent is the image's own bytes (what the reader had already
  // buffered included), and the run stopped before its end.
  EXPECT_LT(end.Block, 64);
  EXPECT_EQ(RunWrites().back(), image.substr(21 + (end.Block - 1) * 2048, 2048));
  EXPECT_EQ(bench.Device.AcceptedImage(), "");
}

TEST_F(FlashRun, DebugModeTracesReadsAndCounts) {
  const std::string image = MakeSection("VEQKUFX01106", 4, "abcd", 1) + EndMarker();
  Ready(image);
  session.EnableDebugMode();
  bench.Start();
  const TLines log = RunLog();
  const TLines expected = {"Считано 21 байт. Запись блока N=0 ",
                           ">>send Hex =" + StrToHex(image.substr(0, 21)),
                           "Пересчет блоков. Число N=1 Bsize=4",
                           "Считано 4 байт. Запись блока N=1 ", ">>send Char=abcd"};
  auto at = log.begin();
  for (const std::string& line : expected) {
    at = std::find(at, log.end(), line);
    EXPECT_NE(at, log.end()) << line;
  }
}

class VersionQuestion : public FlashRun {};

TEST_F(VersionQuestion, EqualVersionAsksAndOkGoesOn) {
  const std::string image = TwoSectionImage("VEQKUFX01105");
  Ready(image);
  bool timerStopped = false;
  window.WhileMessageOpen = [&] { timerStopped = !window.TimerEnabled; };
  bench.Start();
  ASSERT_GE(window.Messages.size(), 1u);
  EXPECT_EQ(window.Messages[0].Kind, TMessageKind::Confirmation);
  EXPECT_EQ(window.Messages[0].Text,
            "Внимание!\rПрограммная версия в файле прошивки: 105\r"
            "Программная версия платы: 105\rВы действительно хотите продолжить?");
  EXPECT_TRUE(timerStopped);
  EXPECT_TRUE(window.TimerEnabled);
  window.WhileMessageOpen = nullptr;
  bench.Tick();
  EXPECT_EQ(RunLog(), kTwoSectionLog);
  EXPECT_EQ(bench.Device.AcceptedImage(), image);
}

TEST_F(VersionQuestion, HigherBoardVersionAsksAndCancelDisconnects) {
  Ready(TwoSectionImage("VEQKUFX01099"), "VEQKUFX01105");
  window.Replies = {TMessageResult::Cancel};
  bench.Start();
  ASSERT_EQ(window.Messages.size(), 1u);
  EXPECT_EQ(window.Messages[0].Text,
            "Внимание!\rПрограммная версия в файле прошивки: 99\r"
            "Программная версия платы: 105\rВы действительно хотите продолжить?");
  EXPECT_EQ(RunLog(), (TLines{"Начало записи...", "Прервано пользователем.", "Отключено."}));
  EXPECT_EQ(RunWrites(), TLines{"VEQENDF"});  // nothing of the image
  EXPECT_EQ(session.State(), TSessionState::Idle);
  EXPECT_EQ(session.ActiveLink(), TLinkMode::None);
  EXPECT_FALSE(Probe(session).FileOpen);
  EXPECT_FALSE(bench.Serial.IsOpen());
  EXPECT_TRUE(window.TimerEnabled);
}

TEST_F(VersionQuestion, UnreadableFileVersionAlwaysAsks) {
  Ready(TwoSectionImage("VEQKUFX01a05"));
  window.Replies = {TMessageResult::Cancel};
  bench.Start();
  ASSERT_EQ(window.Messages.size(), 1u);
  EXPECT_NE(window.Messages[0].Text.find("в файле прошивки: -1\r"), std::string::npos);
}

TEST_F(VersionQuestion, UnreadableBoardVersionNeverAsks) {
  Ready(TwoSectionImage("VEQKUFX01106"), "VEQKUFX01x05");
  session.EnableDebugMode();
  bench.Start();
  bench.Tick();
  ASSERT_EQ(window.Messages.size(), 1u);
  EXPECT_EQ(window.Messages[0].Text, kSuccess);
  EXPECT_NE(std::find(window.Log.begin(), window.Log.end(), "GetVer error"), window.Log.end());
}

TEST_F(FlashRun, ForeignImageIsRefusedWithABoxAndDisconnect) {
  Ready(TwoSectionImage("VEQKUFX01106"), "VEQKUFX02105");
  bool timerStopped = false;
  window.WhileMessageOpen = [&] { timerStopped = !window.TimerEnabled; };
  bench.Start();
  EXPECT_EQ(RunLog(),
            (TLines{"Начало записи...",
                    "Идентификатор не совпадает: FileID=VEQKUFX01106DeviceID=VEQKUFX02105",
                    "Отключено."}));
  ASSERT_EQ(window.Messages.size(), 1u);
  EXPECT_EQ(window.Messages[0].Kind, TMessageKind::Warning);
  EXPECT_EQ(window.Messages[0].Text,
            "Идентификатор не совпадает: \rFileID=VEQKUFX01106\rDeviceID=VEQKUFX02105");
  EXPECT_TRUE(timerStopped);
  EXPECT_TRUE(window.TimerEnabled);
  EXPECT_EQ(RunWrites(), TLines{"VEQENDF"});
  EXPECT_EQ(session.State(), TSessionState::Idle);
  EXPECT_FALSE(Probe(session).FileOpen);
  EXPECT_FALSE(bench.Serial.IsOpen());
}

TEST_F(FlashRun, SameBoardWithAnotherVersionPasses) {
  const std::string image = TwoSectionImage("VEQKUFX01106");
  Ready(image, "VEQKUFX01042");
  bench.Start();
  bench.Tick();
  EXPECT_EQ(RunLog(), kTwoSectionLog);
}

struct TErrorCase {
  TFault Fault;
  int Block;
  std::string Line;
};

class DeviceError : public FlashRun, public ::testing::WithParamInterface<TErrorCase> {};

TEST_P(DeviceError, EndsTheRunAtBlockK) {
  const TErrorCase& c = GetParam();
  Ready(TwoSectionImage());
  TDeviceModel::TSettings device = bench.Device.Settings();
  device.Fault = c.Fault;
  device.FaultBlock = c.Block;
  bench.Device.SetSettings(device);
  bench.Start();
  EXPECT_EQ(session.State(), TSessionState::Idle);
  EXPECT_EQ(window.LabProg, " Произошла ошибка");
  EXPECT_EQ(RunLog().back(), c.Line);
  EXPECT_EQ(bench.Device.BlocksReceived(), c.Block);
  const size_t writes = RunWrites().size();
  bench.Tick();
  bench.Tick();
  EXPECT_EQ(RunWrites().size(), writes);
  EXPECT_EQ(window.LabProg, " Нет операций");
  EXPECT_FALSE(bench.Serial.IsOpen());
  EXPECT_TRUE(window.Messages.empty());
  EXPECT_TRUE(Probe(session).FileOpen);  // until Disconnect or the next Start
  bench.Disconnect();
  EXPECT_FALSE(Probe(session).FileOpen);
}

INSTANTIATE_TEST_SUITE_P(Answers, DeviceError,
                         ::testing::Values(TErrorCase{TFault::Wrong, 2, "WRONG Произошла ошибка"},
                                           TErrorCase{TFault::Err, 4, "ERR Произошла ошибка"},
                                           TErrorCase{TFault::Wrong, 5, "WRONG Произошла ошибка"}));

TEST_F(FlashRun, SilenceTimesOutAfterExactly200Ticks) {
  Ready(TwoSectionImage());
  TDeviceModel::TSettings device = bench.Device.Settings();
  device.Fault = TFault::Silent;
  device.FaultBlock = 2;
  bench.Device.SetSettings(device);
  bench.Start();
  EXPECT_EQ(bench.TickUntil([&] { return session.State() == TSessionState::Idle; }, 300), 200);
  EXPECT_EQ(RunLog().back(), "Timeout. Устройство не ответило. 60 сек");
  EXPECT_EQ(Probe(session).WaitTime, 60000u);
  EXPECT_TRUE(Probe(session).FileOpen);
}

TEST_F(FlashRun, AnswerEvery59SecondsNeverTimesOut) {
  const std::string image = MakeSection("VEQKUFX01106", 64, Pattern(128, 3), 1) + EndMarker();
  Ready(image);
  SetAnswerDelay(59000);
  bench.Start();
  ASSERT_TRUE(bench.RunUntilIdle(2000));
  EXPECT_EQ(RunLog().back(), kSuccess);
  EXPECT_EQ(bench.Device.AcceptedImage(), image);
}

TEST_F(FlashRun, AnswersOutOfTurnAreIgnoredAndKept) {
  const std::string image = TwoSectionImage();
  Ready(image);
  SetAnswerDelay(1000);
  bench.Start();
  ASSERT_EQ(RunWrites().size(), 1u);  // the header, answered "GET" in a second
  bench.Serial.InjectFromDevice("READY", bench.Clock.NowMs);
  bench.Pump();
  EXPECT_EQ(Probe(session).RxBuffer, "READY");
  EXPECT_EQ(RunWrites().size(), 1u);
  EXPECT_FALSE(Probe(session).AnswerReceived);

  // After the last block of section 0 "READY" is due, not "GET".
  ASSERT_GE(bench.TickUntil([&] { return Probe(session).SectionIndex == 1; }, 100), 0);
  EXPECT_EQ(RunWrites().size(), 4u);
  bench.Serial.InjectFromDevice("GET", bench.Clock.NowMs);
  bench.Pump();
  EXPECT_EQ(Probe(session).RxBuffer, "GET");
  EXPECT_EQ(RunWrites().size(), 4u);

  ASSERT_TRUE(bench.RunUntilIdle(100));
  EXPECT_EQ(RunLog(), kTwoSectionLog);
  EXPECT_EQ(bench.Device.AcceptedImage(), image);
}

class AfterEndMarker : public FlashRun {
 protected:
  // Runs until the end marker is sent, its answer held back by the device.
  void SendEndMarker() {
    Ready(TwoSectionImage());
    SetAnswerDelay(1000);
    bench.Start();
    ASSERT_GE(bench.TickUntil([&] { return Probe(session).SectionIndex == 2; }, 100), 0);
    SetAnswerDelay(1000000);
    ASSERT_GE(bench.TickUntil([&] { return Probe(session).EndMarkerSeen; }, 100), 0);
    bench.Serial.InjectFromDevice("GET", bench.Clock.NowMs);
    bench.Pump();
    ASSERT_FALSE(Probe(session).AnswerReceived);
  }
};

TEST_F(AfterEndMarker, GetIsIgnoredAndOnlyAppFinishes) {
  SendEndMarker();
  const size_t writes = RunWrites().size();
  for (int i = 0; i < 10; ++i)
    bench.Tick();
  EXPECT_EQ(session.State(), TSessionState::Writing);
  EXPECT_EQ(RunWrites().size(), writes);
  bench.Serial.InjectFromDevice("APP", bench.Clock.NowMs);
  bench.Pump();
  EXPECT_TRUE(Probe(session).AnswerReceived);
  bench.Tick();
  EXPECT_EQ(session.State(), TSessionState::Idle);
  EXPECT_EQ(RunLog().back(), kSuccess);
}

TEST_F(AfterEndMarker, WithoutAppTheTimeOutComes) {
  SendEndMarker();
  ASSERT_TRUE(bench.RunUntilIdle(300));
  EXPECT_EQ(RunLog().back(), "Timeout. Устройство не ответило. 60 сек");
  EXPECT_TRUE(window.Messages.empty());
}

TEST_F(FlashRun, StartWithAMissingFileWarnsAndStaysReady) {
  Ready(TwoSectionImage());
  window.SetText(TTextControl::EditFileName, bench.Dir.File("missing.vqf"));
  bench.Start();
  ASSERT_EQ(window.Messages.size(), 1u);
  EXPECT_EQ(window.Messages[0].Kind, TMessageKind::Warning);
  EXPECT_EQ(window.Messages[0].Text,
            "Файл не найден или нет доступа: \"" + bench.Dir.File("missing.vqf") + "\"");
  EXPECT_EQ(session.State(), TSessionState::Ready);
  EXPECT_FALSE(Probe(session).FileOpen);
  EXPECT_TRUE(RunLog().empty());
}

// Closing a link serves the receive events still queued; an answer among
// them must not send the next block after the end command.
TEST_F(FlashRun, AnswerHandledWhileDisconnectClosesTheLinkSendsNothing) {
  for (const bool overUdp : {false, true}) {
    SCOPED_TRACE(overUdp);
    TSessionBench fresh;
    fresh.UseSerial();
    if (overUdp) fresh.UseUdp();
    fresh.LoadImage(TwoSectionImage());
    ASSERT_TRUE(fresh.ConnectUntilReady());
    TDeviceModel::TSettings device = fresh.Device.Settings();
    device.AnswerDelayMs = 600;  // due during Disconnect's pauses
    fresh.Device.SetSettings(device);
    fresh.Serial.WhileClosing = [&] { fresh.Serial.Pump(fresh.Session); };
    fresh.Udp.WhileDeactivating = [&] { fresh.Udp.Pump(fresh.Session); };
    fresh.Start();
    fresh.Session.ButDisconnectClick();
    const std::string last =
        overUdp ? fresh.Udp.Sent.back().Bytes : fresh.Serial.Writes.back().Bytes;
    EXPECT_EQ(last, "VEQENDF");
    EXPECT_EQ(Probe(fresh.Session).RxBuffer, "");
    EXPECT_EQ(fresh.Device.ReceivedBytes().substr(fresh.Device.ReceivedBytes().size() - 28),
              TwoSectionImage().substr(0, 21) + "VEQENDF");
  }
}

TEST_F(FlashRun, DisconnectDuringTheRunClosesFileAndLinks) {
  Ready(TwoSectionImage());
  SetAnswerDelay(1000);
  bench.Start();
  ASSERT_TRUE(Probe(session).FileOpen);
  bench.Disconnect();
  EXPECT_FALSE(Probe(session).FileOpen);
  EXPECT_EQ(session.State(), TSessionState::Idle);
  EXPECT_EQ(RunWrites().back(), "VEQENDF");
  EXPECT_FALSE(bench.Serial.IsOpen());
  // The answer still on its way is lost with the closed port.
  bench.Clock.NowMs += 2000;
  bench.Pump();
  EXPECT_EQ(Probe(session).RxBuffer, "");
}

}  // namespace

namespace {

// How each run ended, as the front ends see it: the outcome, where writing
// stood, the one line that says it, and what the device confirmed.
struct TEndingCase {
  std::string Name;
  std::string Identity;
  TFault Fault;
  int FaultBlock;
  bool Cancel;      // the version question is answered Cancel
  bool Disconnect;  // Disconnect after the run has begun
  TRunOutcome Outcome;
  int32_t Section, Block;
  uint64_t BlocksDone;
  std::string Text;
};

class RunEnding : public FlashRun, public ::testing::WithParamInterface<TEndingCase> {};

TEST_P(RunEnding, IsReportedAsAValueWithWhereItStood) {
  const TEndingCase& c = GetParam();
  TDeviceModel::TSettings device;
  device.Identity = c.Identity;
  device.Fault = c.Fault;
  device.FaultBlock = c.FaultBlock;
  device.AnswerDelayMs = c.Disconnect ? 1000 : 0;
  bench.Device.SetSettings(device);
  bench.UseSerial();
  bench.LoadImage(TwoSectionImage());
  ASSERT_TRUE(bench.ConnectUntilReady());
  if (c.Cancel) window.Replies = {TMessageResult::Cancel};
  bench.Start();
  if (c.Disconnect) {
    bench.TickUntil([&] { return session.Progress().Done.Blocks == 1; }, 100);
    bench.Disconnect();
  }
  bench.RunUntilIdle(300);
  const TRunEnd& end = session.LastRunEnd();
  EXPECT_EQ(end.Outcome, c.Outcome);
  EXPECT_EQ(end.Section, c.Section);
  EXPECT_EQ(end.Block, c.Block);
  EXPECT_EQ(RunEndText(end), c.Text);
  EXPECT_EQ(session.Progress().Done.Blocks, c.BlocksDone);
  EXPECT_EQ(session.Progress().Total.Blocks, 5u);
}

const std::string kBoard = "VEQKUFX01105";

INSTANTIATE_TEST_SUITE_P(
    Endings, RunEnding,
    ::testing::Values(
        TEndingCase{"Written", kBoard, TFault::None, 0, false, false, TRunOutcome::Written, 2, 0,
                    5, "Успешно. Устройство перезагружается."},
        TEndingCase{"Wrong", kBoard, TFault::Wrong, 2, false, false, TRunOutcome::DeviceWrong, 0,
                    2, 1, "Запись прервана на блоке 2 из 3 (раздел 0): устройство ответило WRONG."},
        TEndingCase{"Err", kBoard, TFault::Err, 5, false, false, TRunOutcome::DeviceErr, 1, 2, 4,
                    "Запись прервана на блоке 2 из 2 (раздел 1): устройство ответило ERR."},
        TEndingCase{"Silent", kBoard, TFault::Silent, 2, false, false, TRunOutcome::DeviceSilent,
                    0, 2, 1,
                    "Запись прервана на блоке 2 из 3 (раздел 0): устройство не ответило за 60 сек."},
        TEndingCase{"WrongBoard", "VEQOXR_01105", TFault::None, 0, false, false,
                    TRunOutcome::WrongBoard, 0, 0, 0,
                    "Образ не для этой платы: FileID=VEQKUFX01106, DeviceID=VEQOXR_01105. Ничего не "
                    "записано."},
        TEndingCase{"Declined", "VEQKUFX01106", TFault::None, 0, true, false,
                    TRunOutcome::Declined, 0, 0, 0,
                    "Запись отменена: версия в файле 106 не новее версии платы 106. Ничего не "
                    "записано."},
        TEndingCase{"Disconnected", kBoard, TFault::None, 0, false, true,
                    TRunOutcome::Disconnected, 0, 2, 1,
                    "Запись прервана на блоке 2 из 3 (раздел 0): отключено. Плата содержит "
                    "неполный образ, запишите его заново."}),
    [](const auto& info) { return info.param.Name; });

TEST_F(FlashRun, SearchLimitEndsARunWhoseDeviceNeverGetsReady) {
  TDeviceModel::TSettings device;
  device.BootDelayMs = 60000;
  bench.Device.SetSettings(device);
  bench.UseSerial();
  session.SetSearchLimit(1000);
  bench.Connect();
  // 50 ms ticks: twenty of them make the second.
  EXPECT_EQ(bench.TickUntil([&] { return session.State() == TSessionState::Idle; }, 100), 20);
  EXPECT_EQ(session.LastRunEnd().Outcome, TRunOutcome::NotFound);
  EXPECT_EQ(RunEndText(session.LastRunEnd()),
            "Устройство не готово к записи за 1 сек: выключите и включите его, проверьте связь "
            "и настройки.");
}

}  // namespace
