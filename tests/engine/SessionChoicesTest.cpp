// The session's behaviour where the dialogue itself leaves the choice open:
// oversized blocks, failing writes and reads, answers during a header box.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "engine/ImageReader.h"
#include "engine/Session.h"
#include "tests/engine/TestImages.h"
#include "tests/support/SessionBench.h"
#include "tests/support/SessionProbe.h"

namespace {

using namespace std::string_literals;
using TLines = std::vector<std::string>;

const std::string kWriteFailed = "Ошибка связи с устройством: Ошибка записи в порт. Сеанс прерван.";

// Reads the first goodBytes bytes of the image, then fails like a disk would.
class TFailingImageReader : public TImageReader {
 public:
  explicit TFailingImageReader(size_t goodBytes) : GoodBytes(goodBytes) {}

  bool Read(uint8_t* out, size_t count, size_t* present) override {
    if (Delivered + count > GoodBytes) return false;
    Delivered += count;
    return TImageReader::Read(out, count, present);
  }

 private:
  size_t GoodBytes;
  size_t Delivered = 0;
};

class SessionChoices : public ::testing::Test {
 protected:
  void Ready(const std::string& image) {
    bench.UseSerial();
    bench.LoadImage(image);
    ASSERT_TRUE(bench.ConnectUntilReady());
    startLine = window.Log.size();
    startWrites = bench.Serial.Writes.size();
  }

  TLines RunLog() const { return bench.LogFrom(startLine); }
  TLines RunWrites() const {
    TLines writes;
    for (size_t i = startWrites; i < bench.Serial.Writes.size(); ++i) {
      writes.push_back(bench.Serial.Writes[i].Bytes);
    }
    return writes;
  }
  size_t Count(const std::string& line) const {
    return std::count(window.Log.begin(), window.Log.end(), line);
  }

