#include "platform/Process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

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
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  const long openMax = std::clamp(::sysconf(_SC_OPEN_MAX), 256L, 65536L);

  const pid_t child = ::fork();
  if (child < 0) return;
  if (child == 0) RunAsGrandchild(program.c_str(), argv.data(), openMax);
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace platform
