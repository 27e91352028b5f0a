#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/CommandLine.h"

// `veq info [--all] IMAGE`: the image summary the window shows, and with
// --all a check of every section. Exit status 0 when the image is sound,
// 1 when a check fails, 2 on a usage error.
int RunInfoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

extern const TCommandText kInfoCommand;
