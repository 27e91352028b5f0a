#include "tools/FlashRun.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ostream>

#include "adapters/SerialAdapter.h"
#include "adapters/UdpAdapter.h"
#include "platform/MainThread.h"
#include "serial/BCPort.h"
#include "tools/SignalWatcher.h"
#include "udp/IdUDPServer.h"

namespace {

const char* const kSuccessText = "Успешно. Устройство перезагружается.";
// How often the progress bar looks at the session's counters.
constexpr int kProgressPeriodMs = 100;
// How often log lines that go to a file or a pipe are flushed: one write per
// block would wake the reader for every block.
constexpr int kLogFlushPeriodMs = 50;
// How often the terminal question looks for a signal or a hand-over.
constexpr int kQuestionPollMs = 50;

int TerminalColumns(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

bool SaysYes(std::string answer) {
  answer.erase(std::remove_if(answer.begin(), answer.end(),
                              [](unsigned char c) { return std::isspace(c) != 0; }),
               answer.end());
  std::transform(answer.begin(), answer.end(), answer.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return answer == "y" || answer == "yes" || answer == "ok" || answer == "д" || answer == "да";
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
      Port(std::make_unique<TBComPort>()),
      Udp(std::make_unique<TIdUDPServer>()),
      Scan(std::move(scan)) {
  SerialLink = std::make_unique<TSerialAdapter>(*Port, Session, Window);
  UdpLink = std::make_unique<TUdpAdapter>(*Udp, Session);
  Session.AttachSerial(SerialLink.get());
  Session.AttachUdp(UdpLink.get());
  Configure();
}

TFlashRun::~TFlashRun() {
  // The links' threads hand their events to the session: end them first.
  if (Port->IsOpen()) Session.CloseComLink();
  if (Udp->IsActive()) Session.CloseUdpLink();
}

// The window's state after its settings were loaded, from the options.
void TFlashRun::Configure() {
  Window.TimeDivisor = Options.TimeDivisor;
  Window.SetText(TTextControl::EditFileName, Options.Image);
  Window.SetText(TTextControl::cbComN, Options.Port);
  Window.SetText(TTextControl::cbBr, Options.Baud);
  Window.SetText(TTextControl::cbDb, Options.DataBits);
  Window.SetText(TTextControl::cbPar, Options.Parity);
  Window.SetText(TTextControl::cbSb, Options.StopBits);
  Window.SetText(TTextControl::EditIP, Options.Udp ? Options.UdpIp : "192.168.0.254");
  Session.SelectedMode = Options.Udp ? 1 : 0;
  Session.UdpTargetIp = Window.Text(TTextControl::EditIP);
  Session.UdpTargetPort = Options.UdpPort;
  Session.UdpServerPort = Options.LocalPort;
  Session.CheckFirmwareFile(Options.Image);
  // As a Shift-click on Connect does: from Connect on, not for the check.
  Session.DebugMode = Options.Debug;

  Window.OnMessage = [this](TMessageKind kind, const std::string& text) {
    if (kind == TMessageKind::Information && text == kSuccessText) Succeeded = true;
  };
  Window.Confirm = [this](const std::string&) { return AskOnTerminal(); };
  if (isatty(STDERR_FILENO)) ShowProgressOnTerminal();
  if (!isatty(STDOUT_FILENO)) {
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
  Live = std::make_unique<TLiveLine>(Err, TerminalColumns(STDERR_FILENO));
  Progress = std::make_unique<TFlashProgress>(*Live, Scan);
  Window.OnStatus = [this](const std::string& status) { Progress->SetStatus(status); };
  // Log lines that go elsewhere (a file, a pipe) need not disturb it.
  const bool logOnTerminal = isatty(STDOUT_FILENO) != 0;
  Window.BeforeOutput = [this, logOnTerminal](bool toLog) {
    if (!toLog || logOnTerminal) Live->Hide();
  };
  Window.AfterOutput = [this](bool) { Live->Show(); };
  Loop.AddTimer(kProgressPeriodMs, [this] {
    if (Session.SessionState == 5) {
      Progress->Update(Session.SectionIndex, Session.BlockIndex, TFlashProgress::Clock::now());
    }
  });
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

bool TFlashRun::Serve(const std::function<bool()>& done, int timeoutMs) {
  return Loop.RunUntil([&] { return Interrupted() || done(); }, timeoutMs);
}

int TFlashRun::Run() {
  int status = kFlashFailed;
  try {
    status = Connect();
    if (status == kFlashSucceeded) status = Write();
  } catch (const std::exception& failure) {
    Report() << "veq flash: " << failure.what() << '\n';
    status = kFlashFailed;
  }
  return Finish(status);
}

int TFlashRun::Connect() {
  Session.ButConnectClick();
  // Connect enables Disconnect only once the link is open.
  if (!Window.ButtonEnabled(TButton::ButDisconnect)) return kFlashNoLink;
  const bool ready =
      Serve([this] { return Session.SessionState == 4 || Session.SessionState == 0; },
            Options.ConnectTimeoutMs);
  if (Interrupted() || Session.SessionState == 0) return kFlashFailed;
  if (!ready) {
    Report() << "veq flash: the device was not ready for writing within "
             << Options.ConnectTimeoutMs / 1000.0 << " s\n";
    return kFlashFailed;
  }
  return kFlashSucceeded;
}

int TFlashRun::Write() {
  if (Progress) Progress->StartWriting(TFlashProgress::Clock::now());
  Session.ButStartClick();
  // Start leaves the device ready when it cannot open the image.
  if (Session.SessionState == 4) return kFlashUsageOrImage;
  Serve([this] { return Session.SessionState != 5; });
  if (Progress) {
    Progress->Update(Session.SectionIndex, Session.BlockIndex, TFlashProgress::Clock::now(), true);
  }
  if (Live) Live->Keep();
  return Succeeded ? kFlashSucceeded : kFlashFailed;
}

// What closing the window does: Disconnect, unless the session has just
// disconnected itself (a refused header), when a second one would only log
// " MODE NONE  " for an end command that goes nowhere.
int TFlashRun::Finish(int status) {
  if (Session.LinkMode != 3) {
    try {
      Session.ButDisconnectClick();
    } catch (const std::exception& failure) {
      Report() << "veq flash: " << failure.what() << '\n';
    }
  }
  Window.Flush();
  if (Live) Live->Hide();
  if (Interrupted() && status != kFlashSucceeded) return kFlashSignalBase + Signals.Received();
  return status;
}

// The confirmation box on a terminal: the question is already on standard
// error; OK is "y", anything else (also end of input) Cancel.
TMessageResult TFlashRun::AskOnTerminal() {
  if (Options.Yes) return TMessageResult::Ok;
  if (!isatty(STDIN_FILENO)) {
    Report() << "veq flash: no terminal to answer on: Cancel (give --yes to answer OK)\n";
    return TMessageResult::Cancel;
  }
  Report() << "OK? [y/N] " << std::flush;
  const std::string answer = ReadAnswerLine();
  if (Live) Live->Show();
  return SaysYes(answer) ? TMessageResult::Ok : TMessageResult::Cancel;
}

// Like a modal box, keeps serving the links' hand-overs while it waits, and
// gives up on a signal.
std::string TFlashRun::ReadAnswerLine() {
  std::string line;
  while (!Interrupted()) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, kQuestionPollMs) <= 0) {
      platform::CheckSynchronize(0);
      continue;
    }
    char c = 0;
    if (read(STDIN_FILENO, &c, 1) != 1 || c == '\n') return line;
    line += c;
  }
  Err << '\n';
  return {};
}
