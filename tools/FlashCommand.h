#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/CommandLine.h"
#include "tools/FlashRun.h"

// `veq flash IMAGE (--port TEXT | --udp IP) [options]`: Connect, wait for the
// ready device, Start, and Disconnect at the end, as the window does. Log
// lines go to `out`, message boxes and the live status to `err`.
int RunFlashCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The options from the words after "flash"; the time divisor from the test
// seam's environment text (null when unset). Returns a usage error text,
// empty when the options are sound.
std::string ParseFlashOptions(const std::vector<std::string>& args, const char* timeDivisorEnv,
                              TFlashOptions& options);

// The environment variable of the test seam: timer periods and sleeps run
// this many times faster, the session still counting their nominal length,
// so that its 60 s time-out passes in 60/N s.
inline constexpr const char* kTimeDivisorVariable = "VEQ_FLASH_TIME_DIVISOR";

extern const TCommandText kFlashCommand;
