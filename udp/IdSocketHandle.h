#pragma once

#include <memory>
#include <string>
#include <vector>

#include "udp/IdGlobal.h"

class TIdStack;
class TIdSocketHandles;

// One binding: a local IPv4 socket with the local address it is bound to and
// the sender of the last datagram received on it. It owns its socket, and its
// calls go through the stack of the component that owns it, which outlives
// it. The owner's thread opens, binds, sends and releases; the endpoint's
// listener only records senders while the owner does none of that.
class TIdSocketHandle {
 public:
  // A binding made inside a collection starts on the collection's default port.
  explicit TIdSocketHandle(TIdStack& stack, const TIdSocketHandles* collection = nullptr);
  ~TIdSocketHandle();
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  // Closes any socket held and allocates one of socketType (Id_SOCK_DGRAM);
  // IP and Port stay.
  void OpenSocket(int socketType, int protocol);
  // Closes the socket, ignoring what the platform says.
  void ReleaseSocket();
  // Binds IP and Port, or the highest free port of the client range when
  // Port is 0 and a range is given; then reads the bound address back.
  void BindLocal();
  void RefreshLocal();
  void SetRemote(const std::string& ip, int port);
  void ResetState(bool resetLocal);
  // level and option are Id_ names, as TIdStack::SetSocketOption.
  void SetOption(int level, int option, const void* value, int length);
  // Sends buffer as one datagram from this socket.
  void Transmit(const std::string& ip, int port, const void* buffer, int count);

  TIdStackSocketHandle SocketId = Id_INVALID_SOCKET;
  bool IsOpen = false;
  // Local address; empty binds any local address, and the bind reads it back
  // ("0.0.0.0" for any).
  std::string IP;
  // Sender of the last datagram received here, in common::FormatIPv4 form.
  std::string RemoteIP;
  int Port = 0;
  int RemotePort = 0;
  int ClientPortMin = 0;
  int ClientPortMax = 0;

 private:
  TIdStack& Stack;
  // One bind attempt: false when the address and port are in use.
  bool BindOnce();
  bool BindInRange();
};

// The bindings of an endpoint, in the order they were added, with the port
// that new bindings start on. Same threads as its bindings.
class TIdSocketHandles {
 public:
  // The stack new bindings use; it must outlive the collection.
  explicit TIdSocketHandles(TIdStack& stack) : Stack(stack) {}

  TIdSocketHandle& AddBinding();
  // The last binding holding socket, or nullptr.
  TIdSocketHandle* BindingOfSocket(TIdStackSocketHandle socket) const;

  int Count() const { return static_cast<int>(Items.size()); }
  TIdSocketHandle& operator[](int index) const { return *Items.at(index); }
  auto begin() const { return Items.begin(); }
  auto end() const { return Items.end(); }

  int DefaultPort = 0;

 private:
  TIdStack& Stack;
  std::vector<std::unique_ptr<TIdSocketHandle>> Items;
};
