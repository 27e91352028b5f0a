#pragma once

#include <string>

#include "serial/BCPort.h"

// Runs fn and returns the EComPort text it raised ("" when none).
template <typename F>
std::string ComPortError(F&& fn) {
  try {
    fn();
  } catch (const EComPort& e) {
    return e.what();
  }
  return "";
}
