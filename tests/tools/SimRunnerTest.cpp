#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <mutex>

#include "engine/FirmwareImage.h"
#include "tests/tools/CommandRun.h"
#include "tools/SimCommand.h"
#include "tools/SimRunner.h"

namespace {

constexpr int kAnswerWaitMs = 2000;

// The programmer's end of a link, kept deliberately plain.
class TPeer {
 public:
  virtual ~TPeer() = default;
  virtual void Send(const std::string& bytes) = 0;
  // Reads until `count` bytes came or the wait ran out.
  std::string Receive(size_t count, int waitMs = kAnswerWaitMs) {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd in{Fd, POLLIN, 0};
      if (poll(&in, 1, 10) <= 0) continue;
      char chunk[4096];
      const ssize_t n = read(Fd, chunk, sizeof chunk);
      if (n > 0) bytes.append(chunk, static_cast<size_t>(n));
    }
    return bytes;
  }

 protected:
  int Fd = -1;
};

class TUdpPeer : public TPeer {
 public:
  explicit TUdpPeer(const std::string& where) {
    Fd = socket(AF_INET, SOCK_DGRAM, 0);
    Board.sin_family = AF_INET;
    Board.sin_port = htons(static_cast<uint16_t>(std::stoi(where.substr(where.rfind(':') + 1))));
    inet_pton(AF_INET, where.substr(0, where.rfind(':')).c_str(), &Board.sin_addr);
  }
  ~TUdpPeer() override { close(Fd); }
  void Send(const std::string& bytes) override {
    sendto(Fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&Board), sizeof Board);
  }

 private:
  sockaddr_in Board{};
};

class TPtyPeer : public TPeer {
 public:
  explicit TPtyPeer(const std::string& path) {
    Fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(Fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(Fd, TCSANOW, &raw);
  }
  ~TPtyPeer() override { close(Fd); }
  void Send(const std::string& bytes) override {
    ASSERT_EQ(write(Fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
};

class SimRunner : public ::testing::TestWithParam<bool> {
 protected:
  void StartBoard(TDeviceModel::TSettings settings = {}, bool once = false) {
    Sim = std::make_unique<TSimRunner>(GetParam() ? OpenPtyLink() : OpenUdpLink("127.0.0.1", 0),
                                       settings);
    Sim->Once = once;  // read by the serving thread: set before it starts
    Sim->OnLog = [this](const std::string& line) {
      std::lock_guard lock(LogLock);
      Log += line + "\n";
    };
    if (GetParam()) {
      Peer = std::make_unique<TPtyPeer>(Sim->Where());
    } else {
      Peer = std::make_unique<TUdpPeer>(Sim->Where());
    }
    Sim->Start();
  }

  std::string LogText() {
    std::lock_guard lock(LogLock);
    return Log;
  }

  // Sends and expects exactly these answer bytes back.
  void ExpectAnswer(const std::string& send, const std::string& answer) {
    Peer->Send(send);
    EXPECT_EQ(Peer->Receive(answer.size()), answer) << "after " << EscapeForLog(send);
  }

  // The log outlives the runner, whose thread writes it until it stops.
  std::mutex LogLock;
  std::string Log;
  std::unique_ptr<TSimRunner> Sim;
  std::unique_ptr<TPeer> Peer;
};

TEST_P(SimRunner, PlaysAWholeRunAndKeepsWhatItAccepted) {
  StartBoard({}, true);
  const std::string section = MakeSection("VEQKUFX01106", 4, "abcdefgh", 1);
  const std::string end = MakeSection("VEQENDF00000", 0, "", 1);
  ExpectAnswer("S", "VEQKUFX01105");
  ExpectAnswer("PROG", "READY");
  ExpectAnswer(section.substr(0, 21), "GET");
  ExpectAnswer(section.substr(21, 4), "GET");
  ExpectAnswer(section.substr(25, 4), "READY");
  ExpectAnswer(end, "APP");
  Peer->Send("VEQENDF");
  // With Once the runner ends by itself after the end command.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (Sim->RunsEnded() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(Sim->RunsEnded(), 1);
  Sim->Stop();
  EXPECT_EQ(Sim->AcceptedImage(), section + end);
  const std::string log = LogText();
  EXPECT_NE(log.find("<< S\n>> VEQKUFX01105\n<< PROG\n-- programming mode\n>> READY\n"),
            std::string::npos)
      << log;
  EXPECT_NE(
      log.find("-- end marker accepted: firmware starts\n>> APP\n<< VEQENDF\n-- boot state\n"),
      std::string::npos)
      << log;
}

TEST_P(SimRunner, SendsLateAnswersNoEarlierThanTheirTime) {
  TDeviceModel::TSettings settings;
  settings.AnswerDelayMs = 80;
  StartBoard(settings);
  const auto sent = std::chrono::steady_clock::now();
  ExpectAnswer("S", "VEQKUFX01105");
  EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(80));
}

TEST_P(SimRunner, AtALineRateAnswersAfterTheWireTimeOfRequestAndAnswer) {
  TDeviceModel::TSettings settings;
  settings.LineRate = 1200;
  // The probe and the identity: (1 + 12) bytes x 11 bits / 1200 Bd = 119166.7 us,
  // rounded up to the microsecond, counted from the probe's delivery.
  constexpr int64_t kWireUs = 119167;
  const std::vector<TDeviceModel::TAnswer> answers = TDeviceModel(settings).Receive("S", 1000);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers.front().AtUs, 1000 * 1000 + kWireUs);
  EXPECT_EQ(answers.front().AtMs(), 1000 + 120) << "rounded up, never early";

  StartBoard(settings);
  const auto sent = std::chrono::steady_clock::now();
  ExpectAnswer("S", "VEQKUFX01105");
  EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::microseconds(kWireUs));
}

TEST_P(SimRunner, StopsWhenAskedThoughNothingHappens) {
  StartBoard();
  const auto asked = std::chrono::steady_clock::now();
  Sim->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(500));
  EXPECT_EQ(Sim->RunsEnded(), 0);
}

