#include "tests/support/FakeUdpEndpoint.h"

#include <algorithm>
#include <stdexcept>

void TFakeUdpEndpoint::SetActive(bool active) {
  if (active == IsActive) return;
  if (!active && WhileDeactivating) WhileDeactivating();
  if (active && RefuseActivate) {
    throw std::runtime_error("Socket Error # 10048\nAddress already in use.");
  }
  IsActive = active;
  if (active) BoundPorts.push_back(DefaultPort);
}

bool TFakeUdpEndpoint::ReachesDevice(const std::string& host, int port) const {
  return port == DevicePort &&
         std::find(DeviceHosts.begin(), DeviceHosts.end(), host) != DeviceHosts.end();
}

void TFakeUdpEndpoint::SendString(const std::string& host, int port, const std::string& data) {
  SetActive(true);  // an inactive endpoint is activated first, failures included
  if (FailSends) throw std::runtime_error("Host not found.");
  Sent.push_back({host, port, data, Clock.NowMs});
  if (!ReachesDevice(host, port)) return;
  for (auto& answer : Device.Receive(data, Clock.NowMs)) {
    if (!DropFromDevice) InFlight.push_back({answer.Bytes, DeviceIp, DevicePort, answer.AtMs()});
  }
}

void TFakeUdpEndpoint::InjectDatagram(const std::string& bytes, const std::string& fromIp,
                                      int fromPort, int64_t atMs) {
  InFlight.push_back({bytes, fromIp, fromPort, atMs});
}

void TFakeUdpEndpoint::Pump(TSession& session) {
  for (;;) {
    std::stable_sort(InFlight.begin(), InFlight.end(),
                     [](const auto& a, const auto& b) { return a.AtMs < b.AtMs; });
    if (InFlight.empty() || InFlight.front().AtMs > Clock.NowMs) return;
    const TPending datagram = InFlight.front();
    InFlight.erase(InFlight.begin());
    // A closed endpoint receives nothing.
    if (IsActive) session.IdUDPServer1UDPRead(datagram.Bytes, datagram.FromIp, datagram.FromPort);
  }
}
