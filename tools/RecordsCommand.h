#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/CommandLine.h"

// `veq records`: the records of runs that `veq flash` and the window keep,
// oldest first, filtered, as text, JSON lines or CSV. Exit status 0, 1 when
// the file cannot be read, 2 on a usage error.
int RunRecordsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

extern const TCommandText kRecordsCommand;
