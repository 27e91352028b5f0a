#include "tools/PortsCommand.h"

#include <ostream>

#include "serial/BCPort.h"

const char* const kPortsUsage =
    "usage: veq ports\n"
    "  Lists the serial ports present, one a line; each line is a port text\n"
    "  for 'veq flash --port'.\n";

int RunPortsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    out << kPortsUsage;
    return 0;
  }
  if (!args.empty()) {
    err << "veq ports: unexpected argument '" << args[0] << "'\n" << kPortsUsage;
    return 2;
  }
  std::vector<std::string> ports;
  ListSerialPorts(ports);
  for (const std::string& port : ports)
    out << port << '\n';
  return 0;
}
