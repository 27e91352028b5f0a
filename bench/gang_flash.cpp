// Eight simulated boards written at once by one `veq flash` with eight
// targets (four over pseudo-terminals, four over UDP loopback), beside one
// board written alone, for boards that answer at once and for boards that
// take a few milliseconds per block as real flash memory does. Prints the
// times and their ratio; asserts nothing.
//
//   scripts/in-netns build/bin/gang_flash
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/FirmwareImage.h"

namespace {

const std::string kVeq = VEQ_EXECUTABLE;
constexpr int kBoards = 8;

// 4096 blocks of 256 bytes in two sections and the end marker: 1 MiB.
std::string MakeImage() {
  std::string data(2048 * 256, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 13 + 1);
  return MakeSection("VEQKUFX01106", 256, data, kBoardKindKufx) +
         MakeSection("VEQKUFX01106", 256, data, kBoardKindKufx) +
         MakeSection("VEQENDF01106", 0, "", kBoardKindOther);
}

pid_t Spawn(const std::vector<std::string>& argv, const std::string& outPath) {
  const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) throw std::runtime_error("cannot create " + outPath);
  try {
    const pid_t pid = bench::Spawn(argv, out, outPath + ".err");
    close(out);
    return pid;
  } catch (...) {
    close(out);
    throw;
  }
}

int WaitFor(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// `veq sim --once`: one writing run, then it ends by itself.
struct TSim {
  pid_t Pid = -1;
  std::vector<std::string> Target;  // the veq flash words that name it
};

TSim StartSim(const std::string& dir, int index, bool udp, int delayMs) {
  const std::string log = dir + "/sim" + std::to_string(index) + ".log";
  std::vector<std::string> argv = {kVeq, "sim"};
  if (udp) {
    argv.insert(argv.end(), {"--udp", "127.0.0.1:0"});
  } else {
    argv.push_back("--pty");
  }
  argv.insert(argv.end(), {"--once", "--delay-ms", std::to_string(delayMs)});
  TSim sim{Spawn(argv, log), {}};
  for (int i = 0; i < 500; ++i) {
    const std::string text = bench::ReadFile(log);
    if (const size_t end = text.find('\n'); end != std::string::npos) {
      sim.Target = {udp ? "--udp" : "--port", text.substr(0, end)};
      return sim;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error("veq sim did not start");
}

// Seconds for one veq flash over the given number of fresh boards.
double FlashBoards(const std::string& dir, const std::string& image, int boards, int delayMs) {
  std::vector<TSim> sims;
  // Recorded in the bench's folder, not among the user's own runs.
  std::vector<std::string> argv = {kVeq, "flash", image, "--records", dir + "/records.sqlite"};
  for (int i = 0; i < boards; ++i) {
    sims.push_back(StartSim(dir, i, i % 2 == 1, delayMs));
    argv.insert(argv.end(), sims.back().Target.begin(), sims.back().Target.end());
  }
  if (boards == 1) argv.insert(argv.end(), {"--local-port", "0"});
  const auto start = std::chrono::steady_clock::now();
  const int status = WaitFor(Spawn(argv, dir + "/flash.out"));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (TSim& sim : sims)
    WaitFor(sim.Pid);
  if (status != 0) {
    throw std::runtime_error("veq flash exited " + std::to_string(status) + ": " +
                             bench::ReadFile(dir + "/flash.out") + bench::ReadFile(dir + "/flash.out.err"));
  }
  return seconds;
}

}  // namespace

int main() {
  try {
    char pattern[] = "/tmp/veq-gang-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    const std::string dir = pattern;
    const std::string image = dir + "/image.vqf";
    std::ofstream(image, std::ios::binary) << MakeImage();
    std::printf("%d boards (pty and UDP) at once against one alone, 4096 blocks of 256 bytes each\n",
                kBoards);
    std::printf("%-22s %10s %12s %7s\n", "answer delay", "one, s", "eight, s", "ratio");
    for (const int delayMs : {0, 1, 2}) {
      const double one = FlashBoards(dir, image, 1, delayMs);
      const double eight = FlashBoards(dir, image, kBoards, delayMs);
      std::printf("%-22s %10.2f %12.2f %7.2f\n", (std::to_string(delayMs) + " ms a block").c_str(),
                  one, eight, eight / one);
    }
    std::filesystem::remove_all(dir);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "gang_flash: %s\n", failure.what());
    return 1;
  }
  return 0;
}
