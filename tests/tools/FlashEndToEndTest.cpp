// `veq flash` against `veq sim`, both run as programs, over a pseudo-terminal
// and over UDP loopback (192.168.0.254 only inside the test namespace).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tests/support/TempDir.h"
#include "tests/tools/ChildProcess.h"
#include "records/ImageDigest.h"
#include "tests/tools/CommandRun.h"
#include "tools/InfoCommand.h"
#include "tools/PackCommand.h"
#include "tools/RecordsCommand.h"

namespace {

const std::string kVeq = VEQ_EXECUTABLE;
const std::string kSuccess = "Успешно. Устройство перезагружается.";
// Timer periods and sleeps of the flasher run this many times faster.
const std::string kFastTime = "VEQ_FLASH_TIME_DIVISOR=10";
constexpr int kFlashWaitMs = 15000;
constexpr int kSimWaitMs = 5000;

bool AddressIsLocal(const char* ip) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, ip, &address.sin_addr);
  const bool local = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return local;
}

#define SKIP_UNLESS_DEVICE_ADDRESS_IS_LOCAL()                                               \
  if (!AddressIsLocal("192.168.0.254"))                                                     \
  GTEST_SKIP() << "192.168.0.254 is not a local address here (run the tests through "       \
                  "scripts/in-netns); kind-2 boards always talk to it, and nothing may be " \
                  "sent there outside the test namespace"

// Images are compared whole; a difference is told by size, not byte by byte.
void ExpectSameImage(const std::string& boardPath, const std::string& imagePath) {
  const std::string board = ReadFile(boardPath), image = ReadFile(imagePath);
  EXPECT_TRUE(board == image) << "the board holds " << board.size() << " bytes, not the "
                              << image.size() << " bytes of the image";
}

struct TSim {
  std::unique_ptr<TChildProcess> Process;
  std::string Where;  // port text, or IP:PORT
  std::string LogPath;
  std::string OutPath;

  std::vector<std::string> LinkArgs() const {
    const size_t colon = Where.rfind(':');
    // Any free local UDP port: a kind-2 board opens UDP over a serial link too.
    if (Where.starts_with("/")) return {"--port", Where, "--local-port", "0"};
    return {"--udp", Where.substr(0, colon), "--udp-port", Where.substr(colon + 1), "--local-port",
            "0"};
  }
  std::string Log() const { return ReadFile(LogPath); }
};

struct TFlash {
  int Status;
  std::string Out;
  std::string Err;
};

class FlashEndToEnd : public ::testing::Test {
 public:
  // A two-section image of the board, packed as `veq pack` packs it.
  std::string PackImage(const std::string& board, const std::string& version = "106",
                        size_t section0 = 700, size_t section1 = 300, int blockSize = 64) {
    std::string data0(section0, '\0'), data1(section1, '\0');
    for (size_t i = 0; i < data0.size(); ++i)
      data0[i] = static_cast<char>(i * 7 + 3);
    for (size_t i = 0; i < data1.size(); ++i)
      data1[i] = static_cast<char>(i * 11 + 5);
    const std::string image = Dir.File(board + version + ".vqf");
    std::ostringstream out, err;
    const int status = RunPackCommand(
        {"-o", image, "--board", board, "--variant", "01", "--version", version, "--block-size",
         std::to_string(blockSize), Dir.Write("s0.bin", data0), Dir.Write("s1.bin", data1)},
        out, err);
    EXPECT_EQ(status, 0) << err.str();
    return image;
  }

  // `veq sim LINK --once --out FILE ARGS...`; waits for where it listens.
  TSim StartSim(const std::vector<std::string>& link, const std::vector<std::string>& args = {}) {
    TSim sim;
    const std::string name = "sim" + std::to_string(++Sims);
    sim.LogPath = Dir.File(name + ".log");
    sim.OutPath = Dir.File(name + ".vqf");
    std::vector<std::string> argv = {kVeq, "sim"};
    argv.insert(argv.end(), link.begin(), link.end());
    argv.insert(argv.end(), {"--once", "--out", sim.OutPath});
    argv.insert(argv.end(), args.begin(), args.end());
    sim.Process = std::make_unique<TChildProcess>(argv, sim.LogPath, Dir.File(name + ".err"));
    sim.Where = WaitForFirstLine(sim.LogPath, kSimWaitMs);
    EXPECT_FALSE(sim.Where.empty()) << ReadFile(Dir.File(name + ".err"));
    return sim;
  }

  TFlash Flash(const std::string& image, const std::vector<std::string>& args,
               const std::vector<std::string>& env = {kFastTime}) {
    const std::string name = "flash" + std::to_string(++Flashes);
    std::vector<std::string> argv = {kVeq, "flash", image};
    argv.insert(argv.end(), args.begin(), args.end());
    TChildProcess flash(argv, Dir.File(name + ".out"), Dir.File(name + ".err"), env);
    const int status = flash.Wait(kFlashWaitMs);
    return {status, ReadFile(Dir.File(name + ".out")), ReadFile(Dir.File(name + ".err"))};
  }

