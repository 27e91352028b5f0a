// How close `veq flash` comes to the rate of a serial line. `veq sim
// --line-rate BAUD` answers over a pseudo-terminal as a board on a wire of
// that rate would, and veq flash writes an image into it, for 9600, 115200
// and 921600 Bd and blocks of 64, 512 and 2048 bytes. Each point's image is
// sized for about 3 s of wire time.
//
// Ideal: every frame the board receives while the image is written (section
// headers, blocks, the end marker) and every answer it sends, bytes x 11 bits
// (start, 8 data, parity, stop) / baud. Measured: the writing as the board
// sees it, from the delivery of the first section header to the sending of
// "APP", in the board's own log time stamps (read in batches, so that this
// program wakes a few times a second, not for every frame). (veq flash's own
// writing time runs on to its next 300 ms timer tick after "APP", the
// session's pace rather than the line's.) Share: ideal / measured. Extra:
// what each frame took beyond its wire time, on average. Bare: the share a
// programmer of plain reads and writes (bench/BareProgrammer.h) reaches
// against a board of the same rate, measured the same way: what the link
// itself leaves.
//
// usage: line_rate [VEQ]     (VEQ: the veq program; default the one built)
// Prints figures; asserts nothing about speed. Pseudo-terminals only, so it
// needs no network namespace.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/BareProgrammer.h"
#include "bench/BenchSupport.h"
#include "engine/DeviceDialogue.h"
#include "engine/FirmwareImage.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kBitsPerByte = 11;
constexpr double kWireSecondsPerPoint = 3;
constexpr int kBauds[] = {9600, 115200, 921600};
constexpr uint16_t kBlockSizes[] = {64, 512, 2048};
// Connecting and disconnecting take about 2 s beside the writing.
constexpr auto kPointLimit = std::chrono::seconds(60);
// Once veq flash has ended, the board has had its end command and leaves.
constexpr auto kSimLeaveLimit = std::chrono::seconds(3);
constexpr int kLogPollMs = 100;
// Once the log has something, what else comes in this time is read with it.
constexpr auto kLogBatch = std::chrono::milliseconds(50);

struct TPoint {
  int Baud;
  uint16_t BlockSize;
};

std::string LastLine(const std::string& text) {
  const size_t end = text.find_last_not_of('\n');
  if (end == std::string::npos) return {};
  const size_t begin = text.rfind('\n', end);
  return text.substr(begin == std::string::npos ? 0 : begin + 1, end - begin);
}

// Enough blocks of pseudo-random data for about kWireSecondsPerPoint on the
// wire, in one section, and the end marker.
std::string MakeImage(const TPoint& point) {
  const double blockSeconds = (point.BlockSize + kGet.size()) * kBitsPerByte / point.Baud;
  const auto blocks = std::max<long>(1, std::lround(kWireSecondsPerPoint / blockSeconds));
  const std::string data = bench::PseudoRandomData(static_cast<size_t>(blocks) * point.BlockSize);
  return MakeSection("VEQKUFX01106", point.BlockSize, data, kBoardKindKufx) +
         MakeSection("VEQENDF01106", 0, "", kBoardKindKufx);
}

// What the board receives and sends while the image is written: each
// section header, block and the end marker, and the answer to each.
struct TTraffic {
  int Frames = 0;
  size_t Bytes = 0;

  void Add(size_t request, const std::string& answer) {
    ++Frames;
    Bytes += request + answer.size();
  }
  double WireSeconds(int baud) const { return Bytes * kBitsPerByte / baud; }
};

TTraffic TrafficOf(const std::string& image) {
  TTraffic traffic;
  for (size_t at = 0; at + kSectionHeaderSize <= image.size();) {
    const SectionHeader header = ParseSectionHeader(std::string_view(image).substr(at));
    at += kSectionHeaderSize;
    if (header.IsEndMarker()) {
      traffic.Add(kSectionHeaderSize, kApp);
      break;
    }
    traffic.Add(kSectionHeaderSize, kGet);
    for (int block = 1; block <= header.BlockCount; ++block)
      traffic.Add(header.BlockSize, block < header.BlockCount ? kGet : kReady);
    at += header.DataLength();
  }
  return traffic;
}

