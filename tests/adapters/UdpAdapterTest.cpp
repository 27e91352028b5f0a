#include <gtest/gtest.h>

#include <memory>

#include "adapters/UdpAdapter.h"
#include "engine/Session.h"
#include "platform/MainLoop.h"
#include "platform/MainThread.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/SessionProbe.h"
#include "tests/support/LoopbackPeer.h"
#include "udp/IdException.h"
#include "udp/IdUDPServer.h"

namespace {

class UdpAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMainThread();
    Session.EnableDebugMode();  // the receive handler traces every datagram
  }

  // Serves the main thread until the session has logged count lines.
  bool ServeUntilLogged(size_t count) {
    return Loop.RunUntil([&] { return Window.Log.size() >= count; }, 2000);
  }

  TMainLoop Loop;
  TRecordingWindow Window;
  TSession Session{Window};
  TIdUDPServer Server;
  TUdpAdapter Adapter{Server, Session};
};

TEST_F(UdpAdapterTest, ActivatesTheDefaultPortAndFailsWithTheEndpointsException) {
  auto holder = std::make_unique<TLoopbackPeer>("0.0.0.0");
  const int port = holder->Port();
  Adapter.SetDefaultPort(port);
  EXPECT_THROW(Adapter.SetActive(true), EIdCouldNotBindSocket);
  EXPECT_FALSE(Adapter.Active());

  holder.reset();
  Adapter.SetActive(true);
  EXPECT_TRUE(Adapter.Active());
  EXPECT_EQ(Server.Bindings[0].Port, port);
  Adapter.SetActive(false);
  EXPECT_FALSE(Adapter.Active());
}

TEST_F(UdpAdapterTest, DatagramsReachTheSessionWithTheirSender) {
  TLoopbackPeer device;
  Session.ConfigureUdp({"127.0.0.1", static_cast<uint16_t>(device.Port()), 0});
  // Sending activates the endpoint, so the device's answer has a port to go to.
  Adapter.SendString("127.0.0.1", device.Port(), "S");
  ASSERT_TRUE(Adapter.Active());
  const auto probe = device.Receive();
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->Data, "S");

  device.SendTo(probe->Port, "VEQ");
  ASSERT_TRUE(ServeUntilLogged(2));
  EXPECT_EQ(Window.Log[0], "<<recv   char=VEQ     ");
  EXPECT_EQ(Window.Log[1], "<<recv   Hex =564551 (3byte)");

  // Another sender port: the session sees it and rejects the datagram.
  const size_t before = Window.Log.size();
  TLoopbackPeer stranger;
  stranger.SendTo(probe->Port, "xyz");
  ASSERT_TRUE(ServeUntilLogged(before + 2));
  EXPECT_EQ(Window.Log[before], "<<recv   char=     ");
  EXPECT_EQ(Window.Log[before + 1], "<<recv   Hex = (3byte)");
}

}  // namespace
