#pragma once

#include <string>
#include <vector>

#include "adapters/SerialAdapter.h"
#include "adapters/UdpAdapter.h"
#include "serial/BCPort.h"
#include "udp/IdUDPServer.h"

class IWindowMembers;
class TSession;

// The window's two transports, attached to its session for as long as this
// lives: the serial port BCom and the UDP endpoint IdUDPServer1.
class TWindowTransports {
 public:
  TWindowTransports(TSession& session, IWindowMembers& window);
  // Closes both links first, so that their worker threads have ended before
  // anything they hand events to goes away.
  ~TWindowTransports();
  TWindowTransports(const TWindowTransports&) = delete;
  TWindowTransports& operator=(const TWindowTransports&) = delete;

  // The serial ports present; empty when they cannot be listed.
  static std::vector<std::string> ListPorts();

  TBComPort BCom;
  TIdUDPServer IdUDPServer1;

 private:
  TSession& Session;
  TSerialAdapter SerialLink;
  TUdpAdapter UdpLink;
};
