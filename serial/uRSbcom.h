#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "serial/BCPort.h"
#include "serial/OpenFailure.h"

// The text forms of the line settings as the COM panel shows them, and the
// opening and closing of a port with the operator told when that fails.
// Texts are matched exactly (case, blanks); anything else gives the fall-back.
// The text forms: any thread; what takes a port, and SharedOperation: the
// port's thread, the main thread.

TBaudRate StrToBaudRate(const std::string& text);
// Whether StrToBaudRate knows the text rather than falling back.
bool IsKnownBaudRateText(const std::string& text);
std::string BaudRateToStr(TBaudRate rate);
TByteSize StrToByteSize(const std::string& text);
std::string ByteSizeToStr(TByteSize size);
TParity StrToParity(const std::string& text);
std::string ParityToStr(TParity parity);
TStopBits StrToStopBits(const std::string& text);
std::string StopBitsToStr(TStopBits stopBits);

// Port/baud/data bits/parity/stop bits, e.g. "COM3/115200/8/none/1".
std::string PortSettingsText(const TBComPort& port);

// Port, then the four line settings; a refused write (Port while open) is
// raised as EComPort and the settings after it are left alone.
void ApplyPortSettings(TBComPort& port, const std::string& portText, const std::string& baudText,
                       const std::string& dataBitsText, const std::string& parityText,
                       const std::string& stopBitsText);

// Shows a warning with an OK button and returns when the operator closed it.
using TWarningBox = std::function<void(const std::string& text)>;

// open == 1: (re)opens the port with the five texts; any other value closes
// it. Failures are told through showWarning; returns whether it worked. The
// warning names only the port; an open also stores its cause in failure
// (when given), or clears it when the port opened.
bool OpenClosePort(TBComPort& port, uint8_t open, const std::string& portText,
                   const std::string& baudText, const std::string& dataBitsText,
                   const std::string& parityText, const std::string& stopBitsText,
                   const TWarningBox& showWarning, TPortOpenFailure* failure = nullptr);

// The operation record kept for a port whose Tag is 1 while OpenClosePort
// has it open; none otherwise.
TPortOperation* SharedOperation();