  // Flashes the image through the sim and checks that the board holds it.
  void ExpectWritten(TSim& sim, const std::string& image,
                     const std::vector<std::string>& env = {kFastTime}) {
    const TFlash run = Flash(image, sim.LinkArgs(), env);
    EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_NE(run.Out.find(kSuccess + "\nОтключено.\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Err.find(kSuccess), std::string::npos) << run.Err;
    EXPECT_EQ(sim.Process->Wait(kSimWaitMs), 0) << sim.Log();
    ExpectSameImage(sim.OutPath, image);
  }

  TTempDir Dir;
  int Sims = 0;
  int Flashes = 0;
};

TEST_F(FlashEndToEnd, WritesEveryBoardKindOverAPseudoTerminal) {
  for (const std::string board : {"MK2A", "KUFX", "OXR_"}) {
    SCOPED_TRACE(board);
    TSim sim = StartSim({"--pty"}, {"--id", "VEQ" + board + "01105"});
    ExpectWritten(sim, PackImage(board));
  }
}

TEST_F(FlashEndToEnd, WritesBoardKindsZeroAndOneOverUdpLoopback) {
  for (const std::string board : {"MK2A", "KUFX"}) {
    SCOPED_TRACE(board);
    TSim sim = StartSim({"--udp", "127.0.0.1:0"}, {"--id", "VEQ" + board + "01105"});
    ExpectWritten(sim, PackImage(board));
  }
}

TEST_F(FlashEndToEnd, WritesBoardKindTwoThroughItsFixedAddress) {
  SKIP_UNLESS_DEVICE_ADDRESS_IS_LOCAL();
  TSim sim = StartSim({"--udp", "192.168.0.254:0"}, {"--id", "VEQOXR_01105"});
  ExpectWritten(sim, PackImage("OXR_"));
  EXPECT_NE(sim.Log().find("<< ~\\x00\\x09\\xAA\\xBB\\xCC\\xD4~"), std::string::npos)
      << "the kind-2 wake-up reached the board: " << sim.Log();
}

// What a bench times the board's exchanges by.
TEST_F(FlashEndToEnd, SimWithTimesStampsEveryLineButTheFirstInOrder) {
  TSim sim = StartSim({"--pty"}, {"--times"});
  ExpectWritten(sim, PackImage("KUFX"));
  std::istringstream log(sim.Log());
  std::string line;
  std::getline(log, line);
  EXPECT_EQ(line, sim.Where);
  double last = 0;
  int stamped = 0;
  while (std::getline(log, line)) {
    SCOPED_TRACE(line);
    std::istringstream fields(line);
    double seconds = -1;
    std::string tag;
    fields >> seconds >> tag;
    EXPECT_GE(seconds, last);
    EXPECT_TRUE(tag == "<<" || tag == ">>" || tag == "--");
    last = seconds;
    ++stamped;
  }
  EXPECT_GT(stamped, 20);
}

// Without the test seam: the real timer periods and sleeps.
TEST_F(FlashEndToEnd, WritesAtTheRealPaceOverAPseudoTerminal) {
  TSim pty = StartSim({"--pty"});
  ExpectWritten(pty, PackImage("KUFX"), {});
}

TEST_F(FlashEndToEnd, WritesAtTheRealPaceOverUdp) {
  TSim udp = StartSim({"--udp", "127.0.0.1:0"}, {"--id", "VEQMK2A01105"});
  ExpectWritten(udp, PackImage("MK2A"), {});
}

TEST_F(FlashEndToEnd, NoisyLateAndSleepyBoardsAreWrittenAllTheSame) {
  const std::string image = PackImage("KUFX");
  for (const std::vector<std::string>& knobs :
       {std::vector<std::string>{"--noise"}, {"--delay-ms", "15"}, {"--boot-after-ms", "300"}}) {
    SCOPED_TRACE(knobs.front());
    TSim pty = StartSim({"--pty"}, knobs);
    ExpectWritten(pty, image);
  }
  TSim udp = StartSim({"--udp", "127.0.0.1:0"}, {"--noise", "--delay-ms", "5"});
  ExpectWritten(udp, image);
}

TEST_F(FlashEndToEnd, DeviceErrorsEndTheRunWithStatusOne) {
  const std::string image = PackImage("KUFX");
  const std::pair<const char*, const char*> faults[] = {{"--wrong-at", "WRONG"}, {"--err-at", "ERR"}};
  for (const auto& [knob, word] : faults) {
    const std::string line = std::string(word) + " Произошла ошибка";
    for (const std::vector<std::string>& link :
         {std::vector<std::string>{"--pty"}, {"--udp", "127.0.0.1:0"}}) {
      SCOPED_TRACE(std::string(knob) + " " + link.front());
      TSim sim = StartSim(link, {knob, "4"});
      const TFlash run = Flash(image, sim.LinkArgs());
      EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
      EXPECT_NE(run.Out.find("Запись блока 4/11\n" + std::string(line) + "\n"), std::string::npos)
          << run.Out;
      EXPECT_EQ(run.Out.find("Запись блока 5/11"), std::string::npos) << run.Out;
      EXPECT_EQ(run.Out.find(kSuccess), std::string::npos);
      EXPECT_EQ(run.Err, "Запись прервана на блоке 4 из 11 (раздел 0): устройство ответило " +
                             std::string(word) + ".\n");
      EXPECT_EQ(sim.Process->Wait(kSimWaitMs), 0) << "the end command came: " << sim.Log();
    }
  }
}

// The 60 s limit is counted in nominal 300 ms ticks that the test seam runs
// a hundred times faster: 200 ticks in about 0.6 s.
TEST_F(FlashEndToEnd, SilentBoardTimesOutAfterTwoHundredTicksWithStatusSix) {
  const std::string image = PackImage("KUFX");
  TSim sim = StartSim({"--udp", "127.0.0.1:0"}, {"--silent-at", "2"});
  const auto started = std::chrono::steady_clock::now();
  const TFlash run = Flash(image, sim.LinkArgs(), {"VEQ_FLASH_TIME_DIVISOR=100"});
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(run.Status, 6) << run.Out << run.Err;
  EXPECT_NE(run.Err.find("на блоке 2 из 11 (раздел 0): устройство не ответило за 60 сек."),
            std::string::npos)
      << run.Err;
  EXPECT_NE(run.Out.find("Запись блока 2/11\nTimeout. Устройство не ответило. 60 сек\n"),
            std::string::npos)
      << run.Out;
  EXPECT_GE(took, std::chrono::milliseconds(500)) << "fewer than 200 ticks were counted";
  EXPECT_EQ(sim.Process->Wait(kSimWaitMs), 0) << sim.Log();
}

TEST_F(FlashEndToEnd, ImageOfAnotherBoardIsRefusedWithStatusFour) {
  TSim sim = StartSim({"--pty"}, {"--id", "VEQOXR_01105"});
  const TFlash run = Flash(PackImage("KUFX"), sim.LinkArgs());
  EXPECT_EQ(run.Status, 4);
  EXPECT_NE(run.Out.find("Идентификатор не совпадает: FileID=VEQKUFX01106DeviceID=VEQOXR_01105\n"),
            std::string::npos)
      << run.Out;
  EXPECT_NE(
      run.Err.find("Идентификатор не совпадает: \nFileID=VEQKUFX01106\nDeviceID=VEQOXR_01105"),
      std::string::npos)
      << run.Err;
  EXPECT_EQ(run.Out.find("Запись заголовка"), std::string::npos) << "nothing was written";
  EXPECT_EQ(sim.Process->Wait(kSimWaitMs), 0) << sim.Log();
  EXPECT_EQ(sim.Log().find("-- end marker"), std::string::npos);
}

TEST_F(FlashEndToEnd, VersionQuestionIsRefusedWithoutATerminalAndAnsweredByYes) {
  const std::string image = PackImage("KUFX", "105");
  TSim refused = StartSim({"--pty"}, {"--id", "VEQKUFX01105"});
  const TFlash run = Flash(image, refused.LinkArgs());
  EXPECT_EQ(run.Status, 5);
  EXPECT_NE(run.Err.find("Внимание!\nПрограммная версия в файле прошивки: 105\nПрограммная версия "
                         "платы: 105\nВы действительно хотите продолжить?\n"),
            std::string::npos)
      << run.Err;
  EXPECT_NE(run.Err.find("--yes отвечает OK"), std::string::npos) << run.Err;
  EXPECT_NE(run.Out.find("Прервано пользователем.\n"), std::string::npos) << run.Out;
  EXPECT_EQ(refused.Process->Wait(kSimWaitMs), 0) << refused.Log();

  TSim answered = StartSim({"--udp", "127.0.0.1:0"}, {"--id", "VEQKUFX01105"});
  std::vector<std::string> args = answered.LinkArgs();
  args.push_back("--yes");
  const TFlash yes = Flash(image, args);
  EXPECT_EQ(yes.Status, 0) << yes.Out << yes.Err;
  EXPECT_EQ(answered.Process->Wait(kSimWaitMs), 0);
  ExpectSameImage(answered.OutPath, image);
}

// The question on a terminal: the answer is read from it, "д" for OK.
TEST_F(FlashEndToEnd, VersionQuestionOnATerminalTakesTheOperatorsAnswer) {
  const std::string image = PackImage("KUFX", "105");
  for (const std::string answer : {"д", "н"}) {
    SCOPED_TRACE(answer);
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal) | unlockpt(terminal), 0);
    TSim sim = StartSim({"--udp", "127.0.0.1:0"});
    std::vector<std::string> argv = {kVeq, "flash", image};
    for (const std::string& arg : sim.LinkArgs())
      argv.push_back(arg);
    const std::string out = Dir.File("asked.out"), err = Dir.File("asked.err");
    TChildProcess flash(argv, out, err, {kFastTime}, ptsname(terminal));
    ASSERT_TRUE(WaitForText(err, "Продолжить? [д/Н] ", kFlashWaitMs)) << ReadFile(err);
    const std::string line = answer + "\n";
    ASSERT_EQ(write(terminal, line.data(), line.size()), ssize_t(line.size()));
    EXPECT_EQ(flash.Wait(kFlashWaitMs), answer == "д" ? 0 : 5) << ReadFile(out);
    EXPECT_EQ(ReadFile(out).find("Прервано пользователем.") == std::string::npos, answer == "д");
    EXPECT_EQ(sim.Process->Wait(kSimWaitMs), 0);
    close(terminal);
  }
}

