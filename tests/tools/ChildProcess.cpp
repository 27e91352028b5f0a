#include "tests/tools/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

constexpr auto kPollStep = std::chrono::milliseconds(5);

using Clock = std::chrono::steady_clock;

}  // namespace

TChildProcess::TChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath,
                             const std::string& stderrPath,
                             const std::vector<std::string>& extraEnv,
                             const std::string& stdinPath) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry)
    env.emplace_back(*entry);
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> args, envp;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  for (const std::string& entry : env)
    envp.push_back(const_cast<char*>(entry.c_str()));
  args.push_back(nullptr);
  envp.push_back(nullptr);

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDIN_FILENO, stdinPath.c_str(), O_RDWR | O_NOCTTY, 0);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, stdoutPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, stderrPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // The child starts with no signal blocked, whatever the test runner does.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  const int error = posix_spawn(&Pid, args[0], &files, &attributes, args.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&files);
  if (error != 0) {
    Pid = -1;
    throw std::runtime_error("cannot start " + argv.front());
  }
}

TChildProcess::~TChildProcess() {
  if (Pid > 0) {
    kill(Pid, SIGKILL);
    waitpid(Pid, nullptr, 0);
  }
}

int TChildProcess::Wait(int timeoutMs) {
  if (Pid <= 0) return -1;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(Pid, &status, WNOHANG);
    if (done == Pid) break;
    if (Clock::now() >= deadline) {
      kill(Pid, SIGKILL);
      waitpid(Pid, nullptr, 0);
      Pid = -1;
      return -1;
    }
    std::this_thread::sleep_for(kPollStep);
  }
  Pid = -1;
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

void TChildProcess::Signal(int signal) {
  if (Pid > 0) kill(Pid, signal);
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool WaitForText(const std::string& path, const std::string& text, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (ReadFile(path).find(text) == std::string::npos) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollStep);
  }
  return true;
}

std::string WaitForFirstLine(const std::string& path, int timeoutMs) {
  if (!WaitForText(path, "\n", timeoutMs)) return {};
  const std::string text = ReadFile(path);
  return text.substr(0, text.find('\n'));
}
