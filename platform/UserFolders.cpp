#include "platform/UserFolders.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace platform {

namespace {

// Only an absolute path in the variable counts; any other is treated as
// unset, as the base directory rules ask.
std::string XdgFolder(const char* variable, const char* underHome) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return value;
  const char* home = std::getenv("HOME");
  return (std::filesystem::path(home != nullptr ? home : "") / underHome).string();
}

}  // namespace

std::string ConfigHome() { return XdgFolder("XDG_CONFIG_HOME", ".config"); }

std::string DataHome() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }

std::string SettingsFileInConfigHome() {
  return (std::filesystem::path(ConfigHome()) / "veq-programmer" / "veq-programmer.ini").string();
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace platform