  TSessionBench bench;
  TSession& session = bench.Session;
  TClockedWindow& window = bench.Window;
  size_t startLine = 0;
  size_t startWrites = 0;
};

// --- Blocks larger than the transmit buffer ---

TEST_F(SessionChoices, OversizedBlockEndsTheRunBeforeAnyOfItIsRead) {
  const std::string section0 = MakeSection("VEQKUFX01106", 64, Pattern(64, 1), 1);
  const std::string big = MakeSection("VEQKUFX01106", 2049, Pattern(2049, 2), 1);
  Ready(section0 + big + EndMarker());
  bench.Start();
  const std::string text =
      "Раздел 1: размер блока 2049 байт больше допустимого (2048). Запись прервана.";
  EXPECT_EQ(RunLog().back(), text);
  ASSERT_EQ(window.Messages.size(), 1u);
  EXPECT_EQ(window.Messages[0].Kind, TMessageKind::Warning);
  EXPECT_EQ(window.Messages[0].Text, text);
  EXPECT_EQ(session.State(), TSessionState::Idle);
  EXPECT_FALSE(Probe(session).FileOpen);
  EXPECT_EQ(RunWrites(), (TLines{section0.substr(0, 21), section0.substr(21), big.substr(0, 21)}));
  bench.Tick();
  EXPECT_EQ(RunWrites().size(), 3u);
}

TEST_F(SessionChoices, OversizedFirstSectionIsRefusedAfterItsHeader) {
  const std::string big = MakeSection("VEQKUFX01106", 65535, Pattern(65535, 2), 1);
  Ready(big + EndMarker());
  bench.Start();
  EXPECT_EQ(RunLog().back(),
            "Раздел 0: размер блока 65535 байт больше допустимого (2048). Запись прервана.");
  EXPECT_EQ(RunWrites(), TLines{big.substr(0, 21)});
}

TEST_F(SessionChoices, BlockOfExactlyTheBufferSizeIsWritten) {
  const std::string image =
      MakeSection("VEQKUFX01106", 2048, Pattern(2 * 2048, 5), 1) + EndMarker();
  Ready(image);
  bench.Start();
  bench.Tick();
  EXPECT_EQ(RunLog().back(), "Успешно. Устройство перезагружается.");
  EXPECT_EQ(bench.Device.AcceptedImage(), image);
}

// --- Serial writes that raise ---

TEST_F(SessionChoices, WriteFailureInABlockStepEndsTheRunAndReceptionGoesOn) {
  Ready(TwoSectionImage());
  int blockWrites = 0;
  bench.Serial.FailWrite = [&](const std::string& data) {
    return data.size() == 64 && ++blockWrites == 2;
  };
  bench.Start();  // the second block fails inside the handler of the device's "GET"
  EXPECT_EQ(RunLog(), (TLines{"Начало записи...", "Стирание MCU Flash...", "Запись заголовка",
                              "Запись блока 1/3", kWriteFailed}));
  EXPECT_EQ(window.LabProg, " Ошибка связи с устройством");
  EXPECT_EQ(session.State(), TSessionState::Idle);
  EXPECT_EQ(bench.Device.BlocksReceived(), 1);

  session.EnableDebugMode();
  bench.Serial.InjectFromDevice("READY", bench.Clock.NowMs);
  bench.Pump();
  EXPECT_EQ(window.Log.back(), "<<recv   Hex =5245414459 (5byte)");
  EXPECT_EQ(Probe(session).RxBuffer, "");

  bench.Tick();
  EXPECT_FALSE(bench.Serial.IsOpen());
  bench.Disconnect();
  EXPECT_EQ(window.Log.back(), "Отключено.");
  EXPECT_EQ(Count(kWriteFailed), 1u);
}

TEST_F(SessionChoices, WriteFailureAtConnectCutsTheWakeUpShort) {
  bench.UseSerial();
  Probe(session).BoardKind = 1;
  bench.Serial.FailWrite = [](const std::string&) { return true; };
  bench.Connect();
  EXPECT_EQ(window.Log, (TLines{"Ожидание...", kWriteFailed}));
  EXPECT_EQ(bench.Serial.BaudChanges, std::vector<int>{921600});
  EXPECT_TRUE(window.Sleeps.empty());
  EXPECT_EQ(session.State(), TSessionState::Idle);
  bench.Tick();
  EXPECT_FALSE(bench.Serial.IsOpen());
  EXPECT_EQ(window.LabProg, " Нет операций");
}

TEST_F(SessionChoices, FailingSearchIsReportedOnceAndDisconnectStillFinishes) {
  bench.UseSerial();
  bench.Connect();
  bench.Serial.FailWrite = [](const std::string& data) { return data != "PROG"; };
  bench.Tick();
  EXPECT_EQ(session.State(), TSessionState::Idle);
  EXPECT_TRUE(bench.Serial.IsOpen());  // the next tick would close it
  bench.Disconnect();                  // its end command fails as well
  EXPECT_EQ(window.Log, (TLines{"Ожидание...", kWriteFailed, "Отключено."}));
  EXPECT_EQ(window.Sleeps, (std::vector<int>{300, 500, 300}));
  EXPECT_FALSE(bench.Serial.IsOpen());
  EXPECT_EQ(session.ActiveLink(), TLinkMode::None);

  // A new Connect reports its own failure.
  bench.Connect();
  EXPECT_EQ(Count(kWriteFailed), 1u);  // Connect cleared the log
  EXPECT_EQ(window.Log, (TLines{"Ожидание...", kWriteFailed}));
}

TEST_F(SessionChoices, WriteFailureOfTheEndCommandStillClosesEverything) {
  bench.UseSerial();
  window.SetText(TTextControl::EditIP, "127.0.0.1");
  Probe(session).BoardKind = 2;  // the UDP endpoint is open too
  ASSERT_TRUE(bench.ConnectUntilReady());
  bench.Serial.FailWrite = [](const std::string& data) { return data == "VEQENDF"; };
  bench.Disconnect();
  EXPECT_EQ(bench.LogFrom(window.Log.size() - 2), (TLines{kWriteFailed, "Отключено."}));
  EXPECT_FALSE(bench.Serial.IsOpen());
  EXPECT_FALSE(bench.Udp.Active());
  EXPECT_EQ(window.Text(TTextControl::EditIP), "127.0.0.1");
  EXPECT_EQ(session.State(), TSessionState::Idle);
}

TEST_F(SessionChoices, ACloseThatRaisesStillClosesEveryLinkAndDisconnectFinishes) {
  bench.UseSerial();
  window.SetText(TTextControl::EditIP, "127.0.0.1");
  Probe(session).BoardKind = 2;  // the UDP endpoint is open too
  ASSERT_TRUE(bench.ConnectUntilReady());
  bench.Serial.FailClose = true;
  bench.Disconnect();
  EXPECT_EQ(window.Log.back(), "Отключено.");
  EXPECT_NE(std::find(window.Log.begin(), window.Log.end(),
                      "Ошибка связи с устройством: Ошибка функции PurgeComm. Сеанс прерван."),
            window.Log.end());
  EXPECT_FALSE(bench.Serial.IsOpen());
  EXPECT_FALSE(bench.Udp.Active());
  EXPECT_EQ(session.State(), TSessionState::Idle);
}

// --- Image reads that fail ---

TEST_F(SessionChoices, ReadFailureEndsTheRunAtOnce) {
  Ready(TwoSectionImage());
  session.UseImageReader(std::make_unique<TFailingImageReader>(21 + 64));
  bench.Start();
  EXPECT_EQ(RunLog(), (TLines{"Начало записи...", "Стирание MCU Flash...", "Запись заголовка",
                              "Запись блока 1/3", "Файл не найден или нет доступа."}));
  EXPECT_EQ(session.State(), TSessionState::Idle);
  EXPECT_FALSE(Probe(session).FileOpen);
  EXPECT_EQ(RunWrites().size(), 2u);
  for (int i = 0; i < 5; ++i)
    bench.Tick();
  EXPECT_EQ(RunWrites().size(), 2u);
  EXPECT_EQ(RunLog().size(), 5u);
}

TEST_F(SessionChoices, ReadFailureOfTheFirstHeaderSendsNothing) {
  Ready(TwoSectionImage());
  session.UseImageReader(std::make_unique<TFailingImageReader>(0));
  bench.Start();
  EXPECT_EQ(RunLog(), (TLines{"Начало записи...", "Файл не найден или нет доступа."}));
  EXPECT_TRUE(RunWrites().empty());
  EXPECT_TRUE(window.Messages.empty());
}

// --- Answers that arrive while a header box is open ---

class HeldBackAnswers : public SessionChoices {
 protected:
  // The board's version equals the image's, so Start asks; while the box is
  // open the device sends bytes and a tick comes anyway.
  void StartWithAnswerDuringTheBox(const std::string& bytes) {
    Ready(TwoSectionImage("VEQKUFX01105"));
    window.WhileMessageOpen = [this, bytes] {
      bench.Serial.InjectFromDevice(bytes, bench.Clock.NowMs);
      bench.Pump();
      session.Timer1Timer();
      stateInBox = session.State();
      writesInBox = RunWrites().size();
      logInBox = RunLog();
    };
    bench.Start();
  }

