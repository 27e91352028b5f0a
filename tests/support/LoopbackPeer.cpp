#include "tests/support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace {

sockaddr_in AddressOf(const std::string& ip, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
    throw std::runtime_error("not an IPv4 address: " + ip);
  }
  return address;
}

}  // namespace

TLoopbackPeer::TLoopbackPeer(const std::string& ip, int port) {
  Handle_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (Handle_ < 0) throw std::runtime_error("socket failed");
  const sockaddr_in address = AddressOf(ip, port);
  sockaddr_in bound{};
  socklen_t length = sizeof(bound);
  if (bind(Handle_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      getsockname(Handle_, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    close(Handle_);
    throw std::runtime_error("cannot bind " + ip + ":" + std::to_string(port));
  }
  Port_ = ntohs(bound.sin_port);
}

TLoopbackPeer::~TLoopbackPeer() {
  close(Handle_);
}

void TLoopbackPeer::SendTo(int port, const std::string& data, const std::string& ip) {
  if (ip != "127.0.0.1" && ip != "192.168.0.254") {
    throw std::logic_error("tests send only to loopback addresses, not to " + ip);
  }
  const sockaddr_in address = AddressOf(ip, port);
  if (sendto(Handle_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&address),
             sizeof(address)) != static_cast<ssize_t>(data.size())) {
    throw std::runtime_error("sendto failed");
  }
}

std::optional<TLoopbackPeer::Datagram> TLoopbackPeer::Receive(int timeoutMs) {
  pollfd entry{Handle_, POLLIN, 0};
  if (poll(&entry, 1, timeoutMs) != 1) return std::nullopt;
  std::vector<char> buffer(70000);
  sockaddr_in sender{};
  socklen_t length = sizeof(sender);
  const ssize_t received = recvfrom(Handle_, buffer.data(), buffer.size(), 0,
                                    reinterpret_cast<sockaddr*>(&sender), &length);
  if (received < 0) return std::nullopt;
  char ip[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &sender.sin_addr, ip, sizeof(ip));
  return Datagram{std::string(buffer.data(), received), ip, ntohs(sender.sin_port)};
}

bool IsLocalAddress(const std::string& ip) {
  try {
    TLoopbackPeer probe(ip);
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

int FreeUdpPort() {
  return TLoopbackPeer("0.0.0.0").Port();
}
