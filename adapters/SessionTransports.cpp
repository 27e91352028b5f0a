#include "adapters/SessionTransports.h"

#include "engine/Session.h"

TSessionTransports::TSessionTransports(TSession& session, IWindowMembers& window,
                                       IEventLoop* loop)
    : Session(session), SerialLink(BCom, session, window), UdpLink(IdUDPServer1, session) {
  BCom.SetEventLoop(loop);
  IdUDPServer1.SetEventLoop(loop);
  IdUDPServer1.SetDefaultPort(0);
  Session.AttachSerial(&SerialLink);
  Session.AttachUdp(&UdpLink);
}

TSessionTransports::~TSessionTransports() {
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
