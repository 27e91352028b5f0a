#include "tools/ProgressLine.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

std::string ProgressBar(uint64_t done, uint64_t total, double elapsedSeconds, int barWidth) {
  const double fraction = total == 0 ? 1.0 : std::min(1.0, double(done) / double(total));
  const int filled = static_cast<int>(fraction * barWidth);
  std::string bar = "[" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "]";
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100));
  return bar + "  " + percent + "  " + RateAndTimeLeft(done, total, elapsedSeconds);
}

size_t DisplayWidth(const std::string& text) {
  return std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
}

std::string CutToWidth(const std::string& text, size_t width) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((text[i] & 0xC0) != 0x80 && characters++ == width) return text.substr(0, i);
  }
  return text;
}

void TLiveLine::Set(const std::string& text) {
  if (text == Text && Drawn) return;
  Text = text;
  Draw();
}

void TLiveLine::Hide() {
  if (!Drawn) return;
  Terminal << "\r\033[K" << std::flush;
  Drawn = false;
}

void TLiveLine::Show() {
  if (!Drawn) Draw();
}

void TLiveLine::Keep() {
  if (Kept) return;
  if (!Drawn) Draw();
  Terminal << '\n' << std::flush;
  Drawn = false;
  Kept = true;
}

void TLiveLine::Draw() {
  if (Kept) return;
  // One column short of the width: a line that fills the last column makes
  // some terminals wrap, and "\r" would then no longer reach its start.
  Terminal << "\r" << CutToWidth(Text, std::max(Columns_ - 1, 1)) << "\033[K" << std::flush;
  Drawn = true;
}

void TFlashProgress::SetStatus(const std::string& status) {
  // The session sets " Запись..." again with every block.
  if (status == Status) return;
  Status = status;
  Redraw();
}

void TFlashProgress::StartWaiting(Clock::time_point now, int limitMs) {
  Phase = TPhase::Waiting;
  Since = LastDrawn = now;
  LimitMs = limitMs;
  Elapsed = 0;
  Redraw();
}

void TFlashProgress::StartWriting(Clock::time_point now) {
  Phase = TPhase::Writing;
  Since = LastDrawn = now;
  Last = {};
  Elapsed = 0;
}

void TFlashProgress::Update(const TProgress& progress, Clock::time_point now, bool force) {
  if (Phase == TPhase::Status) return;
  Last = progress;
  Elapsed = std::chrono::duration<double>(now - Since).count();
  if (!force && now - LastDrawn < std::chrono::milliseconds(100)) return;
  LastDrawn = now;
  Redraw();
}

void TFlashProgress::Redraw() {
  switch (Phase) {
    case TPhase::Status:
      Line.Set(Status);
      return;
    case TPhase::Waiting:
      Line.Set(Status + "  ожидание " + DurationText(Elapsed) +
               (LimitMs > 0 ? " из " + DurationText(LimitMs / 1000.0) : std::string()));
      return;
    case TPhase::Writing:
      break;
  }
  // What the rest of the line leaves for the bar, within sensible bounds.
  constexpr int kStatsWidth = 34;
  const int room = Line.Columns() - static_cast<int>(DisplayWidth(Status)) - kStatsWidth;
  const int barWidth = std::clamp(room, 10, 40);
  Line.Set(Status + "  " + ProgressBar(Last.Done.Bytes, Last.Total.Bytes, Elapsed, barWidth));
}
