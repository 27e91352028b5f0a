#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/Descriptor.h"
#include "tools/SimLink.h"
#include "tools/devicemodel/DeviceModel.h"

// A simulated VEQ board: the device model behind a real link, on the model's
// clock of milliseconds since the runner was made (the board's power-on).
// Answers leave to the microsecond the model asks for, counted from the
// moment their request was read. It serves on the thread that calls Run, or
// on one of its own (Start), so that a test can flash it in-process.
class TSimRunner {
 public:
  // Throws std::invalid_argument for settings the model refuses.
  // std::system_error when no wake-up descriptor can be had.
  TSimRunner(std::unique_ptr<ISimLink> link, TDeviceModel::TSettings settings);
  ~TSimRunner();
  TSimRunner(const TSimRunner&) = delete;
  TSimRunner& operator=(const TSimRunner&) = delete;

  // What `veq flash` is given to reach this board (--port or --udp).
  std::string Where() const { return Where_; }

  // Stop serving after the first programming run has ended, that is when
  // the board returns to its boot state after a run (the end command).
  bool Once = false;
  // One line for every delivery received, answer sent and phase change; on
  // the serving thread.
  std::function<void(const std::string&)> OnLog;

  // Serves until RequestStop(), with Once the end of a run, or the model's
  // Gone fault, which closes the link first (a hung-up line, a closed socket).
  void Run();
  // Run on a thread of its own; Stop() ends it.
  void Start();
  // From any thread, also from a signal watcher: Run returns soon.
  void RequestStop();
  // RequestStop and wait for the thread of Start.
  void Stop();

  // Programming runs that have ended so far; from any thread.
  int RunsEnded() const { return RunsEnded_.load(); }
  // The sections the board accepted in its last run, as .vqf bytes. Read
  // it when the runner is not serving.
  std::string AcceptedImage() const { return Model.AcceptedImage(); }

 private:
  using TClock = std::chrono::steady_clock;

  // An answer waiting for its time.
  struct TScheduledAnswer {
    std::string Bytes;
    TClock::time_point Due;
  };

  int64_t NowMs() const;
  void Log(const std::string& line);
  void Receive();
  void Schedule(TDeviceModel::TAnswer answer, TClock::time_point arrived, int64_t stampMs);
  void SendDueAnswers();
  // Logs a change of the model's phase and counts the runs that end.
  void NotePhase();
  // Logs where the fault knob strikes; closes the link when the board is gone.
  void NoteFault();
  // When the serving loop must look again: the next answer's time, or a
  // moment to let the model notice a pause.
  TClock::time_point WakeAt() const;

  std::unique_ptr<ISimLink> Link;
  TDeviceModel Model;
  std::string Where_;
  TDeviceModel::TPhase LastPhase;
  int LastFaultsStruck = 0;
  TClock::time_point PowerOnAt;
  std::deque<TScheduledAnswer> Pending;
  platform::TWakeSignal Wake;
  std::atomic<bool> StopRequested{false};
  std::atomic<int> RunsEnded_{0};
  std::thread Server;
};

// Bytes as one log line: printable ASCII as it is, anything else as \xHH,
// cut after `limit` bytes with the total size added.
std::string EscapeForLog(const std::string& bytes, size_t limit = 16);