int ExitStatus(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The writing as the board's log tells it.
struct TWritingSpan {
  bool InRun = false;
  std::optional<double> Start;  // the first section header came, in seconds
  std::optional<double> End;    // "APP" went
  int Answers = 0;              // sent from Start to End

  void Note(const std::string& line, double at) {
    if (line == "-- programming mode") {
      InRun = true;
    } else if (InRun && !Start && line.starts_with("<< ")) {
      Start = at;
    } else if (Start && !End && line.starts_with(">> ")) {
      ++Answers;
      if (line == ">> " + kApp) End = at;
    }
  }
  double Seconds() const { return *End - *Start; }
};

// `veq sim --pty --line-rate BAUD --once --times` for one point; its log
// comes through a pipe.
class TSim {
 public:
  TSim(const std::string& veq, int baud, const std::string& dir) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    Log = out[0];
    Pid = bench::Spawn({veq, "sim", "--pty", "--line-rate", std::to_string(baud), "--once",
                        "--times", "--out", dir + "/accepted.vqf"},
                out[1], dir + "/sim.err");
    close(out[1]);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Where.empty() && FollowLog([](const std::string&, double) {}, deadline)) {
    }
    if (Where.empty()) throw std::runtime_error("veq sim did not say where it is");
  }
  ~TSim() {
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      waitpid(Pid, nullptr, 0);
    }
    close(Log);
  }
  TSim(const TSim&) = delete;
  TSim& operator=(const TSim&) = delete;

  // Reads what the log has, or waits for it up to kLogPollMs, and hands
  // every whole line on with its time stamp; the first line is Where. False
  // at the log's end or the deadline.
  template <typename TNote>
  bool FollowLog(const TNote& note, Clock::time_point deadline) {
    if (Clock::now() >= deadline) return false;
    pollfd in{Log, POLLIN, 0};
    if (poll(&in, 1, kLogPollMs) <= 0) return true;
    if (!Where.empty()) std::this_thread::sleep_for(kLogBatch);
    char chunk[65536];
    const ssize_t n = read(Log, chunk, sizeof chunk);
    if (n <= 0) {
      LogEnded = true;
      return false;
    }
    Pending.append(chunk, static_cast<size_t>(n));
    for (size_t eol; (eol = Pending.find('\n')) != std::string::npos; Pending.erase(0, eol + 1)) {
      const std::string line = Pending.substr(0, eol);
      if (Where.empty()) {
        Where = line;
      } else {
        const size_t space = line.find(' ');
        note(line.substr(space + 1), std::stod(line.substr(0, space)));
      }
    }
    return true;
  }

  // Its exit status when it has closed its log, that is when it leaves;
  // nothing while it is still there.
  std::optional<int> Left() {
    if (!LogEnded) return std::nullopt;
    int status = 0;
    waitpid(Pid, &status, 0);
    Pid = -1;
    return ExitStatus(status);
  }

  std::string Where;

 private:
  pid_t Pid = -1;
  int Log = -1;
  bool LogEnded = false;
  std::string Pending;
};

pid_t StartFlash(const std::string& veq, const std::string& dir, const std::string& where) {
  const int log = open((dir + "/flash.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (log < 0) throw std::runtime_error("cannot create the flash log");
  const pid_t pid = bench::Spawn({veq, "flash", dir + "/image.vqf", "--port", where, "--local-port", "0",
                           "--connect-timeout", "30", "--records", dir + "/records.sqlite"},
                          log, dir + "/flash.err");
  close(log);
  return pid;
}

struct TOutcome {
  TWritingSpan Span;
  int ProgrammerExit = -1;
  std::string ProgrammerFailure;
  std::optional<int> SimExit;
};

// The programmer of a point, run beside the board: Ended tells its exit
// status once it has ended, Stop ends it when the point's time is up.
struct TProgrammer {
  std::function<std::optional<int>()> Ended;
  std::function<int()> Stop;
  std::function<std::string()> Failure;  // why it did not exit 0
};

TProgrammer FlashProgrammer(const std::string& veq, const std::string& dir,
                            const std::string& where) {
  const pid_t pid = StartFlash(veq, dir, where);
  return {[pid]() -> std::optional<int> {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) != pid) return std::nullopt;
            return ExitStatus(status);
          },
          [pid] {
            int status = 0;
            kill(pid, SIGTERM);
            waitpid(pid, &status, 0);
            return ExitStatus(status);
          },
          [dir] { return LastLine(bench::ReadFile(dir + "/flash.err")); }};
}

// The bare programmer on a thread of this program, for the same board: what
// the link itself allows.
class TBareRun {
 public:
  TBareRun(const std::string& where, const std::string& image, size_t blockSize)
      : Thread([this, where, image, blockSize] { Run(where, image, blockSize); }) {}
  ~TBareRun() {
    if (Thread.joinable()) Thread.join();
  }
  TBareRun(const TBareRun&) = delete;
  TBareRun& operator=(const TBareRun&) = delete;

  TProgrammer Programmer() {
    return {[this]() -> std::optional<int> {
              if (!Done) return std::nullopt;
              return Failure.empty() ? 0 : 1;
            },
            // It gives up by itself once the board stops answering.
            [this] {
              Thread.join();
              Thread = std::thread();
              return Failure.empty() ? 0 : 1;
            },
            [this] { return Failure; }};
  }

