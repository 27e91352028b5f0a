#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A program run by an end-to-end test: started with an argument vector (no
// shell), its standard output and error going to files, standard input from
// /dev/null (so that it sees no terminal) unless another path is given.
// Killed if still running when the object goes.
class TChildProcess {
 public:
  // extraEnv: "NAME=VALUE" entries added to the test's own environment.
  TChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath,
                const std::string& stderrPath, const std::vector<std::string>& extraEnv = {},
                const std::string& stdinPath = "/dev/null");
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // The exit status (128 + N when killed by signal N), or -1 when the
  // program has not ended within timeoutMs; it is then killed.
  int Wait(int timeoutMs);
  void Signal(int signal);
  bool Running() const { return Pid > 0; }

 private:
  pid_t Pid = -1;
};

std::string ReadFile(const std::string& path);

// Waits until the file holds `text` (true) or timeoutMs passed (false).
bool WaitForText(const std::string& path, const std::string& text, int timeoutMs);

// The first line of the file once it is complete, or empty after timeoutMs.
std::string WaitForFirstLine(const std::string& path, int timeoutMs);
