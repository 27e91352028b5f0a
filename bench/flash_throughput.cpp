// Writing speed of `veq flash` into `veq sim`, over UDP loopback and over a
// pseudo-terminal: a 4 MiB image in 2048-byte blocks and a 1 MiB image in
// 64-byte blocks. Beside each run, in the same run of this program and
// against the same simulated board over the same link, a bare programmer
// (plain reads and writes, no session, no threads) does the same header and
// blocks one request and answer at a time; the ratio of the two times per
// block is the price of the real programmer's machinery. Times per block run
// from the first header to the answer to the last block, as the board's own
// time-stamped log tells them for both, so that neither the flasher's
// batched log nor its start and end count; CPU time and peak memory are
// those of the whole veq flash process.
//
// usage: flash_throughput [VEQ]     (VEQ: the veq program; default the one built)
// Prints figures; asserts nothing.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/BareProgrammer.h"
#include "bench/BenchSupport.h"
#include "engine/FirmwareImage.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs of the flasher per case, each followed by a ping-pong run; with fewer,
// one moment of load on a two-core machine still showed in a row.
constexpr int kRounds = 4;

struct TCase {
  size_t ImageBytes;
  uint16_t BlockSize;
};

// One section of pseudo-random data and the end marker.
std::string MakeImage(const TCase& c) {
  return MakeSection("VEQKUFX01106", c.BlockSize, bench::PseudoRandomData(c.ImageBytes),
                     kBoardKindKufx) +
         MakeSection("VEQENDF01106", 0, "", kBoardKindKufx);
}

