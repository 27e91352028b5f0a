#pragma once

#include "udp/IdStack.h"

// The stack over this platform's BSD sockets, the only part of the layer that
// sees them. The layer's Id_ names are mapped onto the platform's values, and
// error numbers onto the socket error codes of TIdStack::SocketErrorText
// (EADDRINUSE → 10048, ...), so messages and SocketErrorCode read the same on
// every platform. Any thread, as TIdStack.
class TIdStackLinux : public TIdStack {
 public:
  int BindSocket(TIdStackSocketHandle socket, int family, const std::string& ip, int port) override;
  int CloseSocketHandle(TIdStackSocketHandle socket) override;
  std::string LookupHost(const std::string& host) override;
  int ReceiveDatagram(TIdStackSocketHandle socket, void* buffer, int length, std::string& senderIp,
                      int& senderPort) override;
  int WaitReadable(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error, int timeoutMs,
                   TIdWakeHandle wake = Id_NO_WAKE_HANDLE) override;
  int SendDatagram(TIdStackSocketHandle socket, const void* buffer, int length,
                   const std::string& ip, int port) override;
  int SetSocketOption(TIdStackSocketHandle socket, int level, int option, const void* value,
                      int length) override;
  TIdStackSocketHandle NewSocket(int family, int type, int protocol) override;
  int ShutdownSocket(TIdStackSocketHandle socket, int direction) override;
  int LastSocketError() override;
  void LocalAddressOf(TIdStackSocketHandle socket, int& family, std::string& ip,
                      int& port) override;
  TIdWakeHandle NewWakeHandle() override;
  void SignalWakeHandle(TIdWakeHandle wake) override;
  void CloseWakeHandle(TIdWakeHandle wake) override;
  std::string SocketErrorText(int code) override;
};

// The socket error code for an errno value; a value without a counterpart
// comes back unchanged.
int SocketErrorFromErrno(int errnum);
