#pragma once

#include <string>

// The SHA-256 of a whole file in lower-case hex, so that a record or a script
// can tell exactly which image was written; empty when it cannot be read.
std::string FileSha256(const std::string& path);
