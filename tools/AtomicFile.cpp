#include "tools/AtomicFile.h"

#include <filesystem>
#include <fstream>
#include <system_error>

bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".part";
  std::error_code ec;
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
      std::filesystem::remove(temporary, ec);
      return false;
    }
  }
  std::filesystem::rename(temporary, path, ec);
  if (!ec) return true;
  std::filesystem::remove(temporary, ec);
  return false;
}
