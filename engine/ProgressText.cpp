#include "engine/ProgressText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string RateText(double bytesPerSecond) {
  char text[32];
  if (bytesPerSecond < 1000) {
    std::snprintf(text, sizeof text, "%.0f Б/с", bytesPerSecond);
  } else if (bytesPerSecond < 1000 * 1024) {
    std::snprintf(text, sizeof text, "%.1f КиБ/с", bytesPerSecond / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.1f МиБ/с", bytesPerSecond / (1024 * 1024));
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

std::string RateAndTimeLeft(uint64_t done, uint64_t total, double elapsedSeconds) {
  // Too early for a rate that means anything: the first blocks go out
  // before the clock has moved.
  if (elapsedSeconds < 0.2 || done == 0) return "-- Б/с  осталось --:--";
  const double rate = done / elapsedSeconds;
  return RateText(rate) + "  осталось " + DurationText((total - std::min(done, total)) / rate);
}
