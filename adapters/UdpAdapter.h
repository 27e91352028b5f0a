#pragma once

#include <string>

#include "engine/Transports.h"

class TIdUDPServer;
class TSession;

// Binds the device link's UDP needs to the UDP endpoint, and the endpoint's
// datagram event to the session's receive handler. The endpoint's failures
// pass through as its exceptions: the session catches them where it
// activates and sends.
class TUdpAdapter : public IUdpTransport {
 public:
  // Takes over server.OnUDPRead for as long as the adapter lives.
  TUdpAdapter(TIdUDPServer& server, TSession& session);
  ~TUdpAdapter() override;
  TUdpAdapter(const TUdpAdapter&) = delete;
  TUdpAdapter& operator=(const TUdpAdapter&) = delete;

  void SetDefaultPort(int port) override;
  bool Active() override;
  void SetActive(bool active) override;
  void SendString(const std::string& host, int port, const std::string& data) override;

 private:
  TIdUDPServer& Server;
};
