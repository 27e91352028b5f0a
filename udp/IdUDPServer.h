#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "udp/IdStack.h"
#include "udp/IdThread.h"
#include "udp/IdUDPBase.h"

class TIdUDPServer;

// A received datagram: AData holds its bytes and is valid only during the
// call (the listener reuses it); ABinding tells the sender in RemoteIP and
// RemotePort.
using TUDPReadEvent =
    std::function<void(TIdUDPServer& Sender, const std::string& AData, TIdSocketHandle& ABinding)>;

// The one thread of an active endpoint that has no event loop to wait in:
// waits on all its bindings, reads each datagram that arrives and hands it to
// the endpoint, on the main thread unless the endpoint wants it on this one.
class TIdUDPListenerThread : public TIdThread {
 public:
  TIdUDPListenerThread(int bufferSize, TIdUDPServer& endpoint);
  ~TIdUDPListenerThread() override;

  // Also ends a wait in progress, so that a deactivation does not sit out the
  // rest of PollInterval.
  void TerminateLoop() override;

 protected:
  void RunStep() override { PollOnce(); }

 private:
  // One wait on every binding, then at most one datagram from each.
  void PollOnce();
  void ReceiveAndDeliver(TIdStackSocketHandle socket);
  void HandOver();

  TIdUDPServer& Endpoint;
  // The endpoint's, which outlives the listener.
  TIdStack& Stack;
  // Sized once at the endpoint's limit; each datagram is copied out of it.
  std::vector<char> ReceiveSpace;
  std::string Datagram;
  // Bounds how long a wait lasts before the loop checks IsStopped again.
  int PollInterval = 1000;
  TIdSocketHandle* SourceBinding = nullptr;
  TIdWakeHandle WakeHandle;
};

// The UDP endpoint: binds its local sockets on activation, hands every
// datagram that arrives to OnUDPRead (on the main thread unless
// ThreadedEvent), and sends datagrams through the binding that received last.
// Given the main thread's event loop (SetEventLoop), it waits for datagrams
// there and reads them on the main thread itself; otherwise a listener
// thread waits and hands each one over.
class TIdUDPServer : public TIdUDPBase {
 public:
  TIdUDPServer() = default;
  ~TIdUDPServer() override;

  // Applies to bindings added later (activation adds one when there is none).
  int DefaultPort() const { return Bindings.DefaultPort; }
  void SetDefaultPort(int port) { Bindings.DefaultPort = port; }

  TIdSocketHandle& EnsureBinding() override;
  void ReleaseBinding() override;
  bool IsActive() override;
  void ApplyBroadcast() override;

  // Set before activation; the loop must outlive the endpoint's activity.
  // Null (the default): a listener thread. Ignored with ThreadedEvent.
  void SetEventLoop(IEventLoop* loop) { Loop = loop; }

  // Receives one datagram from socket into space, of at most its size, sets
  // datagram to it and tells the binding its sender; throws on a failed
  // receive. The space is the caller's so that it is sized, and cleared,
  // once rather than per datagram. The listener's thread, or the main thread
  // with an event loop.
  TIdSocketHandle& ReceiveFrom(TIdStackSocketHandle socket, std::vector<char>& space,
                               std::string& datagram);
  // Runs on the main thread, or on the listener with ThreadedEvent.
  void DeliverDatagram(const std::string& AData, TIdSocketHandle& ABinding);

  TIdSocketHandles Bindings{Stack()};
  TUDPReadEvent OnUDPRead;
  // Set before activation.
  bool ThreadedEvent = false;
  // None while inactive; the binding that received last, or the first one.
  // Atomic because with ThreadedEvent the listener sets it while the main
  // thread may be sending.
  std::atomic<TIdSocketHandle*> ActiveBinding{nullptr};

 protected:
  virtual void FireUDPRead(const std::string& AData, TIdSocketHandle& ABinding);

 private:
  void BindAll();
  void StartListener();
  void StopListener();
  bool ReceivesInLoop() const { return Loop && !ThreadedEvent; }
  void WatchBindings();
  void UnwatchBindings();
  void ReceiveInLoop(TIdStackSocketHandle socket);
  // Waits for listeners let go without waiting (see ReleaseBinding).
  void JoinRetiredListeners();
  bool IsDeliveringHere() const;

  std::unique_ptr<TIdUDPListenerThread> Receiver;
  std::vector<std::unique_ptr<TIdUDPListenerThread>> RetiredListeners;
  IEventLoop* Loop = nullptr;
  // The loop the bindings are watched in while active, whatever Loop has
  // been set to since.
  IEventLoop* WatchingLoop = nullptr;
  std::vector<IEventLoop::WatchId> Watches;
  // The datagram being delivered in the loop, reused from one to the next,
  // and the space it is received into, of the limit taken at activation as
  // a listener takes it.
  std::vector<char> LoopReceiveSpace;
  std::string LoopDatagram;
};
