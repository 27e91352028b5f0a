#include "tools/PortsCommand.h"

#include <ostream>

#include "serial/PortList.h"

const TCommandText kPortsCommand = {
    "ports",
    "Использование: veq ports\n"
    "  Перечисляет имеющиеся последовательные порты, по одному в строке; каждая\n"
    "  строка годится в «veq flash --port».\n"
    "Код выхода: 0, 2 ошибка в командной строке.\n"};

int RunPortsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (ShowHelpIfAsked(kPortsCommand, args, out)) return 0;
  const TParsedArgs parsed = ParseArgs(args, kPortsCommand.Options);
  if (!parsed.Error.empty()) return UsageError(kPortsCommand, parsed.Error, err);
  if (!parsed.Operands.empty())
    return UsageError(kPortsCommand, "лишний аргумент «" + parsed.Operands.front() + "»", err);
  std::vector<std::string> ports;
  ListSerialPorts(ports);
  for (const std::string& port : ports)
    out << port << '\n';
  return 0;
}
