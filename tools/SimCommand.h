#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/CommandLine.h"

// `veq sim`: plays a VEQ boot loader (the device model) over a
// pseudo-terminal, a serial device or UDP. The first line of standard output
// says where the board is (the port text for `veq flash --port`, or
// IP:PORT); every later line is one delivery received, one answer sent or
// one change of the board's state. Exit status 0 when it stopped as asked
// (a signal, or --once after a run), 1 when --out could not be written, 2 on
// a usage error, 3 when its link could not be made.
int RunSimCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

extern const TCommandText kSimCommand;
