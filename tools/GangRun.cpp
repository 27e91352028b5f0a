#include "tools/GangRun.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>

#include "engine/ProgressText.h"
#include "platform/Descriptor.h"
#include "platform/Process.h"
#include "platform/SignalWatcher.h"
#include "platform/Terminal.h"
#include "tools/FlashOutcome.h"
#include "tools/ProgressLine.h"

namespace {

using json = nlohmann::json;
using TClock = std::chrono::steady_clock;

constexpr int kPollMs = 100;
constexpr size_t kReadLimit = 64 * 1024;
constexpr int kDefaultColumns = 80;

// Which failure the gang's status names when boards fail differently: a
// signal first (the operator stopped the line), then what stops the whole
// line (a bad image, a broken link), then what one board said, then what
// an operator decided.
constexpr int kSignalRank = 0;
const int kGangExitPriority[] = {
    int(TFlashExit::UsageOrImage), int(TFlashExit::Link),     int(TFlashExit::DeviceError),
    int(TFlashExit::DeviceSilent), int(TFlashExit::NotReady), int(TFlashExit::WrongBoard),
    int(TFlashExit::Declined)};

int RankOf(int status) {
  if (status >= kSignalExitBase) return kSignalRank;
  const auto* found = std::find(std::begin(kGangExitPriority), std::end(kGangExitPriority), status);
  return 1 + int(found - std::begin(kGangExitPriority));
}

// One board: its child, what has come back from it, and what that says.
struct TBoard {
  TGangTarget Target;
  platform::TChild Child;
  std::string OutPending, ErrPending;
  std::vector<std::string> ErrLines;
  bool OutOpen = true, ErrOpen = true;
  std::optional<int> Exit;
  std::string DeviceId, Status, Outcome, Reason;
  uint64_t BytesDone = 0, BytesTotal = 0, Blocks = 0;
  double Seconds = 0;
  std::optional<TClock::time_point> WritingSince;

  bool Ended() const { return Exit.has_value(); }
};

std::vector<std::string> ChildArguments(const TGangOptions& options, const TGangTarget& target) {
  std::vector<std::string> args = {"flash", options.Image};
  if (target.Udp) {
    args.insert(args.end(), {"--udp", target.Ip, "--udp-port", std::to_string(target.UdpPort)});
  } else {
    args.insert(args.end(), {"--port", target.Port});
    args.insert(args.end(), options.SerialArgs.begin(), options.SerialArgs.end());
  }
  // Each its own free local port: boards written at once must not share one.
  args.insert(args.end(), {"--local-port", "0", "--json"});
  args.insert(args.end(), options.CommonArgs.begin(), options.CommonArgs.end());
  return args;
}

class TGang {
 public:
  TGang(const TGangOptions& options, const TSignalWatcher& signals, std::ostream& out,
        std::ostream& err)
      : Options(options), Signals(signals), Out(out), Err(err) {}

  int Run();

 private:
  void Start();
  void Serve();
  void Read(TBoard& board, bool fromOut);
  void TakeLines(TBoard& board, std::string& pending, bool fromOut, bool closed);
  void TakeEvent(TBoard& board, const std::string& line);
  void PassOnSignal();
  void DrawLines(bool last);
  std::string LineOf(const TBoard& board) const;
  void WriteTable();
  void WriteErrors();

  const TGangOptions& Options;
  const TSignalWatcher& Signals;
  std::ostream& Out;
  std::ostream& Err;
  std::vector<TBoard> Boards;
  int SignalsPassed = 0;
  bool Live = false;
  int Columns = kDefaultColumns;
  int LinesDrawn = 0;
};

void TGang::Start() {
  const std::string self = platform::OwnExecutable();
  for (const TGangTarget& target : Options.Targets) {
    TBoard board;
    board.Target = target;
    try {
      board.Child = platform::StartWithPipes(self, ChildArguments(Options, target));
    } catch (const std::exception& failure) {
      board.OutOpen = board.ErrOpen = false;
      board.Exit = int(TFlashExit::Link);
      board.Outcome = "link-failure";
      board.Reason = std::string("не удалось запустить veq flash: ") + failure.what();
    }
    Boards.push_back(std::move(board));
  }
}

void TGang::Read(TBoard& board, bool fromOut) {
  platform::TUniqueFd& fd = fromOut ? board.Child.Out : board.Child.Err;
  int error = 0;
  const std::optional<std::string> bytes = platform::ReadSome(fd.Get(), kReadLimit, error);
  // Ready and nothing to read: the child has closed its end.
  const bool closed = !bytes || bytes->empty();
  std::string& pending = fromOut ? board.OutPending : board.ErrPending;
  if (bytes) pending += *bytes;
  TakeLines(board, pending, fromOut, closed);
  if (closed) {
    fd.Reset();
    (fromOut ? board.OutOpen : board.ErrOpen) = false;
  }
}

void TGang::TakeLines(TBoard& board, std::string& pending, bool fromOut, bool closed) {
  size_t start = 0;
  for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = pending.substr(start, end - start);
    if (fromOut) {
      TakeEvent(board, line);
    } else if (!line.empty()) {
      board.ErrLines.push_back(line);
    }
  }
  pending.erase(0, start);
  if (closed && !pending.empty()) {
    if (fromOut) {
      TakeEvent(board, pending);
    } else {
      board.ErrLines.push_back(pending);
    }
    pending.clear();
  }
}

