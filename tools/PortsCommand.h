#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/CommandLine.h"

// `veq ports`: the serial ports present, one a line, as the COM panel lists
// them. Exit status 0, or 2 on a usage error.
int RunPortsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

extern const TCommandText kPortsCommand;
