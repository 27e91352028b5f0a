// Many writing runs in one process, the way the window lives through a
// shift: one session with its two transports and one headless main loop
// serve every run, and a simulated board on a thread of this process answers
// over a real link (UDP loopback, then a pseudo-terminal). Each run presses
// Connect, waits until the board is ready, presses Start, waits for the end
// and presses Disconnect. Every few runs the process's resident memory,
// heap in use, open descriptors and threads are printed, with the time a run
// took, so that anything a run leaves behind shows as a rising column. With
// one board for the whole shift its model is counted too, and it keeps every
// byte it has received; --fresh-board leaves the programmer's side alone.
//
// usage: soak_sessions [--runs N] [--every K] [--link udp|pty|both]
//                      [--time-divisor D] [--fresh-board]
//   --runs N          runs per link (default 500)
//   --every K         print a line every K runs (default 50)
//   --link            which links (default both)
//   --time-divisor D  the session's timer periods and pauses pass D times
//                     faster in real time, as veq flash's test seam does
//                     (default 10; 1 is the window's own pace)
//   --fresh-board     a new simulated board (thread, link) for every run, so
//                     that what the board keeps is not counted; a UDP board
//                     comes back at the same port, a pty board at a new path
// Prints figures; asserts nothing. Talks UDP to 127.0.0.1 only; run it inside
// scripts/in-netns.

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "adapters/SessionTransports.h"
#include "engine/FirmwareImage.h"
#include "engine/RunEnd.h"
#include "engine/Session.h"
#include "platform/MainLoop.h"
#include "platform/MainThread.h"
#include "tools/SimLink.h"
#include "tools/SimRunner.h"

namespace {

using Clock = std::chrono::steady_clock;

// Kind 0: the plain wake-up, no 500 ms pause at two rates, and never the
// fixed address that a kind-2 board switches to.
const char kBoardIdentity[] = "VEQMK2A01105";
const char kImageFileId[] = "VEQMK2A01106";  // newer than the board's: no question
// A generous bound for one phase of a run; a run that needs longer is
// counted as failed and the soak goes on.
constexpr int kPhaseLimitMs = 20000;

struct TOptions {
  int Runs = 500;
  int Every = 50;
  std::vector<std::string> Links = {"udp", "pty"};
  int TimeDivisor = 10;
  // A new simulated board for every run instead of one for the shift: the
  // board model keeps every byte it has received, and this leaves only the
  // programmer's side in the figures.
  bool FreshBoard = false;
};

// What /proc says about this process at one moment.
struct TSample {
  long RssKiB = 0;
  long HeapBytes = 0;
  int Fds = 0;
  int Threads = 0;
};

long StatusField(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  }
  return -1;
}

// The entries of /proc/self/fd, less the one the listing itself holds open.
int OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count - 1;
}

TSample Sample() {
  TSample sample;
  sample.RssKiB = StatusField("VmRSS");
  sample.Threads = static_cast<int>(StatusField("Threads"));
  sample.Fds = OpenDescriptors();
  // Bytes handed out by the allocator in every arena and as mapped chunks:
  // finer than the resident size, which moves by whole pages.
  const struct mallinfo2 heap = mallinfo2();
  sample.HeapBytes = static_cast<long>(heap.uordblks + heap.hblkhd);
  return sample;
}

std::string TempDir() {
  char pattern[] = "/tmp/veq-soak-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
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

// The window members a shift needs: texts, buttons, Timer1 on the loop, the
// log of the current run (Connect clears it, as the window's does), and
// boxes that are answered OK at once.
class TShiftWindow : public IWindowMembers {
 public:
  TShiftWindow(TMainLoop& loop, int timeDivisor) : Loop(loop), TimeDivisor(timeDivisor) {
    Timer1 = Loop.AddTimer(RealPeriod(), [this] {
      if (Session != nullptr) Session->Timer1Timer();
    });
  }

  TSession* Session = nullptr;
  std::vector<std::string> Log;
  int Warnings = 0;

  void SetLabFWCaption(const std::string&) override {}
  void SetLabProgCaption(const std::string&) override {}
  void MemoLogAppend(const std::string& line) override { Log.push_back(line); }
  void MemoLogClear() override { Log.clear(); }
  bool ButtonEnabled(TButton button) const override {
    const auto at = Buttons.find(button);
    return at == Buttons.end() || at->second;
  }
  void SetButtonEnabled(TButton button, bool enabled) override { Buttons[button] = enabled; }
  std::string Text(TTextControl control) const override {
    const auto at = Texts.find(control);
    return at == Texts.end() ? std::string() : at->second;
  }
  void SetText(TTextControl control, const std::string& text) override { Texts[control] = text; }
  int Timer1Interval() const override { return Interval; }
  void SetTimer1Interval(int milliseconds) override {
    Interval = milliseconds;
    Loop.SetInterval(Timer1, RealPeriod());
  }
  bool Timer1Enabled() const override { return Loop.Enabled(Timer1); }
  void SetTimer1Enabled(bool enabled) override { Loop.SetEnabled(Timer1, enabled); }
  TMessageResult MessageBox(TMessageKind kind, const std::string& text) override {
    if (kind == TMessageKind::Warning) {
      ++Warnings;
      Log.push_back("[box] " + text);
    }
    return TMessageResult::Ok;
  }
  void Sleep(int milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds) / TimeDivisor);
  }

 private:
  int RealPeriod() const { return std::max(1, Interval / TimeDivisor); }

  TMainLoop& Loop;
  const int TimeDivisor;
  TMainLoop::TimerId Timer1 = 0;
  int Interval = 100;
  std::map<TButton, bool> Buttons;
  std::map<TTextControl, std::string> Texts;
};