INSTANTIATE_TEST_SUITE_P(Links, SimRunner, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Pty" : "Udp"; });

TEST(SimLog, EscapesBytesAndCutsLongDeliveries) {
  EXPECT_EQ(EscapeForLog("GET"), "GET");
  EXPECT_EQ(EscapeForLog(std::string("\r\n\0\\\xFF", 5)), "\\x0D\\x0A\\x00\\x5C\\xFF");
  EXPECT_EQ(EscapeForLog(std::string(20, 'a'), 16), std::string(16, 'a') + "... (20 bytes)");
}

// `veq sim --port DEVICE`: here the device is one side of a pseudo-terminal
// and the test plays the programmer on the other.
TEST(SimLink, SerialDeviceLinkAnswersOnTheLine) {
  const int programmer = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(programmer, 0);
  ASSERT_EQ(grantpt(programmer) | unlockpt(programmer), 0);
  termios raw{};
  tcgetattr(programmer, &raw);
  cfmakeraw(&raw);
  tcsetattr(programmer, TCSANOW, &raw);
  line_driver::TLineSetting line;
  line.Parity = line_driver::TParityBits::Odd;
  TSimRunner sim(OpenSerialLink(ptsname(programmer), line), {});
  EXPECT_EQ(sim.Where(), ptsname(programmer));
  sim.Start();
  ASSERT_EQ(write(programmer, "S", 1), 1);
  std::string answer;
  for (int tries = 0; answer.size() < 12 && tries < 200; ++tries) {
    pollfd in{programmer, POLLIN, 0};
    if (poll(&in, 1, 10) <= 0) continue;
    char chunk[64];
    const ssize_t n = read(programmer, chunk, sizeof chunk);
    if (n > 0) answer.append(chunk, static_cast<size_t>(n));
  }
  EXPECT_EQ(answer, "VEQKUFX01105");
  sim.Stop();
  close(programmer);
}

TEST(SimLink, ReportsWhyALinkCannotBeMade) {
  EXPECT_THROW(OpenUdpLink("not an address", 0), std::runtime_error);
  EXPECT_THROW(OpenSerialLink("/dev/veq-no-such-device", {}), std::runtime_error);
  const auto first = OpenUdpLink("127.0.0.1", 0);
  const std::string where = first->Where();
  const auto port = static_cast<uint16_t>(std::stoi(where.substr(where.rfind(':') + 1)));
  EXPECT_NE(port, 0) << "the port the kernel chose is named";
  EXPECT_THROW(OpenUdpLink("127.0.0.1", port), std::runtime_error) << "port in use";
}

// Every option is checked before a link opens, so none of these makes one.
TEST(SimCommand, RefusesBadOptionsBeforeOpeningALink) {
  const struct {
    std::vector<std::string> Args;
    std::string Error;
  } cases[] = {
      {{}, "нужен ровно один из --pty, --port УСТРОЙСТВО, --udp IP:ПОРТ"},
      {{"--pty", "--udp", "127.0.0.1:0"}, "нужен ровно один из --pty, --port УСТРОЙСТВО, --udp IP:ПОРТ"},
      {{"--port", ""}, "--port: нужно имя устройства"},
      {{"--port", "/dev/veq-none", "--parity", "banana"},
       "--parity «banana»: можно none, odd, even, mark, space"},
      {{"--port", "/dev/veq-none", "--data-bits", "9"}, "--data-bits «9»: можно 5, 6, 7, 8"},
      {{"--pty", "--baud", "9600"}, "--baud бывает только с --port"},
      {{"--udp", "127.0.0.1"}, "--udp «127.0.0.1»: нужно IP:ПОРТ"},
      {{"--udp", "127.0.0.1:65536"}, "--udp «65536»: нужен номер порта от 0 до 65535"},
      {{"--udp", "192.168.0.300:5"},
       "--udp «192.168.0.300»: это не адрес IPv4 (четыре числа 0–255 через точку)"},
      {{"--pty", "--id", "VEQKUFX0110"}, "--id «VEQKUFX0110»: нужно ровно 12 байт"},
      {{"--pty", "--wrong-at", "0"}, "--wrong-at «0»: нужен номер блока от 1"},
      {{"--pty", "--wrong-at", "1", "--err-at", "2"},
       "можно только один из --wrong-at, --err-at, --silent-at, --noise-at, --split-at, "
       "--gone-at"},
      {{"--pty", "--gone-at", "1", "--split-at", "2"},
       "можно только один из --wrong-at, --err-at, --silent-at, --noise-at, --split-at, "
       "--gone-at"},
      {{"--pty", "--split-at", "x"}, "--split-at «x»: нужен номер блока от 1"},
      {{"--udp", "127.0.0.1:0", "--gone-at", "0"}, "--gone-at «0»: нужен номер блока от 1"},
      {{"--pty", "--noise-at", ""}, "--noise-at «»: нужен номер блока от 1"},
      {{"--pty", "--count-headers"},
       "--count-headers бывает только с номером блока сбоя (--wrong-at и другие)"},
      {{"--pty", "--delay-ms", "-5"}, "--delay-ms «-5»: нужно число миллисекунд от 0 до 86400000"},
      {{"--pty", "--line-rate", "9600.5"},
       "--line-rate «9600.5»: нужна скорость в бодах от 50 до 4000000"},
      {{"--pty", "extra"}, "лишний аргумент «extra»"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    const TCommandRun run = RunCommand(RunSimCommand, c.Args);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, "veq sim: " + c.Error + "\nСправка: veq sim --help\n");
  }
}

}  // namespace
