#include "tools/FlashRun.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ostream>

#include "adapters/SessionTransports.h"
#include "engine/DisplayText.h"
#include "platform/Descriptor.h"
#include "platform/SignalWatcher.h"
#include "platform/Terminal.h"
#include "serial/PortList.h"
#include "records/ImageDigest.h"

namespace {

// How often the progress bar and the JSON progress look at the session.
constexpr int kProgressPeriodMs = 100;
// How often log lines that go to a file or a pipe are flushed: one write per
// block would wake the reader for every block.
constexpr int kLogFlushPeriodMs = 50;
// How often the terminal question looks for a signal or a hand-over.
constexpr int kQuestionPollMs = 50;
// The width of a progress line when the terminal does not tell its own.
constexpr int kDefaultColumns = 80;

bool SaysYes(std::string answer) {
  answer.erase(std::remove_if(answer.begin(), answer.end(),
                              [](unsigned char c) { return std::isspace(c) != 0; }),
               answer.end());
  std::transform(answer.begin(), answer.end(), answer.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return answer == "д" || answer == "да" || answer == "Д" || answer == "Да" || answer == "ДА" ||
         answer == "y" || answer == "yes" || answer == "ok";
}

// What the operator can do about a port that would not open.
std::string OpenFailureHint(int systemError) {
  if (systemError == ENOENT || systemError == ENODEV || systemError == ENXIO) {
    std::vector<std::string> ports;
    ListSerialPorts(ports);
    if (ports.empty()) return "последовательных портов на этой машине нет";
    std::string list;
    for (const std::string& port : ports)
      list += (list.empty() ? "" : ", ") + port;
    return "порты этой машины: " + list;
  }
  if (systemError == EACCES || systemError == EPERM) {
    return "добавьте пользователя в группу dialout (sudo usermod -aG dialout $USER) и войдите "
           "в систему заново";
  }
  if (systemError == EBUSY || systemError == EWOULDBLOCK) {
    return "закройте программу, которая держит порт, и повторите";
  }
  return {};
}

}  // namespace

TFlashRun::TFlashRun(const TFlashOptions& options, TImageScan scan, const TSignalWatcher& watcher,
                     std::ostream& out, std::ostream& err)
    : Options(options),
      Signals(watcher),
      Out(out),
      Err(err),
      Window(out, err),
      Session(Window),
      Links(std::make_unique<TSessionTransports>(Session, Window, &Loop)),
      Recorder(options.Records, [this](const std::string& line) { Window.MemoLogAppend(line); }),
      Scan(std::move(scan)) {
  Configure();
}

// Out of line, where TSessionTransports is complete; the links close (and
// leave the loop) before the session they hand events to goes.
TFlashRun::~TFlashRun() = default;

// The window's state after its settings were loaded, from the options.
void TFlashRun::Configure() {
  Window.TimeDivisor = Options.TimeDivisor;
  Window.SetText(TTextControl::EditFileName, Options.Image);
  Window.SetText(TTextControl::cbComN, Options.Port);
  Window.SetText(TTextControl::cbBr, Options.Line.Baud);
  Window.SetText(TTextControl::cbDb, Options.Line.DataBits);
  Window.SetText(TTextControl::cbPar, Options.Line.Parity);
  Window.SetText(TTextControl::cbSb, Options.Line.StopBits);
  Window.SetText(TTextControl::EditIP, Options.Udp ? Options.UdpIp : "192.168.0.254");
  Session.SelectLink(Options.Udp ? TLinkMode::Udp : TLinkMode::Serial);
  Session.ConfigureUdp(
      {Window.Text(TTextControl::EditIP), Options.UdpPort, Options.LocalPort});
  Session.SetSearchLimit(static_cast<uint32_t>(Options.ConnectTimeoutMs));
  if (Options.Json) {
    Events = std::make_unique<TJsonEvents>(Out);
    Window.Events = Events.get();
  }
  Session.CheckFirmwareFile(Options.Image);
  // As a Shift-click on Connect does: from Connect on, not for the check.
  if (Options.Debug) Session.EnableDebugMode();

  Window.OnMessage = [this](TMessageKind kind, const std::string&) {
    if (kind == TMessageKind::Warning) Warned = true;
  };
  Window.Confirm = [this](const std::string&) { return AskOnTerminal(); };
  // The log on the same terminal already shows the success line.
  Window.InformationOnErr = !platform::IsTerminal(STDOUT_FILENO);
  if (Events) {
    EmitProgressEvents();
  } else if (platform::IsTerminal(STDERR_FILENO)) {
    ShowProgressOnTerminal();
  }
  if (!Events && !platform::IsTerminal(STDOUT_FILENO)) {
    Window.FlushEveryLine = false;
    Loop.AddTimer(kLogFlushPeriodMs, [this] { Window.Flush(); });
  }
  FollowTimer1();
}

std::ostream& TFlashRun::Report() {
  Window.Flush();
  if (Live) Live->Hide();
  return Err;
}

void TFlashRun::ShowProgressOnTerminal() {
  Live = std::make_unique<TLiveLine>(Err, platform::TerminalColumns(STDERR_FILENO, kDefaultColumns));
  Progress = std::make_unique<TFlashProgress>(*Live);
  Window.OnStatus = [this](const std::string& status) { Progress->SetStatus(status); };
  // Log lines that go elsewhere (a file, a pipe) need not disturb it.
  const bool logOnTerminal = platform::IsTerminal(STDOUT_FILENO);
  Window.BeforeOutput = [this, logOnTerminal](bool toLog) {
    if (!toLog || logOnTerminal) Live->Hide();
  };
  Window.AfterOutput = [this](bool) {
    if (!RunEnded()) Live->Show();
  };
  Loop.AddTimer(kProgressPeriodMs, [this] {
    if (!RunEnded()) Progress->Update(Session.Progress(), TClock::now());
  });
}

// At most ten a second while writing, and whenever a section is complete;
// the device's identity once it is known.
void TFlashRun::EmitProgressEvents() {
  Loop.AddTimer(kProgressPeriodMs, [this, told = std::string()]() mutable {
    const std::string& id = Session.DeviceIdentity();
    if (id.empty() || id == told) return;
    told = id;
    Events->Device(BytesToDisplayText(id));
  });
  auto emitChanged = [this, last = std::optional<TProgress>()]() mutable {
    if (Session.State() != TSessionState::Writing) return;
    const TProgress now = Session.Progress();
    if (last && now.Done == last->Done && now.Section == last->Section) return;
    last = now;
    Events->Progress(now);
  };
  Loop.AddTimer(kProgressPeriodMs, emitChanged);
  Session.OnSectionHeaderSent = emitChanged;
}

// Timer1 is a loop timer whose real period is the nominal one shortened by
// the time divisor; the session reads the nominal interval from the window.
void TFlashRun::FollowTimer1() {
  const auto realPeriod = [this] {
    return std::max(1, Window.Timer1Interval() / Options.TimeDivisor);
  };
  Timer1 = Loop.AddTimer(realPeriod(), [this] { Session.Timer1Timer(); });
  Window.OnTimerChanged = [this, realPeriod] {
    Loop.SetInterval(Timer1, realPeriod());
    Loop.SetEnabled(Timer1, Window.Timer1Enabled());
  };
}

bool TFlashRun::Interrupted() const {
  return Signals.Received() != 0;
}

bool TFlashRun::RunEnded() const {
  return Session.LastRunEnd().Outcome != TRunOutcome::None;
}

void TFlashRun::Serve(const std::function<bool()>& done) {
  Loop.RunUntil([&] { return Interrupted() || done(); }, -1);
}

int TFlashRun::Run() {
  TRunEnd end;
  try {
    RecordStart();
    Connect();
    if (Session.State() == TSessionState::Ready && !Interrupted()) Write();
    end = Session.LastRunEnd();
  } catch (const std::exception& failure) {
    end.Outcome = TRunOutcome::LinkFailure;
    end.Detail = failure.what();
  }
  Disconnect();
  // Disconnect tells how a signal ended the run.
  if (Interrupted() && end.Outcome == TRunOutcome::None) end = Session.LastRunEnd();
  return Conclude(end);
}

// Before the link opens, so that whatever follows leaves a record.
void TFlashRun::RecordStart() {
  const std::string target =
      Options.Udp ? Options.UdpIp + ":" + std::to_string(Options.UdpPort) : Options.Port;
  Recorder.Started(Options.Udp ? "udp" : "serial", target, Options.Image, "");
}

void TFlashRun::Connect() {
  Session.ButConnectClick();
  if (RunEnded()) return;  // the link did not open
  if (Progress) Progress->StartWaiting(TClock::now(), Options.ConnectTimeoutMs);
  Serve([this] { return Session.State() == TSessionState::Ready || RunEnded(); });
}

void TFlashRun::Write() {
  AskBeforeStart();
  if (Interrupted()) return;
  WritingSince = TClock::now();
  if (Progress) Progress->StartWriting(*WritingSince);
  Session.ButStartClick();
  // Start leaves the device ready when it cannot open the image.
  if (Session.State() != TSessionState::Ready) Serve([this] { return RunEnded(); });
  WritingSeconds = std::chrono::duration<double>(TClock::now() - *WritingSince).count();
}

// The question the session would put after "Начало записи..." is put before
// Start, so that a person answers it before anything is written; the
// session's own box then takes that answer.
void TFlashRun::AskBeforeStart() {
  if (Scan.Sections.empty()) return;
  const std::string question = Session.QuestionBeforeWriting(Scan.Sections.front().Header.FileId);
  if (question.empty()) return;
  Window.Prepared.reset();
  const TMessageResult answer = Window.MessageBox(TMessageKind::Confirmation, question);
  Window.Prepared = TConsoleWindow::TPreparedAnswer{question, answer};
}

// What closing the window does: Disconnect, unless the session has just
// disconnected itself (a refused header), when a second one would only log
// " MODE NONE  " for an end command that goes nowhere.
void TFlashRun::Disconnect() {
  if (Session.ActiveLink() == TLinkMode::None) return;
  try {
    Session.ButDisconnectClick();
  } catch (const std::exception& failure) {
    Report() << "veq flash: " << failure.what() << '\n';
  }
}

int TFlashRun::Conclude(const TRunEnd& end) {
  const bool bySignal = Interrupted() && end.Outcome != TRunOutcome::Written;
  const TFlashVerdict verdict = VerdictOf(end.Outcome);
  const int status = bySignal ? kSignalExitBase + Signals.Received() : int(verdict.Exit);
  const char* word = bySignal ? kInterruptedWord : verdict.Word;
  Recorder.Ended(word, Session.Progress(), end, WritingSeconds, Session.DeviceIdentity());
  Window.Flush();
  if (Live) Live->Hide();
  if (Events) {
    TJsonEvents::TResult result;
    result.Outcome = word;
    result.Exit = status;
    result.DeviceId = BytesToDisplayText(Session.DeviceIdentity());
    result.Image = Options.Image;
    result.ImageSha256 = FileSha256(Options.Image);
    result.Written = Session.Progress();
    result.Seconds = WritingSeconds;
    result.Writing = end.Writing;
    result.Section = end.Section;
    result.Block = end.Block;
    if (status != 0) result.Reason = RunEndText(end);
    Events->Result(result);
    return status;
  }
  if (status == 0) return status;
  ExplainOpenFailure(end);
  // A warning box has said it already, in the words the window uses.
  if (!Warned || bySignal) {
    const std::string reason = RunEndText(end);
    if (!reason.empty()) Err << reason << '\n' << std::flush;
  }
  return status;
}

void TFlashRun::ExplainOpenFailure(const TRunEnd& end) {
  if (end.Outcome != TRunOutcome::LinkFailure || end.Writing || end.Detail.empty()) return;
  const std::string hint = OpenFailureHint(end.SystemError);
  Err << "veq flash: " << end.Detail << (hint.empty() ? "" : ": " + hint) << '\n' << std::flush;
}

// The confirmation box on a terminal: the question is already on standard
// error; OK is "д", anything else (also end of input) Cancel.
TMessageResult TFlashRun::AskOnTerminal() {
  if (Options.Yes) return TMessageResult::Ok;
  if (!platform::IsTerminal(STDIN_FILENO)) {
    Report() << "veq flash: нет терминала для ответа, ответ — отмена (--yes отвечает OK)\n";
    return TMessageResult::Cancel;
  }
  Report() << "Продолжить? [д/Н] " << std::flush;
  const std::string answer = ReadAnswerLine();
  return SaysYes(answer) ? TMessageResult::Ok : TMessageResult::Cancel;
}

// Like a modal box, keeps serving the links (but not the timers) while it
// waits, and gives up on a signal.
std::string TFlashRun::ReadAnswerLine() {
  std::string line;
  while (!Interrupted()) {
    const int in[] = {STDIN_FILENO};
    if (platform::WaitReadable(in, kQuestionPollMs).empty()) {
      Loop.ServeWithoutTimers(0);
      continue;
    }
    int error = 0;
    const std::optional<std::string> c = platform::ReadSome(STDIN_FILENO, 1, error);
    // The end of the input, or a failed read, ends the answer as Enter does.
    if (!c || c->empty() || (*c)[0] == '\n') return line;
    line += *c;
  }
  Err << '\n';
  return {};
}
