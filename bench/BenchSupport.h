#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

// What the bench programs share: a scratch folder, whole-file reads, child
// programs started without a shell, and image data. Any thread.
namespace bench {

// A new folder /tmp/veq-NAME-XXXXXX; throws std::runtime_error when none
// can be made.
std::string MakeTempDir(const std::string& name);

// The file's bytes from the given offset, or nothing when it cannot be
// read.
std::string ReadFile(const std::string& path, size_t from = 0);

// Starts argv[0] (a path) with standard input from /dev/null, standard
// output on stdoutFd and standard error written to stderrPath, in the given
// environment (the caller's by default). Throws std::runtime_error when it
// cannot be started.
pid_t Spawn(const std::vector<std::string>& argv, int stdoutFd, const std::string& stderrPath,
            char* const* env = nullptr);

// Bytes that look random and are the same in every run.
std::string PseudoRandomData(size_t size);

}  // namespace bench
