#include "platform/Process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <system_error>

#include <fcntl.h>

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<char*> ArgumentVector(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  return argv;
}

// The tool must not hold on to the programmer's serial port or socket after
// the programmer has closed them (the port's lock would keep it busy).
void CloseInheritedFiles(long openMax) {
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, 3u, ~0u, 0u) == 0) return;
#endif
  for (long fd = 3; fd < openMax; ++fd)
    ::close(int(fd));
}

// Runs in the forked child, where only async-signal-safe calls are allowed.
[[noreturn]] void RunAsGrandchild(const char* program, char* const* argv, long openMax) {
  if (::fork() != 0) ::_exit(0);  // the child ends at once; init adopts the grandchild
  ::setsid();                     // not ended by the terminal's signals to the programmer
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  CloseInheritedFiles(openMax);
  ::execv(program, argv);
  ::_exit(127);
}

}  // namespace

namespace platform {

void StartDetached(const std::string& program, const std::vector<std::string>& arguments) {
  // Everything the child needs is prepared before the fork.
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = ArgumentVector(words);
  const long openMax = std::clamp(::sysconf(_SC_OPEN_MAX), 256L, 65536L);

  const pid_t child = ::fork();
  if (child < 0) return;
  if (child == 0) RunAsGrandchild(program.c_str(), argv.data(), openMax);
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

namespace {

struct TPipe {
  TUniqueFd Read, Write;
};

TPipe MakePipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  return {TUniqueFd(ends[0]), TUniqueFd(ends[1])};
}

// In the forked child: only async-signal-safe calls. The pipes' other ends
// and everything else close at exec (O_CLOEXEC); dup2 clears the flag on the
// three standard streams.
[[noreturn]] void RunAsChild(const char* program, char* const* argv, int in, int out, int err) {
  ::setpgid(0, 0);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
  ::execv(program, argv);
  ::_exit(127);
}

}  // namespace

TChild StartWithPipes(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = ArgumentVector(words);
  TPipe out = MakePipe(), err = MakePipe();
  TUniqueFd in(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (!in.Valid()) throw std::system_error(errno, std::generic_category(), "/dev/null");

  const pid_t pid = ::fork();
  if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (pid == 0) RunAsChild(program.c_str(), argv.data(), in.Get(), out.Write.Get(), err.Write.Get());
  for (TPipe* pipe : {&out, &err})
    ::fcntl(pipe->Read.Get(), F_SETFL, ::fcntl(pipe->Read.Get(), F_GETFL) | O_NONBLOCK);
  return {pid, std::move(out.Read), std::move(err.Read)};
}

std::optional<int> TryWait(int pid) {
  int status = 0;
  pid_t ended;
  while ((ended = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (ended != pid) return std::nullopt;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void SendSignal(int pid, int signal) { ::kill(pid, signal); }

std::string OwnExecutable() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.string();
}

}  // namespace platform
