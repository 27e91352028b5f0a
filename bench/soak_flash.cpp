// Many `veq flash` processes, one after the other, against one `veq sim`
// that serves them all (no --once), over UDP loopback and over a
// pseudo-terminal. Every few runs it prints the simulator's resident memory,
// open descriptors and threads, read from /proc/<pid>, and for the flashers
// since the line before: their peak resident memory (ru_maxrss of each
// child from wait4) and the most descriptors each had open (its
// /proc/<pid>/fd, counted every 10 ms while it runs), as the lowest and
// highest of those runs. A leak in the long-lived simulator shows as a
// rising column; one in the flasher as a rising peak.
//
// usage: soak_flash [--runs N] [--every K] [--link udp|pty|both]
//                   [--time-divisor D] [--veq PATH]
//   --runs N          flasher runs per link (default 200)
//   --every K         print a line every K runs (default 50)
//   --link            which links (default both)
//   --time-divisor D  VEQ_FLASH_TIME_DIVISOR of the flashers (default 10)
//   --veq PATH        the veq program (default the one built)
// Prints figures; asserts nothing. Talks UDP to 127.0.0.1 only; run it inside
// scripts/in-netns.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/FirmwareImage.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Kind 0: the plain wake-up, never the fixed address of a kind-2 board.
const char kBoardIdentity[] = "VEQMK2A01105";
const char kImageFileId[] = "VEQMK2A01106";  // newer than the board's: no question
const char kSuccess[] = "Успешно. Устройство перезагружается.";
constexpr int kFdSamplePeriodMs = 10;
// A flasher that has not ended by then is killed and counted as failed.
constexpr int kFlashLimitMs = 60000;

struct TOptions {
  int Runs = 200;
  int Every = 50;
  std::vector<std::string> Links = {"udp", "pty"};
  int TimeDivisor = 10;
  std::string Veq = VEQ_EXECUTABLE;
};

long StatusField(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  }
  return -1;
}

