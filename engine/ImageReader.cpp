#include "engine/ImageReader.h"

#include <cstring>
#include <filesystem>

namespace {

constexpr size_t kBufferBytes = 64 * 1024;

}  // namespace

bool TImageReader::Open(const std::string& path) {
  Close();
  // A FIFO would block the open until someone writes into it, a device
  // would read for ever: only a regular file can be an image.
  std::error_code error;
  if (path.empty() || !std::filesystem::is_regular_file(path, error)) return false;
  File = std::fopen(path.c_str(), "rb");
  if (File == nullptr) return false;
  // Blocks are small (at most 2048 bytes); a larger stdio buffer keeps
  // the number of reads low for multi-megabyte images.
  if (!Buffer) Buffer = std::make_unique<char[]>(kBufferBytes);
  std::setvbuf(File, Buffer.get(), _IOFBF, kBufferBytes);
  Eof = false;
  return true;
}

void TImageReader::Close() {
  if (File != nullptr) std::fclose(File);
  File = nullptr;
  Eof = false;
}

bool TImageReader::Read(uint8_t* out, size_t count, size_t* present) {
  size_t got = 0;
  if (!Eof && count > 0) {
    got = std::fread(out, 1, count, File);
    if (got < count) {
      if (std::ferror(File)) return false;
      Eof = true;
    }
  }
  std::memset(out + got, 0, count - got);
  if (present != nullptr) *present = got;
  return true;
}
