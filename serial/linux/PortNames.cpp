#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "serial/PortBackend.h"

namespace fs = std::filesystem;

namespace port_backend {
namespace {

// The UART type the serial core shows for a port; -1 when it shows none.
int SysfsUartType(const fs::path& ttyDir) {
  std::ifstream file(ttyDir / "type");
  int type = -1;
  if (!(file >> type)) return -1;
  return type;
}

// Asks the driver itself; -1 when the device cannot be asked.
int DriverUartType(const fs::path& devicePath) {
  const platform::TUniqueFd device(
      ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!device.Valid()) return -1;
  serial_struct info{};
  return ::ioctl(device.Get(), TIOCGSERIAL, &info) == 0 ? info.type : -1;
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

bool IsSerialPort(const fs::path& ttyDir, const fs::path& devicePath) {
  // Virtual terminals and pseudo-terminals have no device behind them.
  std::error_code noDevice;
  return fs::exists(ttyDir / "device", noDevice) && !IsPortWithoutUart(ttyDir, devicePath);
}

}  // namespace

int FindPortNamesIn(const std::string& terminalDir, const std::string& deviceDir,
                    std::vector<std::string>& names) {
  std::error_code error;
  fs::directory_iterator entries(terminalDir, error);
  for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
    const fs::path ttyDir = entries->path();
    const std::string name = ttyDir.filename().string();
    if (IsSerialPort(ttyDir, fs::path(deviceDir) / name)) names.push_back(name);
  }
  return error.value();
}

int FindPortNames(std::vector<std::string>& names) {
  return FindPortNamesIn("/sys/class/tty", "/dev", names);
}

}  // namespace port_backend
