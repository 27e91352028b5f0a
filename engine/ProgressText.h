#pragma once

#include <cstdint>
#include <string>

// The words of a writing run's progress that every front end shows alike:
// the terminal's live line and the window's bar.

// 999 Б/с, 12.4 КиБ/с, 3.1 МиБ/с.
std::string RateText(double bytesPerSecond);
// m:ss, or h:mm:ss from an hour on.
std::string DurationText(double seconds);
// "12.4 КиБ/с  осталось 0:07" for done of total bytes after elapsedSeconds;
// "-- Б/с  осталось --:--" until some time has passed and bytes have gone.
std::string RateAndTimeLeft(uint64_t done, uint64_t total, double elapsedSeconds);
