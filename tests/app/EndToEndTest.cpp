// The real window with its real transports against a simulated board, over a
// pseudo-terminal and over UDP: Connect, Start, and the board ends up holding
// exactly the image.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/FirmwareImage.h"
#include "records/RecordBook.h"
#include "tests/app/DeviceSide.h"
#include "tests/app/FormHarness.h"
#include "tests/support/SessionProbe.h"

namespace {

constexpr int kWaitMs = 5000;
const char kSuccess[] = "Успешно. Устройство перезагружается.";

std::string Pattern(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = char((i * 7 + size_t(seed) * 31) & 0xFF);
  return bytes;
}

// Two sections of `blocks` blocks each and the end marker.
std::string Image(const std::string& fileId, uint8_t boardKind, int blocks, uint16_t blockSize) {
  const size_t size = size_t(blocks) * blockSize;
  return MakeSection(fileId, blockSize, Pattern(size, 1), boardKind) +
         MakeSection(fileId, blockSize, Pattern(size, 2), boardKind) +
         MakeSection("VEQENDF00000", 0, "", 0);
}

TDeviceModel::TSettings Board(const std::string& identity) {
  TDeviceModel::TSettings settings;
  settings.Identity = identity;
  return settings;
}

// A free local UDP port on 127.0.0.1 (closed again, so it may be bound).
int FreeUdpPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool AddressIsLocal(const char* ip) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ::inet_pton(AF_INET, ip, &address.sin_addr);
  const bool local = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return local;
}

std::string PortOf(const std::string& where) {
  return where.substr(where.rfind(':') + 1);
}

class EndToEnd : public testing::Test {
 protected:
  bool HasMessage(TMessageKind kind, const std::string& text) const {
    for (const auto& message : Harness.Messages) {
      if (message.Kind == kind && message.Text == text) return true;
    }
    return false;
  }

  std::string Log() { return Harness.Form().MemoLog->toPlainText().toStdString(); }

  // Connect, wait until the board is ready, Start, wait for the success.
  void FlashThrough(TDeviceSide& device, const std::string& screenshot = {}) {
    TForm1& form = Harness.Form();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::mouseClick(form.ButConnect, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.ButStart->isEnabled(); }, kWaitMs))
        << "the board never became ready; log:\n"
        << Log();
    QTest::mouseClick(form.ButStart, Qt::LeftButton);
    if (!screenshot.empty()) {
      // The board holds its answers halfway; the bar shows the share at a tick.
      ASSERT_TRUE(QTest::qWaitFor([&] { return device.Holding(); }, kWaitMs));
      ASSERT_TRUE(QTest::qWaitFor([&] { return form.ProgressBar->value() > 0; }, kWaitMs));
      EXPECT_LT(form.ProgressBar->value(), form.ProgressBar->maximum());
      // The share, the rate and the time left ("%p%  12.4 КиБ/с  осталось 0:07").
      const std::string format = form.ProgressBar->format().toStdString();
      EXPECT_EQ(format.rfind("%p%  ", 0), 0u) << format;
      EXPECT_NE(format.find("Б/с  осталось "), std::string::npos) << format;
      form.grab().save(QString::fromStdString(ScreenshotPath(screenshot)));
      device.Release();
    }
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return HasMessage(TMessageKind::Information, kSuccess); }, kWaitMs))
        << "no success; log:\n"
        << Log();
    // The next idle tick closes the link; the bar stays full, in its colour.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.ButConnect->isEnabled(); }, kWaitMs));
    EXPECT_EQ(form.ProgressBar->value(), form.ProgressBar->maximum());
    EXPECT_NE(Chunk(), TForm1::FailureColour());
    EXPECT_EQ(form.ProgressBar->format().toStdString(), "%p%");
  }

  QColor Chunk() { return Harness.Form().ProgressBar->palette().color(QPalette::Highlight); }

  // Serial link to the board, image in the settings, Connect and Start.
  void StartOver(TDeviceSide& device, const std::string& image) {
    const std::string path = Harness.Dir.Write("fw.vqf", image);
    Harness.WriteIni("[COM]\nNum=" + device.Where() + "\n[File]\nPath=" + path + "\n");
    TForm1& form = Harness.Open();
    form.ButConnect->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.ButStart->isEnabled(); }, kWaitMs)) << Log();
    form.ButStart->click();
  }

  // Waits until the run has ended and a later idle tick has closed the link,
  // so that a second box for the same ending would have been shown by then.
  TRunEnd AwaitEnd() {
    TForm1& form = Harness.Form();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form.Session.LastRunEnd().Outcome != TRunOutcome::None; }, kWaitMs))
        << Log();
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.ButConnect->isEnabled(); }, kWaitMs));
    return form.Session.LastRunEnd();
  }

  // Where a failed run stopped: part of the bar, in the failure colour.
  void ExpectFailedBarPartlyFull() {
    const QProgressBar* bar = Harness.Form().ProgressBar;
    EXPECT_GT(bar->value(), bar->minimum());
    EXPECT_LT(bar->value(), bar->maximum());
    EXPECT_EQ(Chunk(), TForm1::FailureColour());
  }

  TFormHarness Harness;
};

