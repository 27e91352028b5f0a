#pragma once

#include <atomic>
#include <initializer_list>
#include <memory>
#include <string>

#include "common/Ipv4Text.h"
#include "udp/IdGlobal.h"

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
constexpr int Id_WSAEINVAL = 10022;
constexpr int Id_WSAEWOULDBLOCK = 10035;
constexpr int Id_WSAEMSGSIZE = 10040;
constexpr int Id_WSAENOPROTOOPT = 10042;
constexpr int Id_WSAEADDRINUSE = 10048;
constexpr int Id_WSAHOST_NOT_FOUND = 11001;

// The layer's own names for families, socket types, option levels, options
// and shutdown directions. Each platform's stack class maps them onto its own
// values, so nothing above the stack depends on a platform's numbers. A value
// a stack does not know fails the call: an option with Id_WSAENOPROTOOPT,
// anything else with Id_WSAEINVAL.
constexpr int Id_AF_INET = 1;
constexpr int Id_SOCK_DGRAM = 1;
constexpr int Id_SOL_SOCKET = 1;
constexpr int Id_SO_BROADCAST = 1;
constexpr int Id_SO_REUSEADDR = 2;
constexpr int Id_SD_RECEIVE = 0;
constexpr int Id_SD_SEND = 1;
constexpr int Id_SD_BOTH = 2;

// The socket layer: a small object interface over the platform's IPv4
// sockets. Error checks, message texts and host resolution are
// platform-neutral and live here; the platform calls live in the platform's
// stack class (NewStack), one source file per platform. Failed calls become
// EIdSocketError, whose code is one of the socket error codes of
// SocketErrorText whatever the platform's own error numbers are.
//
// A stack holds no per-socket state: any thread may call it, each socket
// being used by one thread at a time. LastSocketError is the calling
// thread's.
class TIdStack {
 public:
  virtual ~TIdStack() = default;

  // --- Platform calls; each returns the platform result unchecked unless said ---
  // Binds to {family, port, address}; an empty ip means any local address,
  // port 0 a port the platform chooses. An ip that is no IPv4 text throws
  // std::invalid_argument.
  virtual int BindSocket(TIdStackSocketHandle socket, int family, const std::string& ip,
                         int port) = 0;
  virtual int CloseSocketHandle(TIdStackSocketHandle socket) = 0;
  // The first IPv4 address of the host; raises EIdSocketError when none.
  virtual std::string LookupHost(const std::string& host) = 0;
  // One datagram into buffer, with its sender in common::FormatIPv4 form; the byte
  // count or Id_SOCKET_ERROR. Never blocks: with nothing waiting it fails
  // with Id_WSAEWOULDBLOCK. A datagram longer than length fails with
  // Id_WSAEMSGSIZE and is consumed.
  virtual int ReceiveDatagram(TIdStackSocketHandle socket, void* buffer, int length,
                              std::string& senderIp, int& senderPort) = 0;
  // Waits until a handle of a present list is ready, timeoutMs passes
  // (Id_WAIT_FOREVER: no limit) or wake is signalled. Then each present list
  // holds only its ready handles. A list of more than Id_SOCKET_SET_SIZE
  // handles raises EIdStackSetSizeExceeded before anything waits.
  virtual int WaitReadable(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                           int timeoutMs, TIdWakeHandle wake = Id_NO_WAKE_HANDLE) = 0;
  // One datagram to {Id_AF_INET, port, ip}; the byte count or
  // Id_SOCKET_ERROR. An ip that is no IPv4 text throws std::invalid_argument.
  virtual int SendDatagram(TIdStackSocketHandle socket, const void* buffer, int length,
                           const std::string& ip, int port) = 0;
  // level and option are Id_SOL_SOCKET and one of its Id_SO_ options.
  virtual int SetSocketOption(TIdStackSocketHandle socket, int level, int option, const void* value,
                              int length) = 0;
  // family and type are the layer's names (Id_AF_INET, Id_SOCK_DGRAM);
  // protocol is the protocol's assigned number or 0 for the type's own.
  virtual TIdStackSocketHandle NewSocket(int family, int type, int protocol) = 0;
  // direction is one of Id_SD_RECEIVE, Id_SD_SEND and Id_SD_BOTH.
  virtual int ShutdownSocket(TIdStackSocketHandle socket, int direction) = 0;
  // The socket error code of the calling thread's last failed call.
  virtual int LastSocketError() = 0;
  // The address the socket is bound to, family as Id_AF_INET; raises
  // EIdSocketError on failure.
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
  // An Id_AF_INET socket; raises EIdInvalidSocket when none can be had.
  TIdStackSocketHandle CreateSocket(int type, int protocol);
  // "LOCALHOST" in any letter case gives "127.0.0.1" and an IPv4 text comes
  // back as it is (not normalised); anything else is looked up.
  std::string ResolveAddress(const std::string& host);

  // The code of the last failure CheckSocketResult saw, on any thread.
  int LastErrorCode() const { return LastErrorCode_; }

 protected:
  // For failures whose code the platform does not leave as its last error.
  [[noreturn]] void RaiseFailureCode(int code);
  static std::string FormatSocketError(int code, const char* text);
  // The bytes of an IPv4 text; anything else throws std::invalid_argument,
  // as a caller handing over an unresolved name is a programming error, not
  // a socket failure.
  static common::TIPv4Bytes AddressBytes(const std::string& ip);

 private:
  std::atomic<int> LastErrorCode_{0};
};

// A new stack of this platform's stack class.
std::unique_ptr<TIdStack> NewStack();

// The one stack of the process: made by the first call that finds none held
// and freed when its last holder lets it go, so that no stack outlives the
// components using it. Every socket-layer component holds it for its
// lifetime. Any thread.
std::shared_ptr<TIdStack> SharedStack();

// The number of holders of the shared stack, 0 while there is none; exact
// while no holder is being made or let go on another thread.
int StackUserCount();
