#include "tools/ProgressLine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

uint64_t BytesSentBefore(const TImageScan& scan, int32_t sectionIndex, int32_t blockIndex) {
  uint64_t bytes = 0;
  for (const TSectionReport& section : scan.Sections) {
    if (section.Header.IsEndMarker() || section.Index > sectionIndex) break;
    if (section.Index < sectionIndex) {
      bytes += section.Header.DataLength();
    } else {
      const int32_t blocks = std::clamp<int32_t>(blockIndex - 1, 0, section.Header.BlockCount);
      bytes += uint64_t(blocks) * section.Header.BlockSize;
    }
  }
  return std::min(bytes, scan.DataBytes);
}

std::string RateText(double bytesPerSecond) {
  char text[32];
  if (bytesPerSecond < 1000) {
    std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
  } else if (bytesPerSecond < 1000 * 1024) {
    std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024 * 1024));
  }
  return text;
}

std::string DurationText(double seconds) {
  const long total = std::lround(std::max(seconds, 0.0));
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

std::string ProgressBar(uint64_t done, uint64_t total, double elapsedSeconds, int barWidth) {
  const double fraction = total == 0 ? 1.0 : std::min(1.0, double(done) / double(total));
  const int filled = static_cast<int>(fraction * barWidth);
  std::string bar = "[" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "]";
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100));
  bar += std::string("  ") + percent;
  // Too early for a rate that means anything: the first blocks go out
  // before the clock has moved.
  if (elapsedSeconds < 0.2 || done == 0) return bar + "  -- B/s  --:-- left";
  const double rate = done / elapsedSeconds;
  return bar + "  " + RateText(rate) + "  " + DurationText((total - done) / rate) + " left";
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

void TFlashProgress::StartWriting(Clock::time_point now) {
  Writing = true;
  WritingSince = now;
  LastDrawn = now;
  BytesDone = 0;
  Elapsed = 0;
}

void TFlashProgress::Update(int32_t sectionIndex, int32_t blockIndex, Clock::time_point now,
                            bool force) {
  if (!Writing) return;
  BytesDone = BytesSentBefore(Scan, sectionIndex, blockIndex);
  Elapsed = std::chrono::duration<double>(now - WritingSince).count();
  if (!force && now - LastDrawn < std::chrono::milliseconds(100)) return;
  LastDrawn = now;
  Redraw();
}

void TFlashProgress::Redraw() {
  if (!Writing) {
    Line.Set(Status);
    return;
  }
  // What the rest of the line leaves for the bar, within sensible bounds.
  constexpr int kStatsWidth = 34;
  const int room = Line.Columns() - static_cast<int>(DisplayWidth(Status)) - kStatsWidth;
  const int barWidth = std::clamp(room, 10, 40);
  Line.Set(Status + "  " + ProgressBar(BytesDone, Scan.DataBytes, Elapsed, barWidth));
}