// One link's shift: the board, the window, the session and its transports
// live through all runs.
class TShift {
 public:
  TShift(const std::string& link, const std::string& imagePath, const TOptions& options)
      : Link(link), FreshBoard(options.FreshBoard), Window(Loop, options.TimeDivisor),
        Session(Window), Links(Session, Window) {
    Window.Session = &Session;
    NewBoard(0);
    const std::string where = Sim->Where();
    Window.SetText(TTextControl::EditFileName, imagePath);
    if (link == "udp") {
      Window.SetText(TTextControl::EditIP, "127.0.0.1");
      Session.SelectLink(TLinkMode::Udp);
      // Local port 0: any free one, as veq flash --local-port 0.
      Session.ConfigureUdp({"127.0.0.1", LinkPort(where), 0});
    } else {
      Window.SetText(TTextControl::cbComN, where);
      Window.SetText(TTextControl::cbBr, "9600");
      Window.SetText(TTextControl::cbDb, "8");
      Window.SetText(TTextControl::cbPar, "odd");
      Window.SetText(TTextControl::cbSb, "1");
      Session.SelectLink(TLinkMode::Serial);
    }
    const std::string problem = Session.CheckFirmwareFile(imagePath);
    if (!problem.empty()) throw std::runtime_error("image refused: " + problem);
  }
  // One run; the outcome's text, empty when the image was written.
  std::string Run() {
    if (FreshBoard) {
      NewBoard(Link == "udp" ? LinkPort(Sim->Where()) : 0);
      if (Link != "udp") Window.SetText(TTextControl::cbComN, Sim->Where());
    }
    const auto ended = [this] { return Session.LastRunEnd().Outcome != TRunOutcome::None; };
    Session.ButConnectClick();
    if (!ended()) {
      Loop.RunUntil([&] { return Session.State() == TSessionState::Ready || ended(); },
                    kPhaseLimitMs);
    }
    if (Session.State() == TSessionState::Ready) {
      Session.ButStartClick();
      Loop.RunUntil(ended, kPhaseLimitMs);
    }
    const TRunEnd end = Session.LastRunEnd();
    if (Session.ActiveLink() != TLinkMode::None) Session.ButDisconnectClick();
    if (end.Outcome == TRunOutcome::Written) return {};
    std::string text = end.Outcome == TRunOutcome::None ? "no ending within the limit"
                                                        : RunEndText(end);
    for (const std::string& line : Window.Log)
      text += "\n    " + line;
    return text;
  }

  int BoardRunsEnded() const { return EarlierBoardsRunsEnded + Sim->RunsEnded(); }
  void StopBoard() { Sim->Stop(); }
  std::string BoardImage() const { return Sim->AcceptedImage(); }

 private:
  static TDeviceModel::TSettings Board() {
    TDeviceModel::TSettings settings;
    settings.Identity = kBoardIdentity;
    return settings;
  }

  static uint16_t LinkPort(const std::string& where) {
    return static_cast<uint16_t>(std::stoi(where.substr(where.rfind(':') + 1)));
  }

  // A UDP board comes back at the same port (port 0 the first time: any
  // free one), so the session's settings stay as they are.
  void NewBoard(uint16_t udpPort) {
    if (Sim) {
      Sim->Stop();
      EarlierBoardsRunsEnded += Sim->RunsEnded();
      Sim.reset();
    }
    Sim = std::make_unique<TSimRunner>(
        Link == "udp" ? OpenUdpLink("127.0.0.1", udpPort) : OpenPtyLink(), Board());
    Sim->Start();
  }

