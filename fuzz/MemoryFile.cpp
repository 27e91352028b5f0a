#include "fuzz/MemoryFile.h"

#include <cstdio>
#include <cstdlib>

#include <sys/mman.h>
#include <unistd.h>

namespace fuzz {
namespace {

[[noreturn]] void Die(const char* what) {
  std::perror(what);
  std::abort();
}

}  // namespace

TMemoryFile::TMemoryFile() {
  Fd = memfd_create("veq-fuzz", MFD_CLOEXEC);
  if (Fd < 0) Die("memfd_create");
  Path_ = "/proc/self/fd/" + std::to_string(Fd);
}

TMemoryFile::~TMemoryFile() {
  if (Fd >= 0) close(Fd);
}

void TMemoryFile::Write(std::string_view bytes) {
  if (ftruncate(Fd, 0) != 0) Die("ftruncate");
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = pwrite(Fd, bytes.data() + done, bytes.size() - done, off_t(done));
    if (n <= 0) Die("pwrite");
    done += size_t(n);
  }
}

}  // namespace fuzz
