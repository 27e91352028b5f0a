#include "udp/IdUDPBase.h"

#include <stdexcept>

#include "udp/IdStack.h"

void TIdUDPBase::SetActive(bool active) {
  if (active == IsActive()) return;
  if (active) {
    EnsureBinding();
  } else {
    ReleaseBinding();
  }
}

void TIdUDPBase::SetBufferSize(int size) {
  if (size < 0) throw std::invalid_argument("BufferSize must not be negative");
  BufferSize_ = size;
}

void TIdUDPBase::SetBroadcastEnabled(bool enabled) {
  if (enabled == BroadcastEnabled_) return;
  BroadcastEnabled_ = enabled;
  if (IsActive()) ApplyBroadcast();
}

void TIdUDPBase::SendString(const std::string& host, int port, const std::string& data) {
  SendBytes(host, port, data.data(), static_cast<int>(data.size()));
}

void TIdUDPBase::SendBytes(const std::string& host, int port, const void* buffer, int count) {
  const std::string ip = Stack().ResolveAddress(host);
  EnsureBinding().Transmit(ip, port, buffer, count);
}

void TIdUDPBase::SetBroadcastOption(bool enabled, TIdSocketHandle& binding) {
  const int value = enabled ? -1 : 0;
  binding.SetOption(Id_SOL_SOCKET, Id_SO_BROADCAST, &value, sizeof(value));
}