  const std::string Link;
  const bool FreshBoard;
  std::unique_ptr<TSimRunner> Sim;
  int EarlierBoardsRunsEnded = 0;
  TMainLoop Loop;
  TShiftWindow Window;
  TSession Session;
  TSessionTransports Links;
};

void PrintRow(int run, const TSample& s, const TSample& base, double msPerRun) {
  std::printf("%5d  %8ld  %+7ld  %10ld  %+9ld  %4d  %+4d  %4d  %+4d", run, s.RssKiB,
              s.RssKiB - base.RssKiB, s.HeapBytes, s.HeapBytes - base.HeapBytes, s.Fds,
              s.Fds - base.Fds, s.Threads, s.Threads - base.Threads);
  if (msPerRun >= 0) std::printf("  %7.1f", msPerRun);
  std::printf("\n");
  std::fflush(stdout);
}

void Soak(const std::string& link, const std::string& imagePath, const std::string& image,
          const TOptions& options) {
  const auto started = Clock::now();
  TShift shift(link, imagePath, options);
  std::printf("\n%s: %d runs, one session for all of them, %s\n", link.c_str(), options.Runs,
              options.FreshBoard ? "a new simulated board for each" : "one simulated board");
  std::printf("  run   rss KiB   Δ KiB  heap bytes    Δ bytes   fds    Δ  thr    Δ  ms/run\n");
  // The first run brings the lazily made things (the socket layer, the
  // allocator's arenas of the new threads), so the growth is counted from
  // after it; the line before it shows what that first run cost.
  const TSample before = Sample();
  PrintRow(0, before, before, -1);
  int failures = 0;
  auto lineAt = Clock::now();
  int lineRun = 0;
  TSample base;
  for (int run = 1; run <= options.Runs; ++run) {
    const std::string failure = shift.Run();
    if (!failure.empty()) {
      ++failures;
      if (failures <= 3) std::printf("  run %d failed: %s\n", run, failure.c_str());
    }
    if (run != 1 && run % options.Every != 0 && run != options.Runs) continue;
    const TSample now = Sample();
    if (run == 1) base = now;
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - lineAt).count() / (run - lineRun);
    PrintRow(run, now, base, ms);
    lineAt = Clock::now();
    lineRun = run;
  }
  const int boardRuns = shift.BoardRunsEnded();
  shift.StopBoard();
  const bool imageKept = shift.BoardImage() == image;
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::printf("%s: %d of %d runs written, the board counted %d runs ended, its last image %s; "
              "%.1f s\n",
              link.c_str(), options.Runs - failures, options.Runs, boardRuns,
              imageKept ? "is the image" : "DIFFERS from the image", seconds);
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
    if (option == "--fresh-board") {
      options.FreshBoard = true;
      continue;
    }
    if (i + 1 >= argc) throw std::invalid_argument(option + ": a value is needed");
    const char* value = argv[++i];
    if (option == "--runs") {
      options.Runs = PositiveNumber(value, "--runs");
    } else if (option == "--every") {
      options.Every = PositiveNumber(value, "--every");
    } else if (option == "--time-divisor") {
      options.TimeDivisor = PositiveNumber(value, "--time-divisor");
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
  platform::SetMainThread();
  TOptions options;
  try {
    options = ReadOptions(argc, argv);
  } catch (const std::exception& failure) {
    std::fprintf(stderr,
                 "soak_sessions: %s\nusage: soak_sessions [--runs N] [--every K] "
                 "[--link udp|pty|both] [--time-divisor D] [--fresh-board]\n",
                 failure.what());
    return 2;
  }
  const std::string dir = TempDir();
  const std::string imagePath = dir + "/soak.vqf";
  const std::string image = MakeImage();
  std::ofstream(imagePath, std::ios::binary) << image;
  std::printf("Writing runs in one process: %zu-byte image (2 sections of 16 x 64-byte blocks), "
              "time divisor %d\n",
              image.size(), options.TimeDivisor);
  std::printf("rss: VmRSS; heap: bytes allocated (mallinfo2 uordblks + hblkhd); fds: "
              "/proc/self/fd; thr: threads; Δ: since the end of run 1; ms/run: mean of the runs "
              "since the line before\n");
  int status = 0;
  try {
    for (const std::string& link : options.Links)
      Soak(link, imagePath, image, options);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "soak_sessions: %s\n", failure.what());
    status = 1;
  }
  std::remove(imagePath.c_str());
  rmdir(dir.c_str());
  return status;
}