void TGang::TakeEvent(TBoard& board, const std::string& line) {
  nlohmann::ordered_json event = nlohmann::ordered_json::parse(line, nullptr, false);
  if (event.is_discarded() || !event.is_object()) {
    board.ErrLines.push_back(line);  // not an event: shown with the errors
    return;
  }
  if (Options.Json) {
    event["target"] = board.Target.Label();
    Out << event.dump(-1, ' ', false, json::error_handler_t::replace) << '\n' << std::flush;
  }
  const std::string kind = event.value("event", "");
  if (kind == "status") {
    board.Status = event.value("text", "");
  } else if (kind == "device") {
    board.DeviceId = event.value("id", "");
  } else if (kind == "progress") {
    if (!board.WritingSince) board.WritingSince = TClock::now();
    board.BytesDone = event.value("bytes_done", uint64_t{0});
    board.BytesTotal = event.value("bytes_total", uint64_t{0});
  } else if (kind == "result") {
    board.Outcome = event.value("outcome", "");
    if (event["device_id"].is_string()) board.DeviceId = event["device_id"];
    board.Blocks = event.value("blocks", uint64_t{0});
    board.BytesDone = event.value("bytes", uint64_t{0});
    board.Seconds = event.value("seconds", 0.0);
    if (event["reason"].is_string()) board.Reason = event["reason"];
  }
}

void TGang::PassOnSignal() {
  const int signal = Signals.Received();
  if (signal == 0 || SignalsPassed > 0) return;
  ++SignalsPassed;
  for (TBoard& board : Boards) {
    if (!board.Ended()) platform::SendSignal(board.Child.Pid, SIGINT);
  }
}

void TGang::Serve() {
  auto lastDrawn = TClock::now();
  while (std::any_of(Boards.begin(), Boards.end(), [](const TBoard& b) { return !b.Ended(); })) {
    std::vector<int> fds;
    std::vector<std::pair<TBoard*, bool>> owners;
    for (TBoard& board : Boards) {
      if (board.OutOpen) fds.push_back(board.Child.Out.Get()), owners.push_back({&board, true});
      if (board.ErrOpen) fds.push_back(board.Child.Err.Get()), owners.push_back({&board, false});
    }
    for (const size_t ready : platform::WaitReadable(fds, kPollMs))
      Read(*owners[ready].first, owners[ready].second);
    for (TBoard& board : Boards) {
      if (!board.Ended() && !board.OutOpen && !board.ErrOpen)
        board.Exit = platform::TryWait(board.Child.Pid);
    }
    PassOnSignal();
    if (Live && TClock::now() - lastDrawn >= std::chrono::milliseconds(kPollMs)) {
      DrawLines(false);
      lastDrawn = TClock::now();
    }
  }
}

std::string TGang::LineOf(const TBoard& board) const {
  std::string line = board.Target.Label() + "  " + (board.DeviceId.empty() ? "-" : board.DeviceId);
  if (board.BytesTotal > 0) {
    const double elapsed =
        board.WritingSince ? std::chrono::duration<double>(TClock::now() - *board.WritingSince).count()
                           : 0;
    line += "  " + std::to_string(board.BytesDone * 100 / board.BytesTotal) + "%";
    if (!board.Ended()) line += "  " + RateAndTimeLeft(board.BytesDone, board.BytesTotal, elapsed);
  }
  line += "  " + (board.Ended() ? board.Outcome : board.Status);
  return line;
}

// The boards' lines, drawn over the ones drawn before.
void TGang::DrawLines(bool last) {
  std::string text;
  if (LinesDrawn > 0) text += "\x1b[" + std::to_string(LinesDrawn) + "F";
  for (const TBoard& board : Boards)
    text += "\x1b[2K" + CutToWidth(LineOf(board), size_t(std::max(1, Columns - 1))) + "\n";
  Err << text << std::flush;
  LinesDrawn = last ? 0 : int(Boards.size());
}

void TGang::WriteTable() {
  Out << "Цель\tУстройство\tИсход\tКод\tБлоков\tБайт\tСек\tПричина\n";
  for (const TBoard& board : Boards) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", board.Seconds);
    Out << board.Target.Label() << '\t' << (board.DeviceId.empty() ? "-" : board.DeviceId) << '\t'
        << (board.Outcome.empty() ? "-" : board.Outcome) << '\t' << *board.Exit << '\t'
        << board.Blocks << '\t' << board.BytesDone << '\t' << seconds << '\t'
        << (board.Reason.empty() ? "-" : board.Reason) << '\n';
  }
  Out << std::flush;
}

void TGang::WriteErrors() {
  for (const TBoard& board : Boards) {
    for (const std::string& line : board.ErrLines)
      Err << board.Target.Label() << ": " << line << '\n';
  }
  Err << std::flush;
}

int TGang::Run() {
  Live = !Options.Json && platform::IsTerminal(STDERR_FILENO);
  if (Live) Columns = platform::TerminalColumns(STDERR_FILENO, kDefaultColumns);
  Start();
  Serve();
  if (Live) DrawLines(true);
  if (!Options.Json) WriteTable();
  WriteErrors();
  std::vector<int> statuses;
  for (const TBoard& board : Boards)
    statuses.push_back(*board.Exit);
  return GangExitStatus(statuses);
}

}  // namespace

std::string TGangTarget::Label() const {
  return Udp ? Ip + ":" + std::to_string(UdpPort) : Port;
}

int GangExitStatus(const std::vector<int>& statuses) {
  int chosen = 0;
  for (const int status : statuses) {
    if (status != 0 && (chosen == 0 || RankOf(status) < RankOf(chosen))) chosen = status;
  }
  return chosen;
}

int RunGang(const TGangOptions& options, const TSignalWatcher& signals, std::ostream& out,
            std::ostream& err) {
  return TGang(options, signals, out, err).Run();
}