TEST_F(FlashEndToEnd, LinkThatCannotBeOpenedExitsThree) {
  const std::string image = PackImage("KUFX");
  const TFlash serial = Flash(image, {"--port", "/dev/veq-no-such-port"});
  EXPECT_EQ(serial.Status, 3);
  EXPECT_NE(serial.Err.find("/dev/veq-no-such-port не удалось открыть."), std::string::npos)
      << serial.Err;
  EXPECT_NE(serial.Err.find("veq flash: нет такого порта"), std::string::npos) << serial.Err;
  EXPECT_NE(serial.Out.find("Причина: нет такого порта."), std::string::npos) << serial.Out;

  // The local port is taken by another socket.
  const int taken = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t size = sizeof address;
  getsockname(taken, reinterpret_cast<sockaddr*>(&address), &size);
  const TFlash udp = Flash(image, {"--udp", "127.0.0.1", "--udp-port", "9", "--local-port",
                                   std::to_string(ntohs(address.sin_port))});
  close(taken);
  EXPECT_EQ(udp.Status, 3);
  EXPECT_NE(udp.Err.find("Соединение не установлено. Возможно порт занят"), std::string::npos)
      << udp.Err;
}

// Ctrl-C in the middle of section 0, with the board's answer to the last
// block still on its way.
TSim InterruptARun(FlashEndToEnd& test, const std::vector<std::string>& link) {
  TSim sim = test.StartSim(link, {"--delay-ms", "10"});
  std::vector<std::string> argv = {kVeq, "flash", test.PackImage("KUFX", "106", 4000, 300)};
  for (const std::string& arg : sim.LinkArgs())
    argv.push_back(arg);
  const std::string out = test.Dir.File("interrupted.out");
  TChildProcess flash(argv, out, test.Dir.File("interrupted.err"), {kFastTime});
  EXPECT_TRUE(WaitForText(out, "Запись блока 5/63\n", kFlashWaitMs)) << ReadFile(out);
  flash.Signal(SIGINT);
  EXPECT_EQ(flash.Wait(kFlashWaitMs), 130);
  EXPECT_NE(ReadFile(out).find("Отключено.\n"), std::string::npos) << ReadFile(out);
  EXPECT_EQ(ReadFile(out).find(kSuccess), std::string::npos);
  const std::string err = ReadFile(test.Dir.File("interrupted.err"));
  EXPECT_NE(err.find("(раздел 0): отключено. Плата содержит неполный образ, запишите его заново.\n"),
            std::string::npos)
      << err;
  EXPECT_TRUE(WaitForText(sim.LogPath, "<< VEQENDF\n", kSimWaitMs)) << sim.Log();
  return sim;
}

