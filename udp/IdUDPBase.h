#pragma once

#include <string>

#include "udp/IdComponent.h"
#include "udp/IdSocketHandle.h"

// A UDP endpoint: activation and deactivation, the receive buffer size, the
// broadcast option, and sending datagrams through the endpoint's binding.
class TIdUDPBase : public TIdComponent {
 public:
  // Writing the value it already has does nothing; true binds (EnsureBinding),
  // false unbinds (ReleaseBinding).
  bool Active() { return IsActive(); }
  void SetActive(bool active);

  // The largest datagram, in bytes, that the listener receives; longer ones
  // are dropped. Taken at activation.
  int BufferSize() const { return BufferSize_; }
  void SetBufferSize(int size);

  bool BroadcastEnabled() const { return BroadcastEnabled_; }
  // Applied at once while active.
  void SetBroadcastEnabled(bool enabled);

  // Sends data, zero bytes included, as one datagram to host:port from the
  // endpoint's binding; an inactive endpoint is activated first.
  void SendString(const std::string& host, int port, const std::string& data);
  void SendBytes(const std::string& host, int port, const void* buffer, int count);

  // The binding to send through; activates an inactive endpoint.
  virtual TIdSocketHandle& EnsureBinding() = 0;
  virtual void ReleaseBinding() = 0;
  virtual bool IsActive() = 0;
  virtual void ApplyBroadcast() = 0;
  // SO_BROADCAST on binding's socket.
  void SetBroadcastOption(bool enabled, TIdSocketHandle& binding);

 private:
  int BufferSize_ = 8192;
  bool BroadcastEnabled_ = false;
};
