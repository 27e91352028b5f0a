#pragma once

#include <string>

#include "engine/FirmwareImage.h"

// The plain-text words of the dialogue with a VEQ boot loader, sent without
// any terminator. Both the session and the device model speak them.

// Programmer to device.
inline const std::string kProbe = "S";
inline const std::string kProgrammingMode = "PROG";
inline const std::string kEndCommand{kEndMarker};

// Device to programmer; found anywhere among the received bytes.
inline const std::string kReady = "READY";
inline const std::string kGet = "GET";
inline const std::string kApp = "APP";
inline const std::string kWrong = "WRONG";
inline const std::string kErr = "ERR";
