// `veq`: the programmer's command line.
#include <iostream>
#include <string>
#include <vector>

#include "VeqVersion.h"
#include "tools/CommandLine.h"
#include "tools/FlashCommand.h"
#include "tools/InfoCommand.h"
#include "tools/PackCommand.h"
#include "tools/PortsCommand.h"
#include "tools/RecordsCommand.h"
#include "tools/SimCommand.h"

namespace {

const TCommandText kVeqCommand = {
    "",
    "Использование: veq КОМАНДА [АРГУМЕНТЫ...]\n"
    "Команды:\n"
    "  info [--all] ОБРАЗ         показать и проверить образ прошивки .vqf\n"
    "  flash ОБРАЗ --port ПОРТ|--udp IP [...]   записать образ в устройство\n"
    "  sim --pty|--port УСТР|--udp IP:ПОРТ [...] играть загрузчик платы\n"
    "  pack -o ВЫХОД --board КОД --variant ИИ --version ННН РАЗДЕЛ.bin...\n"
    "                             собрать образ из разделов\n"
    "  ports                      перечислить последовательные порты\n"
    "  records [--json|--csv] [...]  перечислить записи о запусках\n"
    "  --version, -V              показать версию\n"
    "Параметры команды: veq КОМАНДА --help.\n"};

using TCommandRunner = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);

struct TCommand {
  const char* Name;
  TCommandRunner Run;
};

const TCommand kCommands[] = {{"info", RunInfoCommand},
                              {"flash", RunFlashCommand},
                              {"sim", RunSimCommand},
                              {"pack", RunPackCommand},
                              {"ports", RunPortsCommand},
                              {"records", RunRecordsCommand}};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kVeqCommand.Usage;
    return 0;
  }
  if (command == "--version" || command == "-V") {
    std::cout << "veq " << kVeqVersion << '\n';
    return 0;
  }
  for (const TCommand& known : kCommands) {
    if (command == known.Name) return known.Run(args, std::cout, std::cerr);
  }
  return UsageError(kVeqCommand,
                    command.empty() ? "не задана команда" : "неизвестная команда «" + command + "»",
                    std::cerr);
}
