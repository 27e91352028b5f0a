#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/Session.h"
#include "tests/support/ClockedWindow.h"
#include "tests/support/FakeSerialPort.h"
#include "tests/support/FakeUdpEndpoint.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualClock.h"
#include "tools/devicemodel/DeviceModel.h"

// A session wired to a device model through both fake transports, on a
// virtual clock. The test drives it the way the window does: button clicks,
// timer ticks, and receive events in between (Pump).
class TSessionBench {
 public:
  explicit TSessionBench(TDeviceModel::TSettings device = {});

  // Link selection with the window's texts and the default UDP ports.
  void UseSerial();
  void UseUdp(const std::string& editIp = "192.168.0.254");
  // Writes the image, puts its path into EditFileName and checks it, which
  // also sets BoardKind. Returns the path.
  std::string LoadImage(const std::string& bytes, const std::string& name = "image.vqf");

  // Raises the receive events for everything the device has sent by now.
  void Pump();
  // One tick of Timer1: the interval passes, arrived bytes are handled,
  // then the timer step runs if the timer is enabled.
  void Tick();
  // Ticks until done() holds; the number of ticks taken, -1 after maxTicks.
  int TickUntil(const std::function<bool()>& done, int maxTicks);

  void Connect();
  // Connect and tick until the device is ready to write (state 4).
  bool ConnectUntilReady(int maxTicks = 100);
  void Start();
  // Ticks until the session is idle again.
  bool RunUntilIdle(int maxTicks = 1000);
  void Disconnect();

  // Log lines from index from on.
  std::vector<std::string> LogFrom(size_t from) const;

  TVirtualClock Clock;
  TClockedWindow Window{Clock};
  TDeviceModel Device;
  TFakeSerialPort Serial{Clock, Device};
  TFakeUdpEndpoint Udp{Clock, Device};
  TSession Session{Window};
  TTempDir Dir;
};
