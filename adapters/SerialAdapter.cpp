#include "adapters/SerialAdapter.h"

#include "serial/uRSbcom.h"

TSerialAdapter::TSerialAdapter(TBComPort& port, TSession& session, IWindowMembers& window)
    : Port(port), Window(window) {
  Port.OnRxChar = [&session](TBComPort*, int count) { session.BComRxChar(count); };
  // Without a carrier the line has hung up: the port is opened with CLOCAL,
  // so only a vanished device or a closed far end reports it.
  Port.OnRLSDChange = [&session](TBComPort*, bool carrier) {
    if (!carrier) session.BComLineLost();
  };
}

TSerialAdapter::~TSerialAdapter() {
  Port.OnRxChar = nullptr;
  Port.OnRLSDChange = nullptr;
}

bool TSerialAdapter::OpenClosePort(bool open, const std::string& port, const std::string& baud,
                                   const std::string& dataBits, const std::string& parity,
                                   const std::string& stopBits) {
  return ::OpenClosePort(
      Port, open ? 1 : 0, port, baud, dataBits, parity, stopBits,
      [this](const std::string& text) { Window.MessageBox(TMessageKind::Warning, text); },
      &LastFailure);
}

TOpenFailure TSerialAdapter::LastOpenFailure() const {
  return {LastFailure.SystemError, LastFailure.Cause};
}

std::string TSerialAdapter::PortSettingsText() {
  return ::PortSettingsText(Port);
}

std::string TSerialAdapter::ReceiveBytes(int count) {
  std::string data;
  Port.ReceiveBytes(data, count);
  return data;
}

void TSerialAdapter::SetBaudRate(int bitsPerSecond) {
  // The session asks for rates by number; the port knows them by the names
  // of its rate table, whose text forms are those numbers.
  Port.SetBaudRate(StrToBaudRate(std::to_string(bitsPerSecond)));
}
