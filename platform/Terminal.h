#pragma once

#include <string>

#include "platform/Descriptor.h"

// Terminals: the one who reads a question's answer, the width of a progress
// line, and the pseudo-terminal a simulated board is wired to. Any thread;
// failures throw std::system_error with the errno and the call's name.
namespace platform {

bool IsTerminal(int fd);

// The terminal's width in columns, fallback when fd is no terminal.
int TerminalColumns(int fd, int fallback);

// No echo, no line editing, no translation of bytes: what a device link
// needs before the programmer sets its own line. A descriptor that is no
// terminal is left as it is.
void MakeRaw(int fd);

// A new pseudo-terminal pair, both sides raw. The main side is non-blocking;
// the other side is held open too, so that the main side neither reports a
// hang-up nor fails reads while no programmer has the path open.
struct TPseudoTerminal {
  TUniqueFd Main;
  TUniqueFd Other;
  std::string Path;  // of the other side, which the programmer opens
};
TPseudoTerminal OpenPseudoTerminal();

// A terminal device opened for reading and writing, non-blocking and
// without becoming the process's controlling terminal.
TUniqueFd OpenTerminalDevice(const std::string& path);

}  // namespace platform
