#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "udp/IdGlobal.h"

// An IPv4 address, network order: the first byte is the first field of the
// dotted text.
using TIdIPv4Bytes = std::array<uint8_t, 4>;

// A handle that a WaitReadable can watch besides its sockets, so that another
// thread can end the wait at once (a listener being stopped).
using TIdWakeHandle = int;
constexpr TIdWakeHandle Id_NO_WAKE_HANDLE = -1;

// The most handles one list of WaitReadable may hold: the platform socket set
// this layer was designed around holds 64.
constexpr int Id_SOCKET_SET_SIZE = 64;
// WaitReadable's time-out that waits without limit.
constexpr int Id_WAIT_FOREVER = -2;

// Socket error codes that callers test by value.
constexpr int Id_WSAEMSGSIZE = 10040;
constexpr int Id_WSAEADDRINUSE = 10048;
constexpr int Id_WSAHOST_NOT_FOUND = 11001;

// The socket layer: a small object interface over the platform's IPv4
// sockets. Error checks, message texts, host resolution and address texts are
// platform-neutral and live here; the platform calls live in the platform's
// stack class (NewStack). Failed calls become EIdSocketError, whose code is
// one of the socket error codes of SocketErrorText whatever the platform's own
// error numbers are.
class TIdStack {
 public:
  virtual ~TIdStack() = default;

  // --- Platform calls; each returns the platform result unchecked unless said ---
  // Binds to {family, port, address}; an empty ip means any local address.
  virtual int BindSocket(TIdStackSocketHandle socket, int family, const std::string& ip,
                         int port) = 0;
  virtual int CloseSocketHandle(TIdStackSocketHandle socket) = 0;
  // The first IPv4 address of the host; raises EIdSocketError when none.
  virtual std::string LookupHost(const std::string& host) = 0;
  // One datagram into buffer; the byte count or Id_SOCKET_ERROR. A datagram
  // longer than length fails with Id_WSAEMSGSIZE and is consumed.
  virtual int ReceiveDatagram(TIdStackSocketHandle socket, void* buffer, int length, int flags,
                              std::string& senderIp, int& senderPort) = 0;
  // Waits until a handle of a present list is ready, timeoutMs passes
  // (Id_WAIT_FOREVER: no limit) or wake is signalled. Then each present list
  // holds only its ready handles. A list of more than Id_SOCKET_SET_SIZE
  // handles raises EIdStackSetSizeExceeded before anything waits.
  virtual int WaitReadable(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                           int timeoutMs, TIdWakeHandle wake = Id_NO_WAKE_HANDLE) = 0;
  // One datagram to {AF_INET, port, ParseIPv4(ip)}; the byte count or
  // Id_SOCKET_ERROR.
  virtual int SendDatagram(TIdStackSocketHandle socket, const void* buffer, int length, int flags,
                           const std::string& ip, int port) = 0;
  virtual int SetSocketOption(TIdStackSocketHandle socket, int level, int option, const void* value,
                              int length) = 0;
  virtual TIdStackSocketHandle NewSocket(int family, int type, int protocol) = 0;
  virtual int ShutdownSocket(TIdStackSocketHandle socket, int direction) = 0;
  // The socket error code of the calling thread's last failed call.
  virtual int LastSocketError() = 0;
  // The address the socket is bound to; raises EIdSocketError on failure.
  virtual void LocalAddressOf(TIdStackSocketHandle socket, int& family, std::string& ip,
                              int& port) = 0;

  // A wake handle for WaitReadable: signalled once, it stays signalled.
  virtual TIdWakeHandle NewWakeHandle() = 0;
  virtual void SignalWakeHandle(TIdWakeHandle wake) = 0;
  virtual void CloseWakeHandle(TIdWakeHandle wake) = 0;

  // "Socket Error # <code>\r\n<text>"; the text is empty for an unknown code.
  virtual std::string SocketErrorText(int code);

  // --- Platform-neutral operations ---
  // False when result is not Id_SOCKET_ERROR. Otherwise stores the last error
  // code in LastErrorCode and returns true when it is tolerated, else raises
  // EIdSocketError with it.
  bool CheckSocketResult(int result, std::initializer_list<int> tolerated = {});
  [[noreturn]] void RaiseSocketFailure(int code);
  // An AF_INET socket; raises EIdInvalidSocket when none can be had.
  TIdStackSocketHandle CreateSocket(int type, int protocol);
  // "LOCALHOST" in any letter case gives "127.0.0.1" and an IPv4 text comes
  // back as it is (not normalised); anything else is looked up.
  std::string ResolveAddress(const std::string& host);

  static bool IsIPv4Text(const std::string& text);
  // Each field's low 8 bits; a field that is no number throws
  // std::invalid_argument.
  static TIdIPv4Bytes ParseIPv4(const std::string& text);
  static std::string FormatIPv4(const TIdIPv4Bytes& address);

  // The code of the last failure CheckSocketResult saw, on any thread.
  int LastErrorCode() const { return LastErrorCode_; }

 protected:
  // For failures whose code the platform does not leave as its last error.
  [[noreturn]] void RaiseFailureCode(int code);
  static std::string FormatSocketError(int code, const char* text);

 private:
  std::atomic<int> LastErrorCode_{0};
};

// A new stack of this platform's stack class.
std::unique_ptr<TIdStack> NewStack();

// The one stack of the process: made by the first socket-layer component and
// freed with the last (TIdComponent, under StackLock); none while no component
// lives. Every socket call of the endpoint goes through it.
extern TIdStack* SharedStack;
