#include "serial/uRSbcom.h"

#include <algorithm>
#include <array>
#include <exception>
#include <system_error>
#include <utility>

#include "serial/BCPortInternal.h"

namespace {

template <typename E, size_t N>
using TTextTable = std::array<std::pair<const char*, E>, N>;

const TTextTable<TBaudRate, kBaudRateCount> kBaudRates = {{
    {"110", br110},       {"300", br300},       {"600", br600},       {"1200", br1200},
    {"2400", br2400},     {"4800", br4800},     {"9600", br9600},     {"14400", br14400},
    {"19200", br19200},   {"38400", br38400},   {"56000", br56000},   {"57600", br57600},
    {"115200", br115200}, {"128000", br128000}, {"256000", br256000}, {"460800", br460800},
    {"921600", br921600}, {"100", br100},       {"200", br200},
}};

const TTextTable<TByteSize, 4> kByteSizes = {{{"5", bs5}, {"6", bs6}, {"7", bs7}, {"8", bs8}}};

const TTextTable<TParity, 5> kParities = {{
    {"none", paNone},
    {"odd", paOdd},
    {"even", paEven},
    {"mark", paMark},
    {"space", paSpace},
}};

const TTextTable<TStopBits, 3> kStopBits = {{{"1", sb1}, {"1.5", sb1_5}, {"2", sb2}}};

template <typename E, size_t N>
E ValueOf(const TTextTable<E, N>& table, const std::string& text, E fallBack) {
  const auto entry =
      std::find_if(table.begin(), table.end(), [&](const auto& row) { return text == row.first; });
  return entry == table.end() ? fallBack : entry->second;
}

template <typename E, size_t N>
std::string TextOf(const TTextTable<E, N>& table, E value, const char* fallBack) {
  const auto entry = std::find_if(table.begin(), table.end(),
                                  [&](const auto& row) { return value == row.second; });
  return entry == table.end() ? fallBack : entry->first;
}

TPortOperation*& SharedOperationSlot() {
  static TPortOperation* operation = nullptr;
  return operation;
}

// What a failed Open raised, as the caller's cause. A port failure without a
// system error number (a setting refused) is told by its own text; a thread
// that could not start says nothing about the port, so only its number.
TPortOpenFailure CauseOfFailedOpen() {
  try {
    throw;
  } catch (const EComPort& e) {
    const int err = e.SystemError();
    return {err, err != 0 ? OpenFailureCause(err) : e.what()};
  } catch (const std::system_error& e) {
    return {e.code().value(), SystemErrorCause(e.code().value())};
  } catch (const std::exception& e) {
    return {0, e.what()};
  }
}

bool OpenPort(TBComPort& port, const std::string& portText, const std::string& baudText,
              const std::string& dataBitsText, const std::string& parityText,
              const std::string& stopBitsText, const TWarningBox& showWarning,
              TPortOpenFailure* failure) {
  // A port that fails to close is reopened anyway; that failure says nothing
  // the open below will not say better.
  if (port.IsOpen()) {
    try {
      port.Close();
    } catch (const std::exception&) {
    }
  }
  ApplyPortSettings(port, portText, baudText, dataBitsText, parityText, stopBitsText);
  // The operator is told in one text why ever the open failed; the cause
  // goes to the caller.
  TPortOpenFailure cause;
  try {
    port.Open();
  } catch (const std::exception&) {
    cause = CauseOfFailedOpen();
  }
  if (failure) *failure = cause;
  const bool opened = port.IsOpen();
  if (!opened && showWarning) showWarning(port.Port() + " не удалось открыть.");
  if (port.Tag() == 1) {
    // A record left from an earlier open would otherwise be lost.
    if (SharedOperationSlot()) FreePortOperation(SharedOperationSlot());
    NewPortOperation(SharedOperationSlot());
  }
  return opened;
}

bool ClosePort(TBComPort& port, const TWarningBox& showWarning) {
  if (port.IsOpen()) port.Close();
  const bool closed = !port.IsOpen();
  if (!closed && showWarning) showWarning(port.Port() + " не удалось закрыть.");
  if (port.Tag() == 1 && SharedOperationSlot()) FreePortOperation(SharedOperationSlot());
  return closed;
}

}  // namespace

TBaudRate StrToBaudRate(const std::string& text) {
  return ValueOf(kBaudRates, text, br9600);
}
bool IsKnownBaudRateText(const std::string& text) {
  return std::any_of(kBaudRates.begin(), kBaudRates.end(),
                     [&](const auto& row) { return text == row.first; });
}
std::string BaudRateToStr(TBaudRate rate) {
  return TextOf(kBaudRates, rate, "9600");
}
TByteSize StrToByteSize(const std::string& text) {
  return ValueOf(kByteSizes, text, bs8);
}
std::string ByteSizeToStr(TByteSize size) {
  return TextOf(kByteSizes, size, "8");
}
TParity StrToParity(const std::string& text) {
  return ValueOf(kParities, text, paNone);
}
std::string ParityToStr(TParity parity) {
  return TextOf(kParities, parity, "none");
}
TStopBits StrToStopBits(const std::string& text) {
  return ValueOf(kStopBits, text, sb1);
}
std::string StopBitsToStr(TStopBits stopBits) {
  return TextOf(kStopBits, stopBits, "1");
}

std::string PortSettingsText(const TBComPort& port) {
  return port.Port() + "/" + BaudRateToStr(port.BaudRate()) + "/" + ByteSizeToStr(port.ByteSize()) +
         "/" + ParityToStr(port.Parity()) + "/" + StopBitsToStr(port.StopBits());
}

void ApplyPortSettings(TBComPort& port, const std::string& portText, const std::string& baudText,
                       const std::string& dataBitsText, const std::string& parityText,
                       const std::string& stopBitsText) {
  port.SetPort(portText);
  port.SetBaudRate(StrToBaudRate(baudText));
  port.SetByteSize(StrToByteSize(dataBitsText));
  port.SetParity(StrToParity(parityText));
  port.SetStopBits(StrToStopBits(stopBitsText));
}

bool OpenClosePort(TBComPort& port, uint8_t open, const std::string& portText,
                   const std::string& baudText, const std::string& dataBitsText,
                   const std::string& parityText, const std::string& stopBitsText,
                   const TWarningBox& showWarning, TPortOpenFailure* failure) {
  if (open == 1) {
    return OpenPort(port, portText, baudText, dataBitsText, parityText, stopBitsText, showWarning,
                    failure);
  }
  return ClosePort(port, showWarning);
}

TPortOperation* SharedOperation() {
  return SharedOperationSlot();
}
