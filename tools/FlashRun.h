#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "engine/ImageScan.h"
#include "engine/Session.h"
#include "platform/MainLoop.h"
#include "records/RunRecorder.h"
#include "tools/ConsoleWindow.h"
#include "tools/FlashOutcome.h"
#include "tools/JsonEvents.h"
#include "tools/LineOptions.h"
#include "tools/ProgressLine.h"

class TSessionTransports;
class TSignalWatcher;

struct TFlashOptions {
  std::string Image;
  bool Udp = false;
  // Serial link: the COM panel's texts.
  std::string Port;
  TLineTexts Line;
  // UDP link.
  std::string UdpIp;
  uint16_t UdpPort = 1001;
  uint16_t LocalPort = 12345;
  bool Yes = false;
  bool Debug = false;
  bool Json = false;
  int ConnectTimeoutMs = 120000;  // 0: wait for ever
  // The records file the run is added to.
  std::string Records;
  // Test aid: timer periods and sleeps run this many times faster in real
  // time, while the session still counts their nominal length.
  int TimeDivisor = 1;
};

// One run of the command: the session with the console window, the two
// transports and the headless loop that drives Timer1, from Connect through
// Start to the Disconnect that closing the window does. Main thread only.
class TFlashRun {
 public:
  // The signal watcher must exist before this object starts any thread.
  TFlashRun(const TFlashOptions& options, TImageScan scan, const TSignalWatcher& watcher,
            std::ostream& out, std::ostream& err);
  ~TFlashRun();
  TFlashRun(const TFlashRun&) = delete;
  TFlashRun& operator=(const TFlashRun&) = delete;

  // Returns the exit status.
  int Run();

 private:
  using TClock = std::chrono::steady_clock;

  void Configure();
  void ShowProgressOnTerminal();
  void EmitProgressEvents();
  void FollowTimer1();
  // Runs the loop until done() or a signal.
  void Serve(const std::function<bool()>& done);
  bool RunEnded() const;
  void Connect();
  void Write();
  void AskBeforeStart();
  void Disconnect();
  void RecordStart();
  // The exit status, and what the run's end says on the error stream or as
  // the JSON result.
  int Conclude(const TRunEnd& end);
  void ExplainOpenFailure(const TRunEnd& end);
  bool Interrupted() const;
  // The error stream for the command's own texts, after the log so far.
  std::ostream& Report();
  TMessageResult AskOnTerminal();
  std::string ReadAnswerLine();

  const TFlashOptions& Options;
  const TSignalWatcher& Signals;
  std::ostream& Out;
  std::ostream& Err;
  TConsoleWindow Window;
  // Before the links, which wait in it, and so gone after them.
  TMainLoop Loop;
  TSession Session;
  std::unique_ptr<TSessionTransports> Links;
  TRunRecorder Recorder;
  TMainLoop::TimerId Timer1 = 0;
  TImageScan Scan;
  std::unique_ptr<TJsonEvents> Events;
  std::unique_ptr<TLiveLine> Live;
  std::unique_ptr<TFlashProgress> Progress;
  // A warning box has told the operator why the run cannot go on.
  bool Warned = false;
  std::optional<TClock::time_point> WritingSince;
  double WritingSeconds = 0;
};
