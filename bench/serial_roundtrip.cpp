// Round trip over a pseudo-terminal pair: the serial port component (request
// written with SendBytes, answer delivered to OnRxChar on the main thread by
// the event thread, or read there by the main loop) beside a bare
// write/poll/read loop on the same line. The
// device end answers "GET" to every complete request, as the boot loader
// answers each block.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
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
#include "serial/BCPort.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAnswerTimeoutMs = 1000;
const std::string kAnswer = "GET";

// The device: reads requests of the current size and answers each one.
class TEchoDevice {
 public:
  explicit TEchoDevice(int masterFd) : Master(masterFd), Worker([this] { Run(); }) {}
  ~TEchoDevice() {
    Stopping = true;
    Worker.join();
  }
  void SetRequestSize(size_t size) { RequestSize = size; }

 private:
  void Run() {
    std::vector<char> buffer(4096);
    size_t pending = 0;
    while (!Stopping) {
      pollfd entry{Master, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      const ssize_t n = read(Master, buffer.data(), buffer.size());
      if (n <= 0) continue;
      pending += static_cast<size_t>(n);
      for (; pending >= RequestSize; pending -= RequestSize) {
        if (write(Master, kAnswer.data(), kAnswer.size()) < 0) return;
      }
    }
  }
  int Master;
  std::atomic<size_t> RequestSize{1};
  std::atomic<bool> Stopping{false};
  std::thread Worker;
};

struct TFigures {
  double MedianUs;
  double MeanUs;
};

TFigures Summarise(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  double sum = 0;
  for (double sample : samples)
    sum += sample;
  return {samples[samples.size() / 2], sum / static_cast<double>(samples.size())};
}

double MicrosecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Where the component waits for the answer.
enum class TWaiter { EventThread, MainLoop };

TFigures ComponentRoundTrips(const std::string& path, const std::string& request, int rounds,
                             TWaiter waiter) {
  TMainLoop loop;
  TBComPort port;
  if (waiter == TWaiter::MainLoop) port.SetEventLoop(&loop);
  port.SetPort(path);
  port.SetBaudRate(br921600);
  std::string answer;
  port.OnRxChar = [&](TBComPort* sender, int count) {
    std::string part;
    sender->ReceiveBytes(part, count);
    answer += part;
  };
  port.Open();
  std::vector<double> samples;
  for (int round = 0; round < rounds; ++round) {
    answer.clear();
    const auto start = Clock::now();
    port.SendBytes(request);
    if (!loop.RunUntil([&] { return answer.size() >= kAnswer.size(); }, kAnswerTimeoutMs)) {
      throw std::runtime_error("no answer through the component");
    }
    samples.push_back(MicrosecondsSince(start));
  }
  port.Close();
  return Summarise(samples);
}

TFigures BareRoundTrips(const std::string& path, const std::string& request, int rounds) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  std::vector<double> samples;
  char buffer[64];
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
      throw std::runtime_error("bare write failed");
    }
    for (size_t got = 0; got < kAnswer.size();) {
      pollfd entry{fd, POLLIN, 0};
      if (poll(&entry, 1, kAnswerTimeoutMs) <= 0) throw std::runtime_error("no bare answer");
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) throw std::runtime_error("bare read failed");
      got += static_cast<size_t>(n);
    }
    samples.push_back(MicrosecondsSince(start));
  }
  close(fd);
  return Summarise(samples);
}

void Measure(TEchoDevice& device, const std::string& path, size_t requestSize, int rounds) {
  const std::string request(requestSize, '\x5A');
  device.SetRequestSize(requestSize);
  ComponentRoundTrips(path, request, rounds / 10, TWaiter::EventThread);  // warm-up
  const TFigures threaded = ComponentRoundTrips(path, request, rounds, TWaiter::EventThread);
  const TFigures looped = ComponentRoundTrips(path, request, rounds, TWaiter::MainLoop);
  const TFigures bare = BareRoundTrips(path, request, rounds);
  std::printf(
      "%5zu-byte request, %d rounds: component median %7.1f us (mean %7.1f) with its event "
      "thread, %7.1f us (mean %7.1f) in the main loop; bare median %7.1f us (mean %7.1f); "
      "ratios %.2f, %.2f\n",
      requestSize, rounds, threaded.MedianUs, threaded.MeanUs, looped.MedianUs, looped.MeanUs,
      bare.MedianUs, bare.MeanUs, threaded.MedianUs / bare.MedianUs,
      looped.MedianUs / bare.MedianUs);
}

}  // namespace

int main() {
  platform::SetMainThread();
  int master = -1;
  int slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::fprintf(stderr, "openpty failed\n");
    return 1;
  }
  try {
    TEchoDevice device(master);
    Measure(device, name, 1, 5000);
    Measure(device, name, 2048, 1000);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  close(slave);
  close(master);
  return 0;
}