 private:
  void Run(const std::string& where, const std::string& image, size_t blockSize) {
    try {
      bench::BareWriteImage(where, image, blockSize);
    } catch (const std::exception& failure) {
      Failure = failure.what();
    }
    Done = true;
  }

  std::string Failure;  // written before Done
  std::atomic<bool> Done = false;
  std::thread Thread;
};

// Follows the board's log until the board has left after the programmer
// ended, or the point's time is up.
TOutcome FollowWriting(TSim& sim, const TProgrammer& programmer) {
  TOutcome outcome;
  const auto note = [&outcome](const std::string& line, double at) {
    outcome.Span.Note(line, at);
  };
  auto deadline = Clock::now() + kPointLimit;
  bool running = true;
  while (sim.FollowLog(note, deadline)) {
    if (!running) continue;
    if (const std::optional<int> exit = programmer.Ended()) {
      running = false;
      outcome.ProgrammerExit = *exit;
      deadline = std::min(deadline, Clock::now() + kSimLeaveLimit);
    }
  }
  if (running) outcome.ProgrammerExit = programmer.Stop();
  if (outcome.ProgrammerExit != 0) outcome.ProgrammerFailure = programmer.Failure();
  outcome.SimExit = sim.Left();
  return outcome;
}

// Why the point has no figures, or nothing when it has.
std::string WhatFailed(const TOutcome& outcome, const TTraffic& traffic, const std::string& dir,
                       const std::string& image) {
  if (outcome.ProgrammerExit != 0) {
    return "programmer exit " + std::to_string(outcome.ProgrammerExit) + ": " +
           outcome.ProgrammerFailure;
  }
  if (outcome.SimExit != 0) return "veq sim did not end after the run";
  if (!outcome.Span.Start || !outcome.Span.End) return "the board's log has no whole writing";
  if (outcome.Span.Answers != traffic.Frames) {
    return "the board sent " + std::to_string(outcome.Span.Answers) + " answers for " +
           std::to_string(traffic.Frames) + " frames";
  }
  if (bench::ReadFile(dir + "/accepted.vqf") != image) return "the board holds another image";
  return {};
}

// A programmer's writing of a point: how long it took, and the share of the
// line's rate as printed, or why there is none.
struct TShare {
  double Seconds = 0;
  std::string Text;
};

TShare ShareOf(const TOutcome& outcome, const TTraffic& traffic, const std::string& dir,
               const std::string& image, double ideal) {
  if (const std::string failure = WhatFailed(outcome, traffic, dir, image); !failure.empty())
    return {0, "failed: " + failure};
  const double seconds = outcome.Span.Seconds();
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", 100 * ideal / seconds);
  return {seconds, text};
}

void MeasurePoint(const std::string& veq, const std::string& dir, const TPoint& point) {
  const std::string image = MakeImage(point);
  std::ofstream(dir + "/image.vqf", std::ios::binary) << image;
  const TTraffic traffic = TrafficOf(image);
  const double ideal = traffic.WireSeconds(point.Baud);
  TShare flash, bare;
  {
    TSim sim(veq, point.Baud, dir);
    flash = ShareOf(FollowWriting(sim, FlashProgrammer(veq, dir, sim.Where)), traffic, dir, image,
                    ideal);
  }
  {
    TSim sim(veq, point.Baud, dir);
    TBareRun run(sim.Where, image, point.BlockSize);
    bare = ShareOf(FollowWriting(sim, run.Programmer()), traffic, dir, image, ideal);
  }
  const double extra = flash.Seconds > 0 ? (flash.Seconds - ideal) / traffic.Frames * 1e6 : 0;
  std::printf("%7d %6u %7d %8.3f %10.3f %7s %14.0f %7s\n", point.Baud, point.BlockSize,
              traffic.Frames, ideal, flash.Seconds, flash.Text.c_str(), extra, bare.Text.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string veq = argc > 1 ? argv[1] : VEQ_EXECUTABLE;
  const std::string dir = bench::MakeTempDir("line-rate");
  std::printf(
      "veq flash into veq sim --line-rate over a pseudo-terminal; wire: bytes x 11 / baud\n");
  std::printf("%7s %6s %7s %8s %10s %7s %14s %7s\n", "baud", "block", "frames", "ideal s",
              "measured s", "share %", "extra us/frame", "bare %");
  int status = 0;
  try {
    for (const int baud : kBauds) {
      for (const uint16_t blockSize : kBlockSizes)
        MeasurePoint(veq, dir, {baud, blockSize});
    }
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "line_rate: %s\n", failure.what());
    status = 1;
  }
  std::system(("rm -rf " + dir).c_str());
  return status;
}
