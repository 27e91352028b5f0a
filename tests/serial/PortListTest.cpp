#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/BCPort.h"
#include "serial/PortList.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// A tty class folder as the kernel shows it: one folder per terminal, with a
// "device" link for real devices and a "type" file for UART ports.
class PortListTest : public ::testing::Test {
 protected:
  void AddTty(const std::string& name, bool withDevice, const std::string& uartType = "") {
    const fs::path dir = Class / name;
    fs::create_directories(dir);
    if (withDevice) {
      fs::create_directories(RootPath / "devices" / name);
      fs::create_directory_symlink(RootPath / "devices" / name, dir / "device");
    }
    if (!uartType.empty()) std::ofstream(dir / "type") << uartType << "\n";
  }
  TTempDir Root;
  fs::path RootPath = Root.Path();
  fs::path Class = RootPath / "tty";
};

TEST_F(PortListTest, ListsRealDevicesOnlySortedIgnoringCase) {
  AddTty("tty0", false);
  AddTty("ptmx", false);
  AddTty("ttyS0", true, "4");
  AddTty("ttyS1", true, "0");  // legacy port without a UART behind it
  AddTty("ttyUSB0", true);
  AddTty("ttyACM0", true);
  AddTty("COM10", true);
  AddTty("com2", true);
  AddTty("COM3", true);
  std::vector<std::string> ports{"stale"};
  ListSerialPortsFrom(Class.string(), (RootPath / "dev").string(), ports);
  EXPECT_EQ(ports,
            (std::vector<std::string>{"COM10", "com2", "COM3", "ttyACM0", "ttyS0", "ttyUSB0"}));
}

TEST_F(PortListTest, NoPortsGiveAnEmptyList) {
  AddTty("tty1", false);
  std::vector<std::string> ports{"stale"};
  ListSerialPortsFrom(Class.string(), "/dev", ports);
  EXPECT_TRUE(ports.empty());
}

TEST_F(PortListTest, UnreadableFolderFailsAndLeavesTheListAlone) {
  std::vector<std::string> ports{"COM1"};
  try {
    ListSerialPortsFrom((RootPath / "missing").string(), "/dev", ports);
    ADD_FAILURE() << "no failure";
  } catch (const EComPort& e) {
    EXPECT_STREQ(e.what(), "Ошибка обращения к системному реестру");
  }
  EXPECT_EQ(ports, std::vector<std::string>{"COM1"});
}

TEST_F(PortListTest, FailureKeepsTheSystemsNumber) {
  std::vector<std::string> ports;
  try {
    ListSerialPortsFrom((RootPath / "missing").string(), "/dev", ports);
    ADD_FAILURE() << "no failure";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.SystemError(), ENOENT);
  }
}

TEST(PortListSystem, ListsNoVirtualOrPseudoTerminals) {
  std::vector<std::string> ports;
  ListSerialPorts(ports);
  for (const std::string& name : ports) {
    EXPECT_NE(name.rfind("tty", 0) == 0 && name.size() > 3 && isdigit(name[3]), true) << name;
    EXPECT_NE(name, "ptmx");
    EXPECT_NE(name, "console");
  }
}

}  // namespace
