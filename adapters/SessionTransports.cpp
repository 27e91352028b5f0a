#include "app/WindowTransports.h"

#include "engine/Session.h"

TWindowTransports::TWindowTransports(TSession& session, IWindowMembers& window)
    : Session(session), SerialLink(BCom, session, window), UdpLink(IdUDPServer1, session) {
  IdUDPServer1.SetDefaultPort(0);
  Session.AttachSerial(&SerialLink);
  Session.AttachUdp(&UdpLink);
}

TWindowTransports::~TWindowTransports() {
  try {
    BCom.Close();
  } catch (const std::exception&) {
    // Going away regardless; a port that will not close is closed by the OS.
  }
  try {
    IdUDPServer1.SetActive(false);
  } catch (const std::exception&) {
    // As above.
  }
  Session.AttachSerial(nullptr);
  Session.AttachUdp(nullptr);
}

std::vector<std::string> TWindowTransports::ListPorts() {
  std::vector<std::string> ports;
  try {
    ListSerialPorts(ports);
  } catch (const std::exception&) {
    ports.clear();
  }
  return ports;
}
