#pragma once

#include <string>
#include <vector>

// Starting other programs. Any thread.

namespace platform {

// Starts program with the given arguments, each passed to it as one
// argument (no shell reads them), and returns at once. Nothing waits for the
// program, and no finished child is left behind. The outcome is not checked.
void StartDetached(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace platform
