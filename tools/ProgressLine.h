#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "engine/ProgressText.h"
#include "engine/Session.h"

// The live line a terminal shows under the log while flashing: the status
// line, while waiting for the device how long it has waited, and during a
// writing run a bar with percent, bytes per second and time left. Main
// thread only.

// "[#######.............]  35%  12.4 КиБ/с  осталось 0:07"; the rate and
// the time left show as "--" until some time has passed and bytes have gone.
std::string ProgressBar(uint64_t done, uint64_t total, double elapsedSeconds, int barWidth);

// Number of characters (UTF-8 code points) a terminal shows for text.
size_t DisplayWidth(const std::string& text);
// text cut to at most width characters, never inside a UTF-8 sequence.
std::string CutToWidth(const std::string& text, size_t width);

// The one line at the bottom of a terminal that is redrawn in place. Whoever
// writes anything else to the terminal hides it first and shows it again
// afterwards, so that log lines scroll above it.
class TLiveLine {
 public:
  TLiveLine(std::ostream& terminal, int columns) : Terminal(terminal), Columns_(columns) {}

  int Columns() const { return Columns_; }
  void Set(const std::string& text);
  void Hide();
  void Show();
  // Leaves the line as it stands above whatever comes next; it is not drawn
  // again.
  void Keep();

 private:
  void Draw();

  std::ostream& Terminal;
  int Columns_;
  std::string Text;
  bool Drawn = false;
  bool Kept = false;
};

// Composes the live line from the status and the session's progress.
class TFlashProgress {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TFlashProgress(TLiveLine& line) : Line(line) {}

  void SetStatus(const std::string& status);
  // The search for the device has begun now; limitMs 0: no limit.
  void StartWaiting(Clock::time_point now, int limitMs);
  // The writing run has begun now; the rate counts from here.
  void StartWriting(Clock::time_point now);
  // Redraws at most every 100 ms unless forced: the time waited, or the
  // writing run's progress.
  void Update(const TProgress& progress, Clock::time_point now, bool force = false);

 private:
  enum class TPhase { Status, Waiting, Writing };
  void Redraw();

  TLiveLine& Line;
  std::string Status;
  TPhase Phase = TPhase::Status;
  Clock::time_point Since;
  Clock::time_point LastDrawn;
  int LimitMs = 0;
  TProgress Last;
  double Elapsed = 0;
};
