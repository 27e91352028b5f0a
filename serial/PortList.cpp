#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "serial/BCPort.h"

namespace fs = std::filesystem;

namespace {

const char* const kTextListFailed = "Ошибка обращения к системному реестру";

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  const auto lower = [](unsigned char c) { return std::tolower(c); };
  const bool less = std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [&](unsigned char x, unsigned char y) { return lower(x) < lower(y); });
  const bool greater = std::lexicographical_compare(
      b.begin(), b.end(), a.begin(), a.end(),
      [&](unsigned char x, unsigned char y) { return lower(x) < lower(y); });
  // Names equal but for case still get a fixed order.
  return less || (!greater && a < b);
}

// The UART type the serial core shows for a port; -1 when it shows none.
int SysfsUartType(const fs::path& ttyDir) {
  std::ifstream file(ttyDir / "type");
  int type = -1;
  if (!(file >> type)) return -1;
  return type;
}

// Asks the driver itself; -1 when the device cannot be asked.
int DriverUartType(const fs::path& devicePath) {
  const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  serial_struct info{};
  const int type = ioctl(fd, TIOCGSERIAL, &info) == 0 ? info.type : -1;
  close(fd);
  return type;
}

std::string DriverName(const fs::path& ttyDir) {
  std::error_code error;
  const fs::path driver = fs::read_symlink(ttyDir / "device" / "driver", error);
  return error ? std::string() : driver.filename().string();
}

// The legacy 8250 driver registers its ports whether or not a UART answers
// at their addresses; those without one are no serial ports.
bool IsPortWithoutUart(const fs::path& ttyDir, const fs::path& devicePath) {
  int type = SysfsUartType(ttyDir);
  if (type < 0 && DriverName(ttyDir) == "serial8250") type = DriverUartType(devicePath);
  return type == PORT_UNKNOWN;
}

}  // namespace

void ListSerialPortsFrom(const std::string& classDir, const std::string& deviceDir,
                         std::vector<std::string>& ports) {
  std::vector<std::string> found;
  std::error_code error;
  fs::directory_iterator entries(classDir, error);
  if (error) throw EComPort(kTextListFailed);
  for (; entries != fs::directory_iterator(); entries.increment(error)) {
    if (error) throw EComPort(kTextListFailed);
    const fs::path ttyDir = entries->path();
    const std::string name = ttyDir.filename().string();
    // Virtual terminals and pseudo-terminals have no device behind them.
    std::error_code noDevice;
    if (!fs::exists(ttyDir / "device", noDevice)) continue;
    if (IsPortWithoutUart(ttyDir, fs::path(deviceDir) / name)) continue;
    found.push_back(name);
  }
  if (error) throw EComPort(kTextListFailed);
  std::sort(found.begin(), found.end(), LessIgnoringCase);
  ports = std::move(found);
}

void ListSerialPorts(std::vector<std::string>& ports) {
  ListSerialPortsFrom("/sys/class/tty", "/dev", ports);
}