TEST_F(FlashEndToEnd, CtrlCDuringARunSendsTheEndCommandAndExits130) {
  InterruptARun(*this, {"--pty"});
  InterruptARun(*this, {"--udp", "127.0.0.1:0"});
}

// The end command must be the last thing the board hears, or it takes the
// bytes after it for more data and stays in programming mode.
TEST_F(FlashEndToEnd, NothingFollowsTheEndCommandOfAnInterruptedRun) {
  for (const std::vector<std::string>& link :
       {std::vector<std::string>{"--pty"}, {"--udp", "127.0.0.1:0"}}) {
    SCOPED_TRACE(link.front());
    TSim sim = InterruptARun(*this, link);
    EXPECT_EQ(sim.Process->Wait(kSimWaitMs), 0) << "the board went back to its boot state";
    const std::string log = sim.Log();
    EXPECT_EQ(log.substr(log.find("<< VEQENDF\n")), "<< VEQENDF\n-- boot state\n") << log;
  }
}

// The board behind the pseudo-terminal goes away mid-run: the run ends at
// once with the link's failure, not at the 60 s time-out.
TEST_F(FlashEndToEnd, ALineThatHangsUpEndsTheRunAtOnceWithStatusThree) {
  TSim sim = StartSim({"--pty"}, {"--delay-ms", "10"});
  std::vector<std::string> argv = {kVeq, "flash", PackImage("KUFX", "106", 4000, 300)};
  for (const std::string& arg : sim.LinkArgs())
    argv.push_back(arg);
  const std::string out = Dir.File("hung.out"), err = Dir.File("hung.err");
  TChildProcess flash(argv, out, err);  // real time: a time-out would take 60 s
  ASSERT_TRUE(WaitForText(out, "Запись блока 5/63\n", kFlashWaitMs)) << ReadFile(out);
  sim.Process->Signal(SIGKILL);
  const auto killed = std::chrono::steady_clock::now();
  EXPECT_EQ(flash.Wait(kFlashWaitMs), 3) << ReadFile(out) << ReadFile(err);
  EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(3));
  // Killed just after an answer, the board leaves the next block to be
  // written into the dead line: then the failed write tells of the loss
  // before the hang-up can. Either is the link's failure, at once.
  const bool toldAsHangUp =
      ReadFile(out).find("Ошибка связи с устройством: линия оборвана. Сеанс прерван.\n") !=
          std::string::npos &&
      ReadFile(err).find("(раздел 0): ошибка связи с устройством (линия оборвана).\n") !=
          std::string::npos;
  const bool toldAsFailedWrite =
      ReadFile(out).find("Ошибка связи с устройством: Ошибка записи в порт. Сеанс прерван.\n") !=
          std::string::npos &&
      ReadFile(err).find("(раздел 0): ошибка связи с устройством (Ошибка записи в порт).\n") !=
          std::string::npos;
  EXPECT_TRUE(toldAsHangUp || toldAsFailedWrite) << ReadFile(out) << ReadFile(err);
}

