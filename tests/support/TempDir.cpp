#include "tests/support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <stdlib.h>

TTempDir::TTempDir() {
  const std::string pattern = (std::filesystem::temp_directory_path() / "veq-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  Path_ = buffer.data();
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(Path_, ignored);
}

std::string TTempDir::Write(const std::string& name, const std::string& bytes) const {
  const std::string path = File(name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}
