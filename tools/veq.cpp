// `veq`: the programmer's command line.
#include <iostream>
#include <string>
#include <vector>

#include "tools/InfoCommand.h"

namespace {

const char* const kUsage =
    "usage: veq COMMAND [ARGS...]\n"
    "Commands:\n"
    "  info [--all] IMAGE   show and check a .vqf firmware image\n"
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
  std::cerr << (command.empty() ? "veq: no command given\n"
                                : "veq: unknown command '" + command + "'\n")
            << kUsage;
  return 2;
}
