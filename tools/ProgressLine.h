#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "engine/ImageScan.h"

// The live line a terminal shows under the log while flashing: the status
// line, and during a writing run a bar with percent, bytes per second and
// time left.

// Data bytes a run has sent when the session's counters read sectionIndex
// and blockIndex (the next header or block to send).
uint64_t BytesSentBefore(const TImageScan& scan, int32_t sectionIndex, int32_t blockIndex);

// "[#######.............]  35%  12.4 KiB/s  0:07 left"; the rate and the
// time left show as "--" until some time has passed and bytes have gone.
std::string ProgressBar(uint64_t done, uint64_t total, double elapsedSeconds, int barWidth);

// 999 B/s, 12.4 KiB/s, 3.1 MiB/s.
std::string RateText(double bytesPerSecond);
// m:ss, or h:mm:ss from an hour on.
std::string DurationText(double seconds);

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

// Composes the live line from the status and, while writing, the counters.
class TFlashProgress {
 public:
  using Clock = std::chrono::steady_clock;

  TFlashProgress(TLiveLine& line, TImageScan scan) : Line(line), Scan(std::move(scan)) {}

  void SetStatus(const std::string& status);
  // The writing run has begun now; the rate counts from here.
  void StartWriting(Clock::time_point now);
  // The counters after a step; redraws at most every 100 ms unless forced.
  void Update(int32_t sectionIndex, int32_t blockIndex, Clock::time_point now, bool force = false);

 private:
  void Redraw();

  TLiveLine& Line;
  TImageScan Scan;
  std::string Status;
  bool Writing = false;
  Clock::time_point WritingSince;
  Clock::time_point LastDrawn;
  uint64_t BytesDone = 0;
  double Elapsed = 0;
};
