#pragma once

#include <string>

#include "engine/Session.h"
#include "engine/Transports.h"
#include "engine/WindowMembers.h"
#include "serial/BCPort.h"
#include "serial/OpenFailure.h"

// Binds the device link's serial needs to the port component and its text
// forms: opening failures are told through the window's warning box, and the
// port's received-characters event goes to the session.
class TSerialAdapter : public ISerialTransport {
 public:
  TSerialAdapter(TBComPort& port, TSession& session, IWindowMembers& window);
  ~TSerialAdapter() override;
  TSerialAdapter(const TSerialAdapter&) = delete;
  TSerialAdapter& operator=(const TSerialAdapter&) = delete;

  bool OpenClosePort(bool open, const std::string& port, const std::string& baud,
                     const std::string& dataBits, const std::string& parity,
                     const std::string& stopBits) override;
  TOpenFailure LastOpenFailure() const override;
  std::string PortSettingsText() override;
  bool IsOpen() override { return Port.IsOpen(); }
  int SendBytes(const std::string& data) override { return Port.SendBytes(data); }
  std::string ReceiveBytes(int count) override;
  void Close() override { Port.Close(); }
  void SetBaudRate(int bitsPerSecond) override;

 private:
  TBComPort& Port;
  IWindowMembers& Window;
  TPortOpenFailure LastFailure;  // of the last open; empty once one worked
};
