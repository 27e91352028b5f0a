#include "bench/BenchSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace bench {

std::string MakeTempDir(const std::string& name) {
  std::string pattern = "/tmp/veq-" + name + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::string ReadFile(const std::string& path, size_t from) {
  std::ifstream file(path, std::ios::binary);
  file.seekg(static_cast<std::streamoff>(from));
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

pid_t Spawn(const std::vector<std::string>& argv, int stdoutFd, const std::string& stderrPath,
            char* const* env) {
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&files, stdoutFd, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, stderrPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int error =
      posix_spawn(&pid, args[0], &files, nullptr, args.data(), env != nullptr ? env : environ);
  posix_spawn_file_actions_destroy(&files);
  if (error != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
  return pid;
}

std::string PseudoRandomData(size_t size) {
  std::string data(size, '\0');
  uint32_t state = 12345;
  for (char& byte : data) {
    state = state * 1103515245 + 12345;
    byte = static_cast<char>(state >> 16);
  }
  return data;
}

}  // namespace bench
