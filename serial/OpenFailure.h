#pragma once

#include <string>

// Why a port could not be opened, for the caller to tell the operator beside
// the box that names the port: the system's error number (0 when no system
// call failed) and the cause in the operator's words, without the port name.
// Any thread.
struct TPortOpenFailure {
  int SystemError = 0;
  std::string Cause;
};

// The cause of a failed open in the operator's words, from the system's
// error number; numbers without words of their own give SystemErrorCause.
std::string OpenFailureCause(int systemError);
// "системная ошибка N (the system's own text)", for a failure that is not the
// device's, where the number alone says nothing about the port.
std::string SystemErrorCause(int systemError);