TEST_F(FlashEndToEnd, BoardThatNeverGetsReadyEndsAtTheConnectTimeOutWithStatusSeven) {
  TSim sim = StartSim({"--udp", "127.0.0.1:0"}, {"--boot-after-ms", "60000"});
  std::vector<std::string> args = sim.LinkArgs();
  args.insert(args.end(), {"--connect-timeout", "0.3"});
  const TFlash run = Flash(PackImage("KUFX"), args);
  EXPECT_EQ(run.Status, 7);
  EXPECT_NE(run.Err.find("Устройство не готово к записи за 0.3 сек"), std::string::npos)
      << run.Err;
  EXPECT_NE(run.Out.find("Ожидание...\nОтключено.\n"), std::string::npos) << run.Out;
  EXPECT_TRUE(WaitForText(sim.LogPath, "<< VEQENDF", kSimWaitMs))
      << "Disconnect ran: " << sim.Log();
}

TEST_F(FlashEndToEnd, UsageAndImageErrorsExitTwoBeforeAnythingIsSent) {
  const std::string image = PackImage("KUFX");
  const TFlash typo = Flash(image, {"--port", "/dev/veq-no-such-port", "--parity", "banana"});
  EXPECT_EQ(typo.Status, 2);
  EXPECT_EQ(typo.Out, "") << "no link was opened";
  EXPECT_EQ(typo.Err.substr(typo.Err.find('\n')), "\nСправка: veq flash --help\n") << typo.Err;
  EXPECT_NE(typo.Err.find("banana"), std::string::npos) << typo.Err;
  EXPECT_EQ(Flash(image, {}).Status, 2);
  EXPECT_EQ(Flash(image, {"--port", "x", "--udp", "127.0.0.1", "--udp-port", "0"}).Status, 2);
  EXPECT_EQ(Flash(image, {"--udp", "127.0.0.1", "--udp-port", "0"}).Status, 2);
  EXPECT_EQ(Flash(image, {"--udp", "127.0.0.1", "--connect-timeout", "soon"}).Status, 2);
  EXPECT_EQ(Flash(image, {"--udp", "127.0.0.1"}, {"VEQ_FLASH_TIME_DIVISOR=0"}).Status, 2);

  const TFlash missing = Flash(Dir.File("none.vqf"), {"--udp", "127.0.0.1"});
  EXPECT_EQ(missing.Status, 2);
  EXPECT_NE(missing.Err.find("не удаётся открыть образ"), std::string::npos) << missing.Err;

  // Nothing that is not a regular file is opened: a FIFO would block.
  const std::string fifo = Dir.File("fifo.vqf");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& notAnImage : {fifo, Dir.Path(), std::string("/dev/null")}) {
    const TFlash refused = Flash(notAnImage, {"--udp", "127.0.0.1"});
    EXPECT_EQ(refused.Status, 2) << notAnImage;
    EXPECT_NE(refused.Err.find("не файл образа"), std::string::npos) << refused.Err;
  }

  // A refused image is worded as veq info --all judges it; an all-zero 2 GB
  // file (sparse: it takes no room) included.
  std::string damaged = ReadFile(image);
  damaged[21 + 100] ^= 1;
  const std::string zeros = Dir.Write("zeros.vqf", "");
  std::filesystem::resize_file(zeros, 2ull << 30);
  const std::pair<std::string, std::string> refusals[] = {
      {Dir.Write("bad.vqf", damaged), "КОНТРОЛЬНАЯ СУММА НЕ СОВПАДАЕТ"},
      {zeros, "НОЛЬ БЛОКОВ БЕЗ КОНЕЧНОГО МАРКЕРА"},
  };
  for (const auto& [refused, verdict] : refusals) {
    const TFlash bad = Flash(refused, {"--udp", "127.0.0.1"});
    EXPECT_EQ(bad.Status, 2);
    EXPECT_EQ(bad.Out, "") << "no link was opened";
    EXPECT_NE(bad.Err.find("раздел 0 — " + verdict), std::string::npos) << bad.Err;
    const TCommandRun info = RunCommand(RunInfoCommand, {"--all", refused});
    EXPECT_NE(info.Out.find(verdict), std::string::npos) << info.Out;
  }
  EXPECT_EQ(RunCommand(RunInfoCommand, {zeros}).Out.find('\0'), std::string::npos);
}