// -1 once the process has gone.
int OpenDescriptors(pid_t pid) {
  DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

// Two sections of 16 blocks of 64 bytes and the end marker: 2 KiB of data.
std::string MakeImage() {
  std::string data(1024, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 7 + 3);
  return MakeSection(kImageFileId, 64, data, kBoardKindOther) +
         MakeSection(kImageFileId, 64, data.substr(512) + data.substr(0, 512), kBoardKindOther) +
         MakeSection("VEQENDF01106", 0, "", kBoardKindOther);
}

// `veq sim` playing the board for all runs of one link; stopped at the end.
class TSimProcess {
 public:
  TSimProcess(const std::string& veq, const std::string& link, const std::string& dir)
      : LogPath(dir + "/sim-" + link + ".log") {
    const int fd = open(LogPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + LogPath);
    std::vector<std::string> argv = {veq, "sim"};
    if (link == "udp") {
      argv.insert(argv.end(), {"--udp", "127.0.0.1:0"});
    } else {
      argv.push_back("--pty");
    }
    argv.insert(argv.end(), {"--id", kBoardIdentity});
    Pid = bench::Spawn(argv, fd, dir + "/sim-" + link + ".err");
    close(fd);
    for (int i = 0; i < 500 && Where.empty(); ++i) {
      const std::string text = bench::ReadFile(LogPath);
      if (text.find('\n') != std::string::npos) Where = text.substr(0, text.find('\n'));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (Where.empty()) {
      Stop();
      throw std::runtime_error("veq sim did not start");
    }
  }
  ~TSimProcess() { Stop(); }
  TSimProcess(const TSimProcess&) = delete;
  TSimProcess& operator=(const TSimProcess&) = delete;

  void Stop() {
    if (Pid <= 0) return;
    kill(Pid, SIGTERM);
    waitpid(Pid, nullptr, 0);
    Pid = -1;
  }
  // The runs the board saw end: it logs each return to its boot state.
  int RunsEnded() const {
    const std::string log = bench::ReadFile(LogPath);
    int count = 0;
    for (size_t at = 0; (at = log.find("-- boot state", at)) != std::string::npos; ++at)
      ++count;
    return count;
  }

  pid_t Pid = -1;
  std::string Where;
  std::string LogPath;
};

struct TFlashFigures {
  bool Written = false;
  long PeakRssKiB = 0;
  int MaxFds = 0;
  std::string Failure;
};

TFlashFigures FlashRun(const std::vector<std::string>& argv,
                       char* const* env, const std::string& errPath) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = bench::Spawn(argv, out[1], errPath, env);
  close(out[1]);

  TFlashFigures figures;
  std::string text;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kFlashLimitMs);
  bool killed = false;
  for (;;) {
    figures.MaxFds = std::max(figures.MaxFds, OpenDescriptors(pid));
    if (Clock::now() > deadline && !killed) {
      kill(pid, SIGKILL);
      killed = true;
    }
    pollfd in{out[0], POLLIN, 0};
    if (poll(&in, 1, kFdSamplePeriodMs) != 1) continue;
    char chunk[65536];
    const ssize_t n = read(out[0], chunk, sizeof chunk);
    if (n <= 0) break;
    text.append(chunk, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  figures.PeakRssKiB = usage.ru_maxrss;
  const int exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  figures.Written = exit == 0 && text.find(kSuccess) != std::string::npos;
  if (!figures.Written) {
    figures.Failure = "exit " + std::to_string(exit) + (killed ? " (killed after the limit)" : "") +
                      "\n" + text + bench::ReadFile(errPath);
  }
  return figures;
}

void Soak(const std::string& link, const std::string& dir, const std::string& imagePath,
          const TOptions& options) {
  const auto started = Clock::now();
  TSimProcess sim(options.Veq, link, dir);
  std::vector<std::string> argv = {options.Veq, "flash", imagePath};
  if (link == "udp") {
    argv.insert(argv.end(), {"--udp", "127.0.0.1", "--udp-port",
                             sim.Where.substr(sim.Where.rfind(':') + 1), "--local-port", "0"});
  } else {
    argv.insert(argv.end(), {"--port", sim.Where, "--local-port", "0"});
  }
  // Recorded in the bench's folder, not among the user's own runs.
  argv.insert(argv.end(), {"--connect-timeout", "20", "--records", dir + "/records.sqlite"});

  std::vector<std::string> envText;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "VEQ_FLASH_TIME_DIVISOR=", 23) != 0) envText.emplace_back(*e);
  }
  envText.push_back("VEQ_FLASH_TIME_DIVISOR=" + std::to_string(options.TimeDivisor));
  std::vector<char*> env;
  for (std::string& e : envText)
    env.push_back(e.data());
  env.push_back(nullptr);

  std::printf("\n%s: %d veq flash runs against one veq sim (pid %d) at %s\n", link.c_str(),
              options.Runs, static_cast<int>(sim.Pid), sim.Where.c_str());
  std::printf("        ---------- veq sim ----------   ------- veq flash, since the line before -------\n");
  std::printf("  run   rss KiB   Δ KiB   fds  Δ  thr   peak rss KiB (min-max)   max fds (min-max)  ms/run\n");
  const auto printSim = [&](int run, long rss, int fds, long threads, long baseRss, int baseFds) {
    std::printf("%5d  %8ld  %+6ld  %4d %+2d  %3ld", run, rss, rss - baseRss, fds, fds - baseFds,
                threads);
  };
  const long rss0 = StatusField(sim.Pid, "VmRSS");
  const int fds0 = OpenDescriptors(sim.Pid);
  printSim(0, rss0, fds0, StatusField(sim.Pid, "Threads"), rss0, fds0);
  std::printf("\n");

  int failures = 0;
  long baseRss = 0;
  int baseFds = 0;
  long peakMin = LONG_MAX, peakMax = 0;
  int fdsMin = INT_MAX, fdsMax = 0;
  auto lineAt = Clock::now();
  int lineRun = 0;
  const std::string errPath = dir + "/flash.err";
  for (int run = 1; run <= options.Runs; ++run) {
    const TFlashFigures figures = FlashRun(argv, env.data(), errPath);
    if (!figures.Written) {
      ++failures;
      if (failures <= 3) std::printf("  run %d failed: %s\n", run, figures.Failure.c_str());
    }
    peakMin = std::min(peakMin, figures.PeakRssKiB);
    peakMax = std::max(peakMax, figures.PeakRssKiB);
    fdsMin = std::min(fdsMin, figures.MaxFds);
    fdsMax = std::max(fdsMax, figures.MaxFds);
    if (run != 1 && run % options.Every != 0 && run != options.Runs) continue;
    const long rss = StatusField(sim.Pid, "VmRSS");
    const int fds = OpenDescriptors(sim.Pid);
    // Growth is counted from after the first run, which brings what the
    // simulator makes lazily.
    if (run == 1) {
      baseRss = rss;
      baseFds = fds;
    }
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - lineAt).count() / (run - lineRun);
    printSim(run, rss, fds, StatusField(sim.Pid, "Threads"), baseRss, baseFds);
    std::printf("   %6ld - %6ld           %3d - %3d        %6.1f\n", peakMin, peakMax, fdsMin,
                fdsMax, ms);
    std::fflush(stdout);
    peakMin = LONG_MAX;
    peakMax = 0;
    fdsMin = INT_MAX;
    fdsMax = 0;
    lineAt = Clock::now();
    lineRun = run;
  }
  sim.Stop();
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::printf("%s: %d of %d runs written, the board counted %d runs ended; %.1f s\n", link.c_str(),
              options.Runs - failures, options.Runs, sim.RunsEnded(), seconds);
  std::fflush(stdout);
}