TEST_F(EndToEnd, WritesTheImageOverAPseudoTerminal) {
  const std::string image = Image("VEQKUFX01106", kBoardKindKufx, 20, 64);
  const std::string path = Harness.Dir.Write("fw.vqf", image);
  TDeviceSide device(OpenPtyLink(), Board("VEQKUFX01105"));
  device.HoldFromBlock(20);
  Harness.WriteIni("[COM]\nNum=" + device.Where() + "\n[File]\nPath=" + path + "\n");
  Harness.Open();
  FlashThrough(device, "window-writing.png");
  EXPECT_EQ(device.AcceptedImage(), image);
  EXPECT_EQ(device.Phase(), TDeviceModel::TPhase::Started);
  EXPECT_NE(Log().find("Обнаружено устройство VEQKUFX01105"), std::string::npos);
  EXPECT_NE(Log().find(kSuccess), std::string::npos);
  // Kind 1 wakes the board with the same seven bytes twice, before the search.
  const std::string wakeUp = "\x35\x05\xAA\xBB\x01\x3B\xD8";
  EXPECT_EQ(device.ReceivedBytes().rfind(wakeUp + wakeUp + "S", 0), 0u);
  Harness.Form().grab().save(QString::fromStdString(ScreenshotPath("window-done.png")));
}

TEST_F(EndToEnd, WritesTheImageOverUdpLoopback) {
  const std::string image = Image("VEQABCD01106", kBoardKindOther, 12, 256);
  const std::string path = Harness.Dir.Write("fw.vqf", image);
  TDeviceSide device(OpenUdpLink("127.0.0.1", 0), Board("VEQABCD01105"));
  Harness.WriteIni("[UDP]\nUDP_IP=127.0.0.1\nUDP_Port=" + PortOf(device.Where()) +
                   "\nUDP_SRV_Port=" + std::to_string(FreeUdpPort()) +
                   "\nMode_Checked=1\n[File]\nPath=" + path + "\n");
  Harness.Open();
  FlashThrough(device);
  EXPECT_EQ(device.AcceptedImage(), image);
  EXPECT_EQ(device.Phase(), TDeviceModel::TPhase::Started);
}

// Kind-2 boards answer only at their fixed address: Connect sends the wake-up
// to the typed address and then talks to 192.168.0.254.
TEST_F(EndToEnd, WritesAKind2ImageAtTheBoardsFixedAddress) {
  if (!AddressIsLocal("192.168.0.254")) {
    GTEST_SKIP() << "192.168.0.254 is not a local address here (run inside scripts/in-netns)";
  }
  const std::string image = Image("VEQOXR_02008", kBoardKindOxr, 8, 128);
  const std::string path = Harness.Dir.Write("fw.vqf", image);
  TDeviceSide device(OpenUdpLink("192.168.0.254", 0), Board("VEQOXR_02007"));
  const std::string port = PortOf(device.Where());
  // Where the wake-up goes: the address the operator typed.
  TDeviceSide typed(OpenUdpLink("127.0.0.1", uint16_t(std::stoi(port))), Board("VEQOXR_02007"));
  Harness.WriteIni("[UDP]\nUDP_IP=127.0.0.1\nUDP_Port=" + port + "\nUDP_SRV_Port=" +
                   std::to_string(FreeUdpPort()) + "\nMode_Checked=1\n[File]\nPath=" + path + "\n");
  Harness.Open();
  FlashThrough(device);
  EXPECT_EQ(device.AcceptedImage(), image);
  EXPECT_EQ(typed.ReceivedBytes().rfind("\x7E\x00\x09\xAA\xBB\xCC\xD4\x7E", 0), 0u);
  // Closing the link puts the typed address back.
  EXPECT_EQ(Harness.Form().EditIP->text().toStdString(), "127.0.0.1");
}

