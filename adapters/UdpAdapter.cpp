#include "adapters/UdpAdapter.h"

#include "engine/Session.h"
#include "udp/IdUDPServer.h"

TUdpAdapter::TUdpAdapter(TIdUDPServer& server, TSession& session) : Server(server) {
  Server.OnUDPRead = [&session](TIdUDPServer&, const std::string& AData,
                                TIdSocketHandle& ABinding) {
    // The endpoint reuses AData for the next datagram: the session gets a copy.
    session.IdUDPServer1UDPRead(std::string(AData), ABinding.RemoteIP, ABinding.RemotePort);
  };
}

TUdpAdapter::~TUdpAdapter() {
  Server.OnUDPRead = nullptr;
}

void TUdpAdapter::SetDefaultPort(int port) {
  Server.SetDefaultPort(port);
}

bool TUdpAdapter::Active() {
  return Server.Active();
}

void TUdpAdapter::SetActive(bool active) {
  Server.SetActive(active);
}

void TUdpAdapter::SendString(const std::string& host, int port, const std::string& data) {
  Server.SendString(host, port, data);
}
