#pragma once

#include <sstream>
#include <string>
#include <vector>

// One in-process run of a `veq` command: its exit status and what it wrote.
struct TCommandRun {
  int Status;
  std::string Out;
  std::string Err;
};

template <typename Command>
TCommandRun RunCommand(Command command, const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = command(args, out, err);
  return {status, out.str(), err.str()};
}