// --json: one object a line and nothing else on standard output, the result
// last, its digest that of the image file.
TEST_F(FlashEndToEnd, JsonStreamDescribesTheRunLineByLine) {
  const std::string image = PackImage("KUFX");
  TChildProcess digest({"/usr/bin/sha256sum", image}, Dir.File("sum"), Dir.File("sum.err"));
  ASSERT_EQ(digest.Wait(kSimWaitMs), 0);
  const std::string sha256 = ReadFile(Dir.File("sum")).substr(0, 64);
  const struct {
    std::vector<std::string> Knobs;
    std::string Outcome;
    int Exit;
  } runs[] = {{{}, "written", 0}, {{"--err-at", "3"}, "device-error", 1}};
  for (const auto& expected : runs) {
    SCOPED_TRACE(expected.Outcome);
    TSim sim = StartSim({"--udp", "127.0.0.1:0"}, expected.Knobs);
    std::vector<std::string> args = sim.LinkArgs();
    args.push_back("--json");
    const TFlash run = Flash(image, args);
    EXPECT_EQ(run.Status, expected.Exit) << run.Err;
    std::vector<nlohmann::json> events;
    std::istringstream lines(run.Out);
    for (std::string line; std::getline(lines, line);)
      events.push_back(nlohmann::json::parse(line));  // throws on a line that is no JSON
    ASSERT_FALSE(events.empty());
    std::set<std::string> kinds;
    for (const auto& event : events)
      kinds.insert(event.at("event").get<std::string>());
    for (const char* kind : {"log", "status", "progress", "result"})
      EXPECT_EQ(kinds.count(kind), 1u) << kind;
    EXPECT_EQ(kinds.count("message"), expected.Exit == 0 ? 1u : 0u) << "the success box";
    const nlohmann::json& result = events.back();
    EXPECT_EQ(result["event"], "result");
    EXPECT_EQ(result["outcome"], expected.Outcome);
    EXPECT_EQ(result["exit"], expected.Exit);
    EXPECT_EQ(result["device_id"], "VEQKUFX01105");
    EXPECT_EQ(result["image"], image);
    EXPECT_EQ(result["image_sha256"], sha256);
    EXPECT_GE(result["seconds"].get<double>(), 0.0);
    if (expected.Exit == 0) {
      EXPECT_EQ(result["blocks"], 16);  // 11 + 5 blocks of 64 bytes
      EXPECT_EQ(result["bytes"], 1024);
    } else {
      EXPECT_EQ(result["blocks"], 2) << "blocks 1 and 2 confirmed";
      EXPECT_EQ(result["section"], 0);
      EXPECT_EQ(result["block"], 3);
    }
    EXPECT_EQ(sim.Process->Wait(kSimWaitMs), 0);
  }
}

std::vector<nlohmann::json> RecordsIn(const std::string& path,
                                      const std::vector<std::string>& filter = {}) {
  std::vector<std::string> args = {"--records", path, "--json"};
  args.insert(args.end(), filter.begin(), filter.end());
  const TCommandRun run = RunCommand(RunRecordsCommand, args);
  EXPECT_EQ(run.Status, 0) << run.Err;
  std::vector<nlohmann::json> records;
  std::istringstream lines(run.Out);
  for (std::string line; std::getline(lines, line);)
    records.push_back(nlohmann::json::parse(line));
  return records;
}

// A written run, a failed one and one killed mid-run (a crash, a power cut
// of the host) each leave their record.
TEST_F(FlashEndToEnd, EveryRunLeavesARecordWrittenFailedOrKilled) {
  const std::string records = Dir.File("runs.sqlite");
  const std::string image = PackImage("KUFX");
  TSim good = StartSim({"--pty"});
  std::vector<std::string> args = good.LinkArgs();
  args.insert(args.end(), {"--records", records});
  EXPECT_EQ(Flash(image, args).Status, 0);

  TSim failing = StartSim({"--udp", "127.0.0.1:0"}, {"--err-at", "3"});
  args = failing.LinkArgs();
  args.insert(args.end(), {"--records", records});
  EXPECT_EQ(Flash(image, args).Status, 1);

  TSim slow = StartSim({"--pty"}, {"--delay-ms", "10"});
  std::vector<std::string> argv = {kVeq, "flash", image, "--records", records};
  for (const std::string& arg : slow.LinkArgs())
    argv.push_back(arg);
  const std::string out = Dir.File("killed.out");
  TChildProcess flash(argv, out, Dir.File("killed.err"), {kFastTime});
  EXPECT_TRUE(WaitForText(out, "Запись блока 3/", kFlashWaitMs)) << ReadFile(out);
  flash.Signal(SIGKILL);
  EXPECT_EQ(flash.Wait(kFlashWaitMs), 128 + SIGKILL);

  const std::vector<nlohmann::json> listed = RecordsIn(records);
  ASSERT_EQ(listed.size(), 3u);
  const nlohmann::json& written = listed[0];
  EXPECT_EQ(written["outcome"], "written");
  EXPECT_EQ(written["link"], "serial");
  EXPECT_EQ(written["target"], good.Where);
  EXPECT_EQ(written["device_id"], "VEQKUFX01105");
  EXPECT_EQ(written["image"], std::filesystem::absolute(image).string());
  EXPECT_EQ(written["image_sha256"], FileSha256(image));
  EXPECT_EQ(written["board"], "KUFX");
  EXPECT_EQ(written["variant"], "01");
  EXPECT_EQ(written["version"], "106");
  EXPECT_EQ(written["blocks"], 16);  // 11 + 5 blocks of 64 bytes, the last ones padded
  EXPECT_EQ(written["bytes"], 16 * 64);
  EXPECT_FALSE(written["ended"].is_null());
  EXPECT_GE(written["ended"].get<std::string>(), written["started"].get<std::string>());

  const nlohmann::json& failed = listed[1];
  EXPECT_EQ(failed["outcome"], "device-error");
  EXPECT_EQ(failed["link"], "udp");
  EXPECT_EQ(failed["target"], failing.Where);
  EXPECT_EQ(failed["section"], 0);
  EXPECT_EQ(failed["block"], 3);
  EXPECT_EQ(failed["blocks"], 2);

  const nlohmann::json& killed = listed[2];
  EXPECT_EQ(killed["outcome"], "interrupted");
  EXPECT_TRUE(killed["ended"].is_null());
  EXPECT_TRUE(killed["section"].is_null());

  EXPECT_EQ(RecordsIn(records, {"--outcome", "device-error"}).size(), 1u);
  EXPECT_EQ(RecordsIn(records, {"--device", "VEQKUFX01105", "--since", "2000-01-01"}).size(), 2u);
  const TCommandRun csv = RunCommand(RunRecordsCommand, {"--records", records, "--csv"});
  EXPECT_EQ(csv.Out.rfind("started,ended,host,link,target,device_id,", 0), 0u) << csv.Out;
  EXPECT_EQ(std::count(csv.Out.begin(), csv.Out.end(), '\n'), 4);
}