// `veq sim` playing the board for the whole case; killed at the end.
class TSimProcess {
 public:
  TSimProcess(const std::string& veq, const std::string& link, const std::string& dir)
      : Log(dir + "/sim-" + link + ".log") {
    const int fd = open(Log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::vector<std::string> linkArgs = link == "udp"
                                                  ? std::vector<std::string>{"--udp", "127.0.0.1:0"}
                                                  : std::vector<std::string>{"--pty"};
    std::vector<std::string> argv = {veq, "sim", "--times"};
    argv.insert(argv.end(), linkArgs.begin(), linkArgs.end());
    Pid = bench::Spawn(argv, fd, "/dev/null");
    close(fd);
    for (int i = 0; i < 500 && Where.empty(); ++i) {
      const std::string text = bench::ReadFile(Log);
      if (text.find('\n') != std::string::npos) Where = text.substr(0, text.find('\n'));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (Where.empty()) throw std::runtime_error("veq sim did not start");
  }
  ~TSimProcess() {
    kill(Pid, SIGTERM);
    waitpid(Pid, nullptr, 0);
  }
  // Where the log has got to: the next exchange's lines come after it.
  // Only what follows is read, so that this program's memory, which a child
  // it starts counts as its own peak until it has run its program, stays
  // small.
  size_t LogEnd() const { return std::filesystem::file_size(Log); }

  // From the first section header after the log position `from` to the
  // answer to its last block, in the board's time stamps.
  double ExchangeSeconds(size_t from) const {
    for (int i = 0; i < 500; ++i) {
      const std::string text = bench::ReadFile(Log, from);
      const size_t header = text.find(" << VEQKUFX01106");
      const size_t ready = text.find(" >> READY", header);
      if (header != std::string::npos && ready != std::string::npos)
        return StampBefore(text, ready) - StampBefore(text, header);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error("the board's log shows no written section");
  }

  std::string Where;

 private:
  // The time stamp that starts the line holding position at.
  static double StampBefore(const std::string& text, size_t at) {
    const size_t start = text.rfind('\n', at);
    return std::stod(text.substr(start == std::string::npos ? 0 : start + 1));
  }

  const std::string Log;
  pid_t Pid;
};

double BareRunSeconds(const TSimProcess& sim, const std::string& image, const TCase& c) {
  const size_t from = sim.LogEnd();
  bench::BareWriteImage(sim.Where, image, c.BlockSize);
  return sim.ExchangeSeconds(from);
}

struct TFlashFigures {
  double Seconds = 0;
  double CpuSeconds = 0;
  long PeakRssKiB = 0;
  int Status = -1;
};

TFlashFigures FlashRun(const std::string& veq, const std::string& imagePath,
                       const TSimProcess& sim) {
  const std::string& where = sim.Where;
  std::vector<std::string> argv = {veq, "flash", imagePath};
  if (where.starts_with("/")) {
    argv.insert(argv.end(), {"--port", where, "--local-port", "0"});
  } else {
    argv.insert(argv.end(), {"--udp", "127.0.0.1", "--udp-port", where.substr(where.rfind(':') + 1),
                             "--local-port", "0"});
  }
  // The runs are recorded beside the image, not among the user's own.
  argv.insert(argv.end(), {"--connect-timeout", "10", "--records", imagePath + ".records"});
  const size_t from = sim.LogEnd();
  // Its log goes nowhere, as into a pipe nobody waits on: batched.
  const int out = open("/dev/null", O_WRONLY);
  const pid_t pid = bench::Spawn(argv, out, "/dev/null");
  close(out);

  TFlashFigures figures;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  figures.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (figures.Status != 0) return figures;
  figures.Seconds = sim.ExchangeSeconds(from);
  figures.CpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                       usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  figures.PeakRssKiB = usage.ru_maxrss;
  return figures;
}

void RunCase(const std::string& veq, const std::string& link, const TCase& c,
             const std::string& dir) {
  const std::string image = MakeImage(c);
  const std::string imagePath = dir + "/image.vqf";
  std::ofstream(imagePath, std::ios::binary) << image;
  const size_t blocks = (c.ImageBytes + c.BlockSize - 1) / c.BlockSize;

  TSimProcess sim(veq, link, dir);
  // Ping-pong and flasher take turns; the fastest of each counts, so that a
  // moment of load on the machine spoils neither figure.
  double bare = BareRunSeconds(sim, image, c);
  TFlashFigures flash;
  flash.Seconds = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    const TFlashFigures run = FlashRun(veq, imagePath, sim);
    if (run.Status != 0) {
      std::printf("%-4s %5zu KiB x %4u  veq flash failed (exit %d)\n", link.c_str(),
                  c.ImageBytes / 1024, c.BlockSize, run.Status);
      return;
    }
    if (run.Seconds < flash.Seconds) flash = run;
    bare = std::min(bare, BareRunSeconds(sim, image, c));
  }
  const double roundTrips = blocks + 1.0;  // the header and every block
  std::printf(
      "%-4s %5zu KiB x %4u B  %6zu blocks  %8.0f blocks/s  %7.2f MiB/s  %6.1f us/block  "
      "cpu %5.1f us/block  rss %6ld KiB  ping-pong %6.1f us  ratio %.2f\n",
      link.c_str(), c.ImageBytes / 1024, c.BlockSize, blocks, roundTrips / flash.Seconds,
      c.ImageBytes / flash.Seconds / (1024 * 1024), flash.Seconds / roundTrips * 1e6,
      flash.CpuSeconds / blocks * 1e6, flash.PeakRssKiB, bare / roundTrips * 1e6,
      flash.Seconds / bare);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string veq = argc > 1 ? argv[1] : VEQ_EXECUTABLE;
  const std::string dir = bench::MakeTempDir("bench");
  const TCase cases[] = {{4u << 20, 2048}, {1u << 20, 64}};
  std::printf("veq flash into veq sim; ping-pong: a bare programmer against the same board\n");
  try {
    for (const std::string link : {"udp", "pty"}) {
      for (const TCase& c : cases)
        RunCase(veq, link, c, dir);
    }
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "flash_throughput: %s\n", failure.what());
    return 1;
  }
  std::system(("rm -rf " + dir).c_str());
  return 0;
}
