#pragma once

#include <cstdint>

#include "serial/BCPort.h"

// What the serial component's own files and its tests share beyond the
// public port: the driver's view of the time-outs and of the events, and the
// operation records as the component hands them out. Any thread for the
// conversions; the records belong to the thread that uses their port.

// The time-outs as the driver holds them: negatives became kNoTimeLimit.
struct TDriverTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};
inline constexpr uint32_t kNoTimeLimit = 0xFFFFFFFFu;

// The communication-event mask of the driver interface the component was
// designed against; the mask of all eight events is 0x05BD.
uint32_t PortEventsToMask(TPortEvents events);
TPortEvents MaskToPortEvents(uint32_t mask);

void NewPortOperation(TPortOperation*& op);
void FreePortOperation(TPortOperation*& op);