// Without --records the window's settings name the file (the test's own
// config folder), and veq records finds it the same way.
TEST_F(FlashEndToEnd, TheSettingsKeyMovesTheRecordsOfBothCommands) {
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  ASSERT_NE(configHome, nullptr) << "every test has its own config folder";
  const std::string records = Dir.File("moved.sqlite");
  std::filesystem::create_directories(std::string(configHome) + "/veq-programmer");
  std::ofstream(std::string(configHome) + "/veq-programmer/veq-programmer.ini")
      << "[Records]\nFile=" << records << "\n";
  TSim sim = StartSim({"--pty"});
  EXPECT_EQ(Flash(PackImage("KUFX"), sim.LinkArgs()).Status, 0);
  const TCommandRun listed = RunCommand(RunRecordsCommand, {"--json"});
  EXPECT_EQ(listed.Status, 0) << listed.Err;
  EXPECT_NE(listed.Out.find("\"outcome\":\"written\""), std::string::npos) << listed.Out;
  EXPECT_TRUE(std::filesystem::exists(records));
}

// Three flashers at once append to one file: every run is there.
TEST_F(FlashEndToEnd, FlashersRunningAtOnceShareOneRecordsFile) {
  const std::string records = Dir.File("runs.sqlite");
  const std::string image = PackImage("KUFX");
  std::vector<TSim> sims;
  std::vector<std::unique_ptr<TChildProcess>> flashers;
  for (int i = 0; i < 3; ++i) {
    sims.push_back(StartSim({"--pty"}));
    std::vector<std::string> argv = {kVeq, "flash", image, "--records", records};
    for (const std::string& arg : sims.back().LinkArgs())
      argv.push_back(arg);
    const std::string name = "parallel" + std::to_string(i);
    flashers.push_back(std::make_unique<TChildProcess>(argv, Dir.File(name + ".out"),
                                                       Dir.File(name + ".err"),
                                                       std::vector<std::string>{kFastTime}));
  }
  for (auto& flasher : flashers)
    EXPECT_EQ(flasher->Wait(kFlashWaitMs), 0);
  EXPECT_EQ(RecordsIn(records, {"--outcome", "written"}).size(), 3u);
}

// The board is written all the same; the log says once why there is no record.
TEST_F(FlashEndToEnd, ARecordsFileThatCannotBeOpenedDoesNotStopTheRun) {
  TSim sim = StartSim({"--pty"});
  std::vector<std::string> args = sim.LinkArgs();
  args.insert(args.end(), {"--records", Dir.File("no-such-folder/runs.sqlite")});
  const TFlash run = Flash(PackImage("KUFX"), args);
  EXPECT_EQ(run.Status, 0) << run.Err;
  const std::string told = "Записи о запусках не ведутся: " + Dir.File("no-such-folder/runs.sqlite");
  EXPECT_NE(run.Out.find(told), std::string::npos) << run.Out;
  EXPECT_EQ(run.Out.find(told), run.Out.rfind(told));
}

TEST_F(FlashEndToEnd, RecordsCommandRefusesWhatItCannotUnderstand) {
  const std::string records = Dir.File("runs.sqlite");
  const struct {
    std::vector<std::string> Args;
    int Status;
  } cases[] = {
      {{"--records", records}, 1},  // no file yet: nothing was recorded
      {{"--since", "2026-02-30"}, 2},
      {{"--since", "last week"}, 2},
      {{"--outcome", "ok"}, 2},
      {{"--json", "--csv"}, 2},
      {{"--records", ""}, 2},
      {{"extra"}, 2},
  };
  for (const auto& c : cases) {
    const TCommandRun run = RunCommand(RunRecordsCommand, c.Args);
    EXPECT_EQ(run.Status, c.Status) << c.Args.front();
    EXPECT_NE(run.Err, "") << c.Args.front();
    EXPECT_EQ(run.Out, "");
  }
}

