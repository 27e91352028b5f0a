#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "engine/ImageScan.h"
#include "engine/Session.h"
#include "platform/MainLoop.h"
#include "tools/ConsoleWindow.h"
#include "tools/ProgressLine.h"

class TBComPort;
class TIdUDPServer;
class TSerialAdapter;
class TUdpAdapter;
class TSignalWatcher;

struct TFlashOptions {
  std::string Image;
  bool Udp = false;
  // Serial link: the COM panel's texts.
  std::string Port;
  std::string Baud = "9600";
  std::string DataBits = "8";
  std::string Parity = "odd";
  std::string StopBits = "1";
  // UDP link.
  std::string UdpIp;
  uint16_t UdpPort = 1001;
  uint16_t LocalPort = 12345;
  bool Yes = false;
  bool Debug = false;
  int ConnectTimeoutMs = -1;  // negative: wait for ever
  // Test aid: timer periods and sleeps run this many times faster in real
  // time, while the session still counts their nominal length.
  int TimeDivisor = 1;
};

// Exit statuses of `veq flash`.
enum : int {
  kFlashSucceeded = 0,
  kFlashFailed = 1,
  kFlashUsageOrImage = 2,
  kFlashNoLink = 3,
  kFlashSignalBase = 128,  // + the signal's number: 130 for Ctrl-C
};

// One run of the command: the session with the console window, the two
// transports and the headless loop that drives Timer1, from Connect through
// Start to the Disconnect that closing the window does.
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
  void Configure();
  void ShowProgressOnTerminal();
  void FollowTimer1();
  // Runs the loop until done() or a signal; false when the limit passed.
  bool Serve(const std::function<bool()>& done, int timeoutMs = -1);
  int Connect();
  int Write();
  int Finish(int status);
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
  TSession Session;
  std::unique_ptr<TBComPort> Port;
  std::unique_ptr<TIdUDPServer> Udp;
  std::unique_ptr<TSerialAdapter> SerialLink;
  std::unique_ptr<TUdpAdapter> UdpLink;
  TMainLoop Loop;
  TMainLoop::TimerId Timer1 = 0;
  TImageScan Scan;
  std::unique_ptr<TLiveLine> Live;
  std::unique_ptr<TFlashProgress> Progress;
  bool Succeeded = false;
};
