#pragma once

#include <string>
#include <string_view>

namespace fuzz {

// A file that lives in memory but has a path, for the entry points that
// open an image or a profile by name. Rewriting it costs no disk and leaves
// nothing behind when the run stops. The path names a regular file, so the
// image reader's refusal of FIFOs and devices does not apply.
class TMemoryFile {
 public:
  TMemoryFile();
  ~TMemoryFile();
  TMemoryFile(const TMemoryFile&) = delete;
  TMemoryFile& operator=(const TMemoryFile&) = delete;

  // Replaces the whole contents.
  void Write(std::string_view bytes);
  const std::string& Path() const { return Path_; }

 private:
  int Fd = -1;
  std::string Path_;
};

}  // namespace fuzz
