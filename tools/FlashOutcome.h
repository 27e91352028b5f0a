#pragma once

#include <string>

#include "engine/RunEnd.h"

// What `veq flash` makes of a run's ending: its exit status and the word that
// names it in the JSON result. Scripts rely on both; --help and the README
// list them.

enum class TFlashExit : int {
  Written = 0,
  DeviceError = 1,   // the device answered WRONG or ERR
  UsageOrImage = 2,  // a usage error, or an image that cannot be written
  Link = 3,          // the link could not be opened, or failed during the run
  WrongBoard = 4,
  Declined = 5,      // the question was answered Cancel, or there was none to ask
  DeviceSilent = 6,  // the 60 s time-out while writing
  NotReady = 7,      // the device was not ready within --connect-timeout
};
// A run ended by signal N exits with this plus N (130 for Ctrl-C).
inline constexpr int kSignalExitBase = 128;

struct TFlashVerdict {
  TFlashExit Exit;
  const char* Word;
};

// For an ending that was no signal's doing.
TFlashVerdict VerdictOf(TRunOutcome outcome);
