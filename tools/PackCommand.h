#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/CommandLine.h"

// `veq pack -o OUT --board CODE --variant VV --version NNN [--block-size N]
// SECTION0.bin [SECTION1.bin ...]`: builds a .vqf image from raw section
// files. Exit status 0 when written, 1 when a file cannot be read or
// written, 2 on a usage error.
int RunPackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

extern const TCommandText kPackCommand;

// The default number of data bytes in each block.
inline constexpr int kDefaultPackBlockSize = 512;