  TSessionState stateInBox = TSessionState::Idle;
  size_t writesInBox = 99;
  TLines logInBox;
};

TEST_F(HeldBackAnswers, ErrorEndsTheRunWhenTheBoxCloses) {
  StartWithAnswerDuringTheBox("WRONG");
  EXPECT_EQ(stateInBox, TSessionState::Writing);
  EXPECT_EQ(writesInBox, 0u);
  EXPECT_EQ(logInBox, TLines{"Начало записи..."});
  EXPECT_EQ(RunLog(), (TLines{"Начало записи...", "WRONG Произошла ошибка"}));
  EXPECT_EQ(window.LabProg, " Произошла ошибка");
  EXPECT_EQ(session.State(), TSessionState::Idle);
  EXPECT_TRUE(RunWrites().empty());
}

TEST_F(HeldBackAnswers, ExpectedWordRunsNoSecondStep) {
  const std::string image = TwoSectionImage("VEQKUFX01105");
  StartWithAnswerDuringTheBox("READY");
  EXPECT_EQ(writesInBox, 0u);
  bench.Tick();
  EXPECT_EQ(window.Messages.size(), 2u);  // the question and the success
  EXPECT_EQ(RunWrites().front(), image.substr(0, 21));
  EXPECT_EQ(RunWrites().size(), 8u);
  EXPECT_EQ(bench.Device.AcceptedImage(), image);
  EXPECT_EQ(RunLog().back(), "Успешно. Устройство перезагружается.");
}

TEST_F(HeldBackAnswers, CancelDiscardsThem) {
  window.Replies = {TMessageResult::Cancel};
  StartWithAnswerDuringTheBox("ERR");
  EXPECT_EQ(RunLog(), (TLines{"Начало записи...", "Прервано пользователем.", "Отключено."}));
  EXPECT_EQ(Probe(session).RxBuffer, "");
}

TEST_F(HeldBackAnswers, OverflowGuardStillRunsDuringTheBox) {
  StartWithAnswerDuringTheBox(std::string(600, '.'));
  EXPECT_EQ(logInBox, (TLines{"Начало записи...", "Buffer overflow"}));
  bench.Tick();
  EXPECT_EQ(RunLog().back(), "Успешно. Устройство перезагружается.");
}

TEST_F(HeldBackAnswers, AreDroppedAfterARefusedImage) {
  TDeviceModel::TSettings foreignBoard;
  foreignBoard.Identity = "VEQKUFX02105";
  bench.Device.SetSettings(foreignBoard);
  Ready(TwoSectionImage());
  window.WhileMessageOpen = [this] {
    bench.Serial.InjectFromDevice("GET", bench.Clock.NowMs);
    bench.Pump();
  };
  bench.Start();
  EXPECT_EQ(RunLog().back(), "Отключено.");
  EXPECT_EQ(Probe(session).RxBuffer, "");
  EXPECT_EQ(RunWrites(), TLines{"VEQENDF"});
}

}  // namespace
