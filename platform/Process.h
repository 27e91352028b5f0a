#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Descriptor.h"

// Starting other programs. Any thread.

namespace platform {

// Starts program with the given arguments, each passed to it as one
// argument (no shell reads them), and returns at once. Nothing waits for the
// program, and no finished child is left behind. The outcome is not checked.
void StartDetached(const std::string& program, const std::vector<std::string>& arguments);

// A child whose standard output and error come back through pipes (read
// ends non-blocking), standard input /dev/null, started without a shell, in
// a process group of its own: a terminal's Ctrl-C reaches only the caller,
// which decides what to pass on.
// The caller waits for it (TryWait) or it is left for the system to reap
// when the caller exits.
struct TChild {
  int Pid = -1;
  TUniqueFd Out;
  TUniqueFd Err;
};
// Throws std::system_error when the pipes or the process cannot be made; a
// program that cannot be run exits 127.
TChild StartWithPipes(const std::string& program, const std::vector<std::string>& arguments);
// The child's status once it has ended: its exit code, or 128 + N after
// signal N; none while it runs.
std::optional<int> TryWait(int pid);
void SendSignal(int pid, int signal);

// The running program's own file, for starting more of itself.
std::string OwnExecutable();

}  // namespace platform
