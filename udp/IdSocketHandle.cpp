#include "udp/IdSocketHandle.h"

#include "udp/IdException.h"
#include "udp/IdStack.h"

TIdSocketHandle::TIdSocketHandle(TIdStack& stack, const TIdSocketHandles* collection)
    : Stack(stack) {
  ResetState(true);
  if (collection) Port = collection->DefaultPort;
}

TIdSocketHandle::~TIdSocketHandle() {
  ReleaseSocket();
}

void TIdSocketHandle::OpenSocket(int socketType, int protocol) {
  ReleaseSocket();
  SocketId = Stack.CreateSocket(socketType, protocol);
  IsOpen = true;
}

void TIdSocketHandle::ReleaseSocket() {
  if (!IsOpen) return;
  IsOpen = false;
  Stack.ShutdownSocket(SocketId, Id_SD_SEND);
  Stack.CloseSocketHandle(SocketId);
  // The number may be handed to the next socket anyone opens.
  SocketId = Id_INVALID_SOCKET;
}

void TIdSocketHandle::BindLocal() {
  if (Port != 0 || ClientPortMin == 0 || ClientPortMax == 0) {
    if (!BindOnce()) throw EIdCouldNotBindSocket();
    return;
  }
  if (ClientPortMin > ClientPortMax) throw EIdInvalidPortRange(ClientPortMin, ClientPortMax);
  if (!BindInRange()) throw EIdCanNotBindPortInRange(ClientPortMin, ClientPortMax);
}

bool TIdSocketHandle::BindOnce() {
  const int result = Stack.BindSocket(SocketId, Id_AF_INET, IP, Port);
  if (Stack.CheckSocketResult(result, {Id_WSAEADDRINUSE})) return false;
  RefreshLocal();
  return true;
}

bool TIdSocketHandle::BindInRange() {
  for (int port = ClientPortMax; port >= ClientPortMin; --port) {
    Port = port;
    if (BindOnce()) return true;
  }
  return false;
}

void TIdSocketHandle::RefreshLocal() {
  int family = 0;
  Stack.LocalAddressOf(SocketId, family, IP, Port);
}

void TIdSocketHandle::SetRemote(const std::string& ip, int port) {
  RemoteIP = ip;
  RemotePort = port;
}

void TIdSocketHandle::ResetState(bool resetLocal) {
  IsOpen = false;
  SocketId = Id_INVALID_SOCKET;
  RemoteIP.clear();
  RemotePort = 0;
  if (resetLocal) {
    IP.clear();
    Port = 0;
  }
}

void TIdSocketHandle::SetOption(int level, int option, const void* value, int length) {
  Stack.CheckSocketResult(Stack.SetSocketOption(SocketId, level, option, value, length));
}

void TIdSocketHandle::Transmit(const std::string& ip, int port, const void* buffer, int count) {
  const int sent = Stack.SendDatagram(SocketId, buffer, count, ip, port);
  if (sent == Id_SOCKET_ERROR) {
    if (Stack.LastSocketError() == Id_WSAEMSGSIZE) throw EIdPackageSizeTooBig();
    Stack.CheckSocketResult(Id_SOCKET_ERROR);
  } else if (sent != count) {
    throw EIdNotAllBytesSent();
  }
}

TIdSocketHandle& TIdSocketHandles::AddBinding() {
  Items.push_back(std::make_unique<TIdSocketHandle>(Stack, this));
  return *Items.back();
}

TIdSocketHandle* TIdSocketHandles::BindingOfSocket(TIdStackSocketHandle socket) const {
  for (auto it = Items.rbegin(); it != Items.rend(); ++it) {
    if ((*it)->SocketId == socket) return it->get();
  }
  return nullptr;
}
