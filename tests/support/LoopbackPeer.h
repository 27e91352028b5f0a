#pragma once

#include <optional>
#include <string>

// A bare UDP socket for the tests' side of a conversation with the endpoint.
// It sends only to 127.0.0.1 and to 192.168.0.254 (which exists only inside
// the test network namespace); any other destination throws.
class TLoopbackPeer {
 public:
  struct Datagram {
    std::string Data;
    std::string Ip;
    int Port = 0;
  };

  // Binds ip:port (0: a port the platform chooses); throws std::runtime_error
  // when that fails.
  explicit TLoopbackPeer(const std::string& ip = "127.0.0.1", int port = 0);
  ~TLoopbackPeer();
  TLoopbackPeer(const TLoopbackPeer&) = delete;
  TLoopbackPeer& operator=(const TLoopbackPeer&) = delete;

  int Port() const { return Port_; }
  int Handle() const { return Handle_; }
  void SendTo(int port, const std::string& data, const std::string& ip = "127.0.0.1");
  // The next datagram, or none after timeoutMs.
  std::optional<Datagram> Receive(int timeoutMs = 2000);

 private:
  int Handle_ = -1;
  int Port_ = 0;
};

// Whether ip is an address of this machine (a socket can be bound to it).
bool IsLocalAddress(const std::string& ip);

// A UDP port that was free a moment ago.
int FreeUdpPort();
