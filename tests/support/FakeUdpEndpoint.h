#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/Session.h"
#include "engine/Transports.h"
#include "tests/support/VirtualClock.h"
#include "tools/devicemodel/DeviceModel.h"

// A UDP endpoint with a device model behind one address. Datagrams sent to
// one of DeviceHosts at DevicePort reach the model at once; each of its
// answers is one datagram from DeviceIp:DevicePort, delivered through
// IdUDPServer1UDPRead when the test pumps, and only while the endpoint is
// active. No socket is involved.
class TFakeUdpEndpoint : public IUdpTransport {
 public:
  struct TDatagram {
    std::string Host;
    int Port = 0;
    std::string Bytes;
    int64_t AtMs = 0;
  };

  TFakeUdpEndpoint(TVirtualClock& clock, TDeviceModel& device) : Clock(clock), Device(device) {}

  void SetDefaultPort(int port) override { DefaultPort = port; }
  bool Active() override { return IsActive; }
  void SetActive(bool active) override;
  void SendString(const std::string& host, int port, const std::string& data) override;

  // Delivers every datagram that has arrived by now, one event each.
  void Pump(TSession& session);
  // A datagram from any sender, arriving at atMs.
  void InjectDatagram(const std::string& bytes, const std::string& fromIp, int fromPort,
                      int64_t atMs);

  // Where the device is: the texts that reach it and the address it sends from.
  std::vector<std::string> DeviceHosts = {"192.168.0.254"};
  std::string DeviceIp = "192.168.0.254";
  int DevicePort = 1001;

  bool RefuseActivate = false;  // activation raises, as with a port in use
  bool FailSends = false;       // sending raises, as with a host not found
  bool DropFromDevice = false;
  // Runs while the endpoint is being deactivated: the real one serves the
  // receive events still queued while it waits for its listener to end.
  std::function<void()> WhileDeactivating;

  std::vector<TDatagram> Sent;
  int DefaultPort = 0;
  std::vector<int> BoundPorts;  // DefaultPort at every activation

 private:
  struct TPending {
    std::string Bytes;
    std::string FromIp;
    int FromPort = 0;
    int64_t AtMs = 0;
  };

  bool ReachesDevice(const std::string& host, int port) const;

  TVirtualClock& Clock;
  TDeviceModel& Device;
  bool IsActive = false;
  std::vector<TPending> InFlight;
};
