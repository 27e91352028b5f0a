#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>

#include "platform/Descriptor.h"

namespace platform {
namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr int kNameAttempts = 16;

// A fresh file next to target. Returns an invalid descriptor, with the errno
// in error, when the folder refuses it.
TUniqueFd CreateSiblingFile(const std::string& target, std::string& name, int& error) {
  std::random_device random;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    name = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(random() % 1000000);
    TUniqueFd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.Valid()) return fd;
    error = errno;
    if (error != EEXIST) break;
  }
  return TUniqueFd();
}

std::string ResolveLink(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  const auto target = std::filesystem::weakly_canonical(path, error);
  return error ? path : target.string();
}

// The rename is only durable once the folder's entry is on the disk too.
void SyncFolderOf(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  const TUniqueFd fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Valid()) ::fsync(fd.Get());
}

int WriteAndClose(TUniqueFd fd, const std::string& target, std::string_view bytes) {
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0 && ::fchmod(fd.Get(), old.st_mode & 07777) != 0) return errno;
  if (const TWriteResult written = WriteAll(fd.Get(), bytes); written.Error != 0) return written.Error;
  if (::fsync(fd.Get()) != 0) return errno;
  // Some file systems report a failed write only when the file is closed.
  if (::close(fd.Release()) != 0) return errno;
  return 0;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, int& error) {
  const TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) {
    error = errno;
    return std::nullopt;
  }
  std::string content;
  std::string chunk(kReadChunk, '\0');
  for (;;) {
    const ssize_t n = ::read(fd.Get(), chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      return std::nullopt;
    }
    if (n == 0) return content;
    content.append(chunk.data(), static_cast<size_t>(n));
  }
}

int ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string target = ResolveLink(path);
  std::string temporary;
  int error = 0;
  TUniqueFd fd = CreateSiblingFile(target, temporary, error);
  if (!fd.Valid()) return error;
  error = WriteAndClose(std::move(fd), target, bytes);
  if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return error;
  }
  SyncFolderOf(target);
  return 0;
}

}  // namespace platform