// The settings are saved before Disconnect puts the typed address back. The
// serial link carries every send, so nothing goes to 192.168.0.254.
TEST_F(EndToEnd, ClosingWhileConnectedWithAKind2ImageSavesTheFixedAddress) {
  const std::string path = Harness.Dir.Write("fw.vqf", Image("VEQOXR_02008", kBoardKindOxr, 1, 16));
  TDeviceSide device(OpenPtyLink(), Board("VEQOXR_02007"));
  Harness.WriteIni("[COM]\nNum=" + device.Where() + "\n[UDP]\nUDP_IP=10.20.30.40\n" +
                   "UDP_SRV_Port=0\n[File]\nPath=" + path + "\n");
  TForm1& form = Harness.Open();
  form.ButConnect->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.ButStart->isEnabled(); }, kWaitMs)) << Log();
  EXPECT_EQ(form.EditIP->text().toStdString(), "192.168.0.254");
  Harness.Close();
  EXPECT_NE(Harness.ReadIni().find("UDP_IP=192.168.0.254\n"), std::string::npos);
  EXPECT_EQ(form.EditIP->text().toStdString(), "10.20.30.40");
  const std::string received = device.ReceivedBytes();
  EXPECT_EQ(received.substr(received.size() - 7), "VEQENDF");
}

// Endings the design does not tell in a box of its own: one warning with the
// ending's line, after the step that made it, and the bar stops in red.
TEST_F(EndToEnd, ADeviceRefusalIsShownOnceAndTheBarStopsInRed) {
  const struct {
    TDeviceModel::TFault Fault;
    TRunOutcome Outcome;
    const char* Answer;
  } cases[] = {
      {TDeviceModel::TFault::Wrong, TRunOutcome::DeviceWrong, "устройство ответило WRONG."},
      {TDeviceModel::TFault::Err, TRunOutcome::DeviceErr, "устройство ответило ERR."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.Outcome));
    Harness.Messages.clear();
    TDeviceModel::TSettings board = Board("VEQKUFX01105");
    board.Fault = c.Fault;
    board.FaultBlock = 7;
    TDeviceSide device(OpenPtyLink(), board);
    StartOver(device, Image("VEQKUFX01106", kBoardKindKufx, 12, 64));
    const TRunEnd end = AwaitEnd();
    EXPECT_EQ(end.Outcome, c.Outcome);
    ASSERT_EQ(Harness.Messages.size(), 1u) << Log();
    EXPECT_EQ(Harness.Messages[0].Kind, TMessageKind::Warning);
    EXPECT_EQ(Harness.Messages[0].Text, RunEndText(end));
    EXPECT_EQ(Harness.Messages[0].Text.rfind("Запись прервана на блоке ", 0), 0u);
    EXPECT_NE(Harness.Messages[0].Text.find(c.Answer), std::string::npos);
    ExpectFailedBarPartlyFull();
  }
}

// Each Start adds a record to the file the settings name, completed at the
// run's end; the key survives the settings' rewrite at closing.
TEST_F(EndToEnd, EachStartIsRecordedWhereTheSettingsSay) {
  TDeviceModel::TSettings board = Board("VEQKUFX01105");
  board.Fault = TDeviceModel::TFault::Err;
  board.FaultBlock = 7;
  TDeviceSide device(OpenPtyLink(), board);
  const std::string records = Harness.Dir.File("runs.sqlite");
  const std::string path =
      Harness.Dir.Write("fw.vqf", Image("VEQKUFX01106", kBoardKindKufx, 12, 64));
  Harness.WriteIni("[COM]\nNum=" + device.Where() + "\n[File]\nPath=" + path +
                   "\n[Records]\nFile=" + records + "\n");
  TForm1& form = Harness.Open();
  form.ButConnect->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.ButStart->isEnabled(); }, kWaitMs)) << Log();
  form.ButStart->click();
  EXPECT_EQ(AwaitEnd().Outcome, TRunOutcome::DeviceErr);

  const std::vector<TRunRecord> listed =
      TRecordBook(records, TRecordBook::TAccess::Read).List({});
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].Outcome, "device-error");
  EXPECT_EQ(listed[0].Link, "serial");
  EXPECT_EQ(listed[0].Target, device.Where());
  EXPECT_EQ(listed[0].DeviceId, "VEQKUFX01105");
  EXPECT_EQ(listed[0].Image, path);
  EXPECT_EQ(listed[0].Board, "KUFX");
  EXPECT_EQ(listed[0].Section, 0);
  EXPECT_EQ(listed[0].Block, 7);
  EXPECT_NE(listed[0].Ended, "");

  Harness.Close();
  EXPECT_NE(ReadFile(Harness.IniPath).find("[Records]\nFile=" + records + "\n"),
            std::string::npos)
      << ReadFile(Harness.IniPath);
}

