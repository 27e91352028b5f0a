#pragma once

#include "adapters/SerialAdapter.h"
#include "adapters/UdpAdapter.h"
#include "serial/BCPort.h"
#include "udp/IdUDPServer.h"

class IEventLoop;
class IWindowMembers;
class TSession;

// A front end's two transports, attached to its session for as long as this
// lives: the serial port BCom and the UDP endpoint IdUDPServer1. The window
// and the command line wire their sessions through it. Main thread only.
class TSessionTransports {
 public:
  // Given the front end's event loop (which must outlive this), both links
  // wait for their device in it; without one, each has a thread of its own.
  TSessionTransports(TSession& session, IWindowMembers& window, IEventLoop* loop = nullptr);
  // Closes both links first, so that their worker threads have ended before
  // anything they hand events to goes away.
  ~TSessionTransports();
  TSessionTransports(const TSessionTransports&) = delete;
  TSessionTransports& operator=(const TSessionTransports&) = delete;

  TBComPort BCom;
  TIdUDPServer IdUDPServer1;

 private:
  TSession& Session;
  TSerialAdapter SerialLink;
  TUdpAdapter UdpLink;
};
