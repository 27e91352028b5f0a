// A library loaded into a program under test with LD_PRELOAD: when the
// program ends normally, it writes the descriptors still open to the file
// named by VEQ_FD_CENSUS, one "fd target" line each. It is finalised after
// the program's own static objects and the libraries it loaded, so what it
// lists is what the program never closed. A program that dies by a signal
// or leaves through _exit writes nothing, which the caller counts as a
// failure too.

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> OpenDescriptors() {
  std::vector<std::string> lines;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return {"census: cannot list /proc/self/fd"};
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || std::atoi(name.c_str()) == dirfd(dir)) continue;
    char target[4096];
    const ssize_t length =
        readlink(("/proc/self/fd/" + name).c_str(), target, sizeof target - 1);
    lines.push_back(name + " " + (length < 0 ? std::string("?") : std::string(target, length)));
  }
  closedir(dir);
  return lines;
}

__attribute__((destructor)) void WriteCensus() {
  const char* path = std::getenv("VEQ_FD_CENSUS");
  if (path == nullptr || *path == '\0') return;
  const std::vector<std::string> lines = OpenDescriptors();
  if (FILE* file = std::fopen(path, "w")) {
    for (const std::string& line : lines) std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

}  // namespace