// The 60 s limit is reached by setting the time already waited near it.
TEST_F(EndToEnd, ASilentDeviceIsShownOnceAfterTheTimeLimit) {
  TDeviceSide device(OpenPtyLink(), Board("VEQKUFX01105"));
  device.HoldFromBlock(5);
  StartOver(device, Image("VEQKUFX01106", kBoardKindKufx, 12, 64));
  ASSERT_TRUE(QTest::qWaitFor([&] { return device.Holding(); }, kWaitMs));
  Probe(Harness.Form().Session).WaitTime = 60000 - 1;
  const TRunEnd end = AwaitEnd();
  EXPECT_EQ(end.Outcome, TRunOutcome::DeviceSilent);
  ASSERT_EQ(Harness.Messages.size(), 1u) << Log();
  EXPECT_EQ(Harness.Messages[0].Kind, TMessageKind::Warning);
  EXPECT_EQ(Harness.Messages[0].Text, RunEndText(end));
  ExpectFailedBarPartlyFull();
  Harness.Form().grab().save(QString::fromStdString(ScreenshotPath("window-failed.png")));
  device.Release();
}

// The board's side of the line goes away in the middle of the run.
TEST_F(EndToEnd, ALinkLostDuringARunIsShownOnce) {
  auto device = std::make_unique<TDeviceSide>(OpenPtyLink(), Board("VEQKUFX01105"));
  device->HoldFromBlock(5);
  StartOver(*device, Image("VEQKUFX01106", kBoardKindKufx, 12, 64));
  ASSERT_TRUE(QTest::qWaitFor([&] { return device->Holding(); }, kWaitMs));
  device.reset();
  const TRunEnd end = AwaitEnd();
  EXPECT_EQ(end.Outcome, TRunOutcome::LinkFailure);
  ASSERT_EQ(Harness.Messages.size(), 1u) << Log();
  EXPECT_EQ(Harness.Messages[0].Kind, TMessageKind::Warning);
  EXPECT_EQ(Harness.Messages[0].Text, RunEndText(end));
  ExpectFailedBarPartlyFull();
}

// Endings the design already told, or that the operator chose: no second box.
TEST_F(EndToEnd, EndingsAlreadyShownGetNoSecondBox) {
  const struct {
    const char* Identity;
    std::string FileId;
    uint16_t BlockSize;
    TRunOutcome Outcome;
    TMessageKind OnlyBox;
  } cases[] = {
      {"VEQABCD01105", "VEQKUFX01106", 64, TRunOutcome::WrongBoard, TMessageKind::Warning},
      {"VEQKUFX01107", "VEQKUFX01106", 64, TRunOutcome::Declined, TMessageKind::Confirmation},
      {"VEQKUFX01105", "VEQKUFX01106", 4096, TRunOutcome::ImageFault, TMessageKind::Warning},
  };
  Harness.ConfirmReply = TMessageResult::Cancel;
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.Outcome));
    Harness.Messages.clear();
    TDeviceSide device(OpenPtyLink(), Board(c.Identity));
    StartOver(device, Image(c.FileId, kBoardKindKufx, 1, c.BlockSize));
    EXPECT_EQ(AwaitEnd().Outcome, c.Outcome);
    ASSERT_EQ(Harness.Messages.size(), 1u) << Log();
    EXPECT_EQ(Harness.Messages[0].Kind, c.OnlyBox);
    EXPECT_EQ(Chunk(), TForm1::FailureColour());
  }
}

TEST_F(EndToEnd, DisconnectDuringARunShowsNoBoxAndKeepsThePositionInRed) {
  TDeviceSide device(OpenPtyLink(), Board("VEQKUFX01105"));
  device.HoldFromBlock(5);
  StartOver(device, Image("VEQKUFX01106", kBoardKindKufx, 12, 64));
  ASSERT_TRUE(QTest::qWaitFor([&] { return device.Holding(); }, kWaitMs));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Harness.Form().ProgressBar->value() > 0; }, kWaitMs));
  Harness.Form().ButDisconnect->click();
  EXPECT_EQ(AwaitEnd().Outcome, TRunOutcome::Disconnected);
  EXPECT_TRUE(Harness.Messages.empty());
  ExpectFailedBarPartlyFull();
  // The next Connect starts afresh: the bar is empty and in its own colour.
  Harness.Form().ButConnect->click();
  EXPECT_EQ(Harness.Form().ProgressBar->value(), Harness.Form().ProgressBar->minimum() - 1);
  EXPECT_NE(Chunk(), TForm1::FailureColour());
  device.Release();
}

}  // namespace
