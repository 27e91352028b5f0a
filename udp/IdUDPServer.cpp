#include "udp/IdUDPServer.h"

#include "platform/MainThread.h"

namespace {

// The endpoint whose OnUDPRead the calling thread is running, if any. A
// listener waits for that call to return, so the call must not wait for the
// listener.
thread_local const TIdUDPServer* DeliveringEndpoint = nullptr;

class TDeliveryScope {
 public:
  explicit TDeliveryScope(const TIdUDPServer* endpoint) : Outer(DeliveringEndpoint) {
    DeliveringEndpoint = endpoint;
  }
  ~TDeliveryScope() { DeliveringEndpoint = Outer; }
  TDeliveryScope(const TDeliveryScope&) = delete;
  TDeliveryScope& operator=(const TDeliveryScope&) = delete;

 private:
  const TIdUDPServer* Outer;
};

}  // namespace

TIdUDPListenerThread::TIdUDPListenerThread(int bufferSize, TIdUDPServer& endpoint)
    : Endpoint(endpoint),
      Stack(endpoint.Stack()),
      ReceiveSpace(static_cast<size_t>(bufferSize)),
      WakeHandle(Stack.NewWakeHandle()) {}

TIdUDPListenerThread::~TIdUDPListenerThread() {
  EndThread();
  Stack.CloseWakeHandle(WakeHandle);
}

void TIdUDPListenerThread::TerminateLoop() {
  TIdThread::TerminateLoop();
  Stack.SignalWakeHandle(WakeHandle);
}

void TIdUDPListenerThread::PollOnce() {
  TIdSocketList ready;
  for (const auto& binding : Endpoint.Bindings)
    ready.push_back(binding->SocketId);
  Stack.WaitReadable(&ready, nullptr, nullptr, PollInterval, WakeHandle);
  for (const TIdStackSocketHandle socket : ready) {
    try {
      ReceiveAndDeliver(socket);
    } catch (...) {
      // A failed receive or a failing handler costs that one datagram only.
    }
  }
}

void TIdUDPListenerThread::ReceiveAndDeliver(TIdStackSocketHandle socket) {
  if (IsStopped()) return;
  SourceBinding = &Endpoint.ReceiveFrom(socket, ReceiveSpace, Datagram);
  if (Endpoint.ThreadedEvent) {
    HandOver();
  } else {
    Synchronize([this] { HandOver(); });
  }
}

void TIdUDPListenerThread::HandOver() {
  Endpoint.DeliverDatagram(Datagram, *SourceBinding);
}

TIdUDPServer::~TIdUDPServer() {
  ReleaseBinding();
  JoinRetiredListeners();
}

TIdSocketHandle& TIdUDPServer::EnsureBinding() {
  if (TIdSocketHandle* binding = ActiveBinding) return *binding;
  if (!IsDeliveringHere()) JoinRetiredListeners();
  if (Bindings.Count() == 0) Bindings.AddBinding();
  BindAll();
  StartListener();
  ApplyBroadcast();
  return *ActiveBinding.load();
}

void TIdUDPServer::BindAll() {
  for (const auto& binding : Bindings) {
    binding->OpenSocket(Id_SOCK_DGRAM, 0);
    binding->BindLocal();
  }
}

void TIdUDPServer::StartListener() {
  if (ReceivesInLoop()) {
    WatchBindings();
    return;
  }
  // Made before the endpoint reads as active, so that an active endpoint
  // always has a listener to stop.
  auto listener = std::make_unique<TIdUDPListenerThread>(BufferSize(), *this);
  ActiveBinding = &Bindings[0];
  Receiver = std::move(listener);
  Receiver->StartLoop();
}

void TIdUDPServer::ReleaseBinding() {
  if (!ActiveBinding) return;
  if (Receiver) {
    StopListener();
  } else {
    UnwatchBindings();
  }
  for (const auto& binding : Bindings)
    binding->ReleaseSocket();
  ActiveBinding = nullptr;
}

void TIdUDPServer::StopListener() {
  Receiver->StopLoop();
  if (IsDeliveringHere()) {
    // Called from OnUDPRead: the listener is waiting for this very call, so
    // it can only end after the call returns. It touches neither the
    // sockets nor the endpoint once stopped; it is waited for later.
    RetiredListeners.push_back(std::move(Receiver));
  } else {
    // Before the sockets close: the listener may still be reading one, and
    // on the main thread this wait delivers a datagram whose hand-over is
    // already in progress.
    Receiver->WaitFor();
    Receiver.reset();
  }
}

void TIdUDPServer::WatchBindings() {
  LoopReceiveSpace.assign(static_cast<size_t>(BufferSize()), '\0');
  WatchingLoop = Loop;
  ActiveBinding = &Bindings[0];
  for (const auto& binding : Bindings) {
    const TIdStackSocketHandle socket = binding->SocketId;
    Watches.push_back(WatchingLoop->WatchReadable(socket, [this, socket] { ReceiveInLoop(socket); }));
  }
}

void TIdUDPServer::UnwatchBindings() {
  for (const IEventLoop::WatchId watch : Watches)
    WatchingLoop->Unwatch(watch);
  Watches.clear();
  WatchingLoop = nullptr;
}

void TIdUDPServer::ReceiveInLoop(TIdStackSocketHandle socket) {
  try {
    TIdSocketHandle& source = ReceiveFrom(socket, LoopReceiveSpace, LoopDatagram);
    DeliverDatagram(LoopDatagram, source);
  } catch (...) {
    // As on the listener: a failed receive or a failing handler costs that
    // one datagram only.
  }
}

TIdSocketHandle& TIdUDPServer::ReceiveFrom(TIdStackSocketHandle socket, std::vector<char>& space,
                                           std::string& datagram) {
  TIdSocketHandle& source = *Bindings.BindingOfSocket(socket);
  std::string senderIp;
  int senderPort = 0;
  const int received = Stack().ReceiveDatagram(socket, space.data(), static_cast<int>(space.size()),
                                               senderIp, senderPort);
  Stack().CheckSocketResult(received);
  datagram.assign(space.data(), static_cast<size_t>(received));
  source.SetRemote(senderIp, senderPort);
  return source;
}

bool TIdUDPServer::IsActive() {
  const TIdSocketHandle* binding = ActiveBinding;
  return binding && binding->IsOpen;
}

void TIdUDPServer::ApplyBroadcast() {
  if (!ActiveBinding) return;
  for (const auto& binding : Bindings)
    SetBroadcastOption(BroadcastEnabled(), *binding);
}

void TIdUDPServer::DeliverDatagram(const std::string& AData, TIdSocketHandle& ABinding) {
  ActiveBinding = &ABinding;
  FireUDPRead(AData, ABinding);
}

void TIdUDPServer::FireUDPRead(const std::string& AData, TIdSocketHandle& ABinding) {
  if (!OnUDPRead) return;
  TDeliveryScope scope(this);
  OnUDPRead(*this, AData, ABinding);
}

void TIdUDPServer::JoinRetiredListeners() {
  for (const auto& listener : RetiredListeners)
    listener->WaitFor();
  RetiredListeners.clear();
}

bool TIdUDPServer::IsDeliveringHere() const {
  return DeliveringEndpoint == this;
}
