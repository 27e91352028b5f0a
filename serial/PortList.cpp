#include "serial/PortList.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "serial/BCPort.h"
#include "serial/PortBackend.h"

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

// Hands what the search found over to ports, sorted; a failed search leaves
// ports alone.
void TakeSorted(std::vector<std::string>& found, int error, std::vector<std::string>& ports) {
  if (error != 0) throw EComPort(kTextListFailed, error);
  std::sort(found.begin(), found.end(), LessIgnoringCase);
  ports = std::move(found);
}

}  // namespace

void ListSerialPortsFrom(const std::string& classDir, const std::string& deviceDir,
                         std::vector<std::string>& ports) {
  std::vector<std::string> found;
  const int error = port_backend::FindPortNamesIn(classDir, deviceDir, found);
  TakeSorted(found, error, ports);
}

void ListSerialPorts(std::vector<std::string>& ports) {
  std::vector<std::string> found;
  const int error = port_backend::FindPortNames(found);
  TakeSorted(found, error, ports);
}