int PositiveNumber(const char* text, const char* option) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > 1000000) {
    throw std::invalid_argument(std::string(option) + ": a whole number from 1 is needed");
  }
  return static_cast<int>(value);
}

TOptions ReadOptions(int argc, char** argv) {
  TOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) throw std::invalid_argument(option + ": a value is needed");
    const char* value = argv[++i];
    if (option == "--runs") {
      options.Runs = PositiveNumber(value, "--runs");
    } else if (option == "--every") {
      options.Every = PositiveNumber(value, "--every");
    } else if (option == "--time-divisor") {
      options.TimeDivisor = PositiveNumber(value, "--time-divisor");
    } else if (option == "--veq") {
      options.Veq = value;
    } else if (option == "--link") {
      const std::string link = value;
      if (link == "both") {
        options.Links = {"udp", "pty"};
      } else if (link == "udp" || link == "pty") {
        options.Links = {link};
      } else {
        throw std::invalid_argument("--link: udp, pty or both");
      }
    } else {
      throw std::invalid_argument("unknown option " + option);
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  try {
    options = ReadOptions(argc, argv);
  } catch (const std::exception& failure) {
    std::fprintf(stderr,
                 "soak_flash: %s\nusage: soak_flash [--runs N] [--every K] [--link udp|pty|both] "
                 "[--time-divisor D] [--veq PATH]\n",
                 failure.what());
    return 2;
  }
  const std::string dir = bench::MakeTempDir("soak");
  const std::string imagePath = dir + "/soak.vqf";
  const std::string image = MakeImage();
  std::ofstream(imagePath, std::ios::binary) << image;
  std::printf("veq flash processes into one veq sim: %zu-byte image (2 sections of 16 x 64-byte "
              "blocks), VEQ_FLASH_TIME_DIVISOR=%d\n",
              image.size(), options.TimeDivisor);
  std::printf("veq sim: VmRSS, /proc/<pid>/fd, threads; Δ since the end of run 1. veq flash: "
              "ru_maxrss from wait4; most fds seen in /proc/<pid>/fd, sampled every %d ms\n",
              kFdSamplePeriodMs);
  int status = 0;
  try {
    for (const std::string& link : options.Links)
      Soak(link, dir, imagePath, options);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "soak_flash: %s\n", failure.what());
    status = 1;
  }
  std::system(("rm -rf " + dir).c_str());
  return status;
}
