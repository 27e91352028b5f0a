// `veq`: the programmer's command line.
#include <iostream>
#include <string>
#include <vector>

#include "tools/FlashCommand.h"
#include "tools/InfoCommand.h"
#include "tools/PackCommand.h"
#include "tools/PortsCommand.h"
#include "tools/SimCommand.h"

namespace {

const char* const kUsage =
    "usage: veq COMMAND [ARGS...]\n"
    "Commands:\n"
    "  info [--all] IMAGE         show and check a .vqf firmware image\n"
    "  flash IMAGE --port TEXT|--udp IP [...]   write an image into a device\n"
    "  sim --pty|--port DEV|--udp IP:PORT [...] play a device's boot loader\n"
    "  pack -o OUT --board CODE --variant VV --version NNN SECTION.bin...\n"
    "                             build an image from raw sections\n"
    "  ports                      list the serial ports\n"
    "Run 'veq COMMAND --help' for a command's options.\n";

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "info") return RunInfoCommand(args, std::cout, std::cerr);
  if (command == "flash") return RunFlashCommand(args, std::cout, std::cerr);
  if (command == "sim") return RunSimCommand(args, std::cout, std::cerr);
  if (command == "pack") return RunPackCommand(args, std::cout, std::cerr);
  if (command == "ports") return RunPortsCommand(args, std::cout, std::cerr);
  std::cerr << (command.empty() ? "veq: no command given\n"
                                : "veq: unknown command '" + command + "'\n")
            << kUsage;
  return 2;
}