// Three boards at once, one of which refuses a block: the others are
// written, the table names every board, the status is the failure's.
TEST_F(FlashEndToEnd, AGangWritesEveryBoardAndNamesTheOneThatFailed) {
  const std::string image = PackImage("KUFX");
  TSim first = StartSim({"--pty"});
  TSim failing = StartSim({"--pty"}, {"--err-at", "4"});
  TSim overUdp = StartSim({"--udp", "127.0.0.1:0"});
  const TFlash run = Flash(image, {"--port", first.Where, "--port", failing.Where, "--udp",
                                   overUdp.Where, "--records", Dir.File("runs.sqlite")});
  EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
  std::istringstream table(run.Out);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(table, line);) {
    std::vector<std::string> cells;
    std::istringstream cellStream(line);
    for (std::string cell; std::getline(cellStream, cell, '\t');)
      cells.push_back(cell);
    rows.push_back(cells);
  }
  ASSERT_EQ(rows.size(), 4u) << run.Out;
  const struct {
    std::string Target, Outcome, Exit;
  } expected[] = {{first.Where, "written", "0"},
                  {failing.Where, "device-error", "1"},
                  {overUdp.Where, "written", "0"}};
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_GE(rows[i + 1].size(), 8u) << run.Out;
    EXPECT_EQ(rows[i + 1][0], expected[i].Target);
    EXPECT_EQ(rows[i + 1][1], "VEQKUFX01105");
    EXPECT_EQ(rows[i + 1][2], expected[i].Outcome);
    EXPECT_EQ(rows[i + 1][3], expected[i].Exit);
  }
  EXPECT_NE(rows[2][7].find("устройство ответило ERR."), std::string::npos) << run.Out;
  for (TSim* sim : {&first, &overUdp}) {
    EXPECT_EQ(sim->Process->Wait(kSimWaitMs), 0) << sim->Log();
    ExpectSameImage(sim->OutPath, image);
  }
  EXPECT_EQ(RecordsIn(Dir.File("runs.sqlite"), {"--outcome", "written"}).size(), 2u);
}

TEST_F(FlashEndToEnd, AGangTagsEveryJsonEventWithItsTarget) {
  const std::string image = PackImage("KUFX");
  TSim one = StartSim({"--pty"});
  TSim two = StartSim({"--udp", "127.0.0.1:0"});
  const TFlash run = Flash(image, {"--port", one.Where, "--udp", two.Where, "--json"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  std::map<std::string, int> results;
  std::istringstream lines(run.Out);
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json event = nlohmann::json::parse(line);  // throws on a line that is no JSON
    const std::string target = event.at("target");
    EXPECT_TRUE(target == one.Where || target == two.Where) << line;
    if (event.at("event") == "result") {
      ++results[target];
      EXPECT_EQ(event.at("outcome"), "written");
    }
  }
  EXPECT_EQ(results, (std::map<std::string, int>{{one.Where, 1}, {two.Where, 1}}));
}

// Ctrl-C reaches every board's flasher once: each disconnects its board.
TEST_F(FlashEndToEnd, CtrlCStopsEveryBoardOfAGang) {
  const std::string image = PackImage("KUFX", "106", 8000, 300);
  TSim one = StartSim({"--pty"}, {"--delay-ms", "10"});
  TSim two = StartSim({"--udp", "127.0.0.1:0"}, {"--delay-ms", "10"});
  const std::string out = Dir.File("gang.out");
  TChildProcess gang({kVeq, "flash", image, "--port", one.Where, "--udp", two.Where}, out,
                     Dir.File("gang.err"), {kFastTime});
  for (TSim* sim : {&one, &two})
    EXPECT_TRUE(WaitForText(sim->LogPath, "<< VEQKUFX01106", kFlashWaitMs)) << sim->Log();
  gang.Signal(SIGINT);
  EXPECT_EQ(gang.Wait(kFlashWaitMs), 130) << ReadFile(Dir.File("gang.err"));
  const std::string table = ReadFile(out);
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 3) << table;
  EXPECT_NE(table.find("\tinterrupted\t130\t"), std::string::npos) << table;
  for (TSim* sim : {&one, &two})
    EXPECT_TRUE(WaitForText(sim->LogPath, "<< VEQENDF\n", kSimWaitMs)) << sim->Log();
}

TEST_F(FlashEndToEnd, AGangIsRefusedWhatItCannotDoBeforeAnythingStarts) {
  const std::string kufx = PackImage("KUFX");
  const std::string oxr = PackImage("OXR_");
  const struct {
    std::vector<std::string> Args;
    std::string Says;
  } cases[] = {
      {{oxr, "--udp", "127.0.0.1", "--udp", "127.0.0.2"}, "192.168.0.254"},
      {{oxr, "--port", "a", "--port", "b"}, "192.168.0.254"},
      {{kufx, "--port", "a", "--port", "a"}, "цель a задана дважды"},
      {{kufx, "--udp", "127.0.0.1", "--udp", "127.0.0.1:1001"}, "задана дважды"},
      {{kufx, "--port", "a", "--udp", "127.0.0.1:0"}, "--udp «127.0.0.1:0»"},
      {{kufx, "--port", "a", "--port", "b", "--local-port", "5000"}, "--local-port"},
      {{kufx, "--udp", "127.0.0.1", "--udp", "127.0.0.2", "--baud", "9600"}, "--baud"},
  };
  for (const auto& c : cases) {
    const TFlash run = Flash(c.Args.front(), {c.Args.begin() + 1, c.Args.end()});
    EXPECT_EQ(run.Status, 2) << c.Says;
    EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
  }
}

}  // namespace
