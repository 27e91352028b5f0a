// Round trip over loopback 127.0.0.1: the UDP endpoint (send, answer read by
// the listener thread and handed to OnUDPRead on the main thread, or read
// there by the main loop) beside a bare sendto/recvfrom ping-pong against the
// same echo socket.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/MainLoop.h"
#include "platform/MainThread.h"
#include "udp/IdUDPServer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWarmUpRounds = 200;
constexpr int kRounds = 5000;
constexpr int kAnswerTimeoutMs = 1000;

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A socket bound to 127.0.0.1 on a port the platform chooses.
class TLoopbackSocket {
 public:
  TLoopbackSocket() : Handle(socket(AF_INET, SOCK_DGRAM, 0)) {
    const sockaddr_in address = LoopbackAddress(0);
    sockaddr_in bound{};
    socklen_t length = sizeof(bound);
    if (Handle < 0 || bind(Handle, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) ||
        getsockname(Handle, reinterpret_cast<sockaddr*>(&bound), &length)) {
      throw std::runtime_error("cannot bind a loopback socket");
    }
    Port = ntohs(bound.sin_port);
  }
  ~TLoopbackSocket() { close(Handle); }
  TLoopbackSocket(const TLoopbackSocket&) = delete;
  TLoopbackSocket& operator=(const TLoopbackSocket&) = delete;

  bool WaitReadable(int timeoutMs) const {
    pollfd entry{Handle, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) == 1;
  }

  int Handle;
  int Port = 0;
};

// Answers every datagram with the same bytes, until stopped.
class TEchoThread {
 public:
  TEchoThread() : Thread([this] { Run(); }) {}
  ~TEchoThread() {
    Stop = true;
    Thread.join();
  }
  int Port() const { return Socket.Port; }

 private:
  void Run() {
    std::vector<char> buffer(65536);
    while (!Stop) {
      if (!Socket.WaitReadable(50)) continue;
      sockaddr_in sender{};
      socklen_t length = sizeof(sender);
      const ssize_t received = recvfrom(Socket.Handle, buffer.data(), buffer.size(), 0,
                                        reinterpret_cast<sockaddr*>(&sender), &length);
      if (received < 0) continue;
      sendto(Socket.Handle, buffer.data(), static_cast<size_t>(received), 0,
             reinterpret_cast<const sockaddr*>(&sender), length);
    }
  }

  TLoopbackSocket Socket;
  std::atomic<bool> Stop{false};
  std::thread Thread;
};

struct TFigures {
  double MeanUs = 0;
  double MedianUs = 0;
  int Lost = 0;
};

template <typename RoundTrip>
TFigures Measure(RoundTrip roundTrip) {
  for (int i = 0; i < kWarmUpRounds; ++i)
    roundTrip();
  std::vector<double> times;
  TFigures figures;
  for (int i = 0; i < kRounds; ++i) {
    const auto start = Clock::now();
    const bool answered = roundTrip();
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    if (answered) {
      times.push_back(us);
    } else {
      ++figures.Lost;
    }
  }
  if (times.empty()) return figures;
  std::sort(times.begin(), times.end());
  double sum = 0;
  for (const double us : times)
    sum += us;
  figures.MeanUs = sum / static_cast<double>(times.size());
  figures.MedianUs = times[times.size() / 2];
  return figures;
}

// Where the endpoint waits for the answer.
enum class TWaiter { ListenerThread, MainLoop };

TFigures EndpointRoundTrips(int echoPort, const std::string& payload, TWaiter waiter) {
  TMainLoop loop;
  TIdUDPServer server;
  if (waiter == TWaiter::MainLoop) server.SetEventLoop(&loop);
  bool answered = false;
  server.OnUDPRead = [&](TIdUDPServer&, const std::string&, TIdSocketHandle&) { answered = true; };
  server.SetActive(true);
  return Measure([&] {
    answered = false;
    server.SendString("127.0.0.1", echoPort, payload);
    return loop.RunUntil([&] { return answered; }, kAnswerTimeoutMs);
  });
}

TFigures BareRoundTrips(int echoPort, const std::string& payload) {
  TLoopbackSocket client;
  const sockaddr_in echo = LoopbackAddress(echoPort);
  std::vector<char> buffer(65536);
  return Measure([&] {
    sendto(client.Handle, payload.data(), payload.size(), 0,
           reinterpret_cast<const sockaddr*>(&echo), sizeof(echo));
    if (!client.WaitReadable(kAnswerTimeoutMs)) return false;
    return recv(client.Handle, buffer.data(), buffer.size(), 0) >= 0;
  });
}

}  // namespace

int main() {
  platform::SetMainThread();
  TEchoThread echo;
  std::printf("UDP round trip over 127.0.0.1, %d rounds each (after %d warm-up rounds)\n", kRounds,
              kWarmUpRounds);
  std::printf("%8s  %24s  %24s  %24s  %14s\n", "bytes", "listener mean/median us",
              "in loop mean/median us", "bare mean/median us", "ratios (means)");
  for (const int size : {1, 64, 1024, 8192}) {
    const std::string payload(static_cast<size_t>(size), 'x');
    const TFigures threaded = EndpointRoundTrips(echo.Port(), payload, TWaiter::ListenerThread);
    const TFigures looped = EndpointRoundTrips(echo.Port(), payload, TWaiter::MainLoop);
    const TFigures bare = BareRoundTrips(echo.Port(), payload);
    std::printf("%8d  %11.1f / %10.1f  %11.1f / %10.1f  %11.1f / %10.1f  %6.2f, %5.2f", size,
                threaded.MeanUs, threaded.MedianUs, looped.MeanUs, looped.MedianUs, bare.MeanUs,
                bare.MedianUs, threaded.MeanUs / bare.MeanUs, looped.MeanUs / bare.MeanUs);
    if (threaded.Lost + looped.Lost + bare.Lost > 0) {
      std::printf("  (lost: listener %d, in loop %d, bare %d)", threaded.Lost, looped.Lost,
                  bare.Lost);
    }
    std::printf("\n");
  }
  return 0;
}
