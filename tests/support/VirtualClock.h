#pragma once

#include <cstdint>

// The time of a test, in milliseconds; it moves only when the test (or a
// sleep of the window) moves it.
struct TVirtualClock {
  int64_t NowMs = 0;
};
