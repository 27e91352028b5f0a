// Processor time of `veq flash` while nothing happens: it waits for a board
// that never answers, over a pseudo-terminal whose far end stays silent and
// over a UDP port on 127.0.0.1 that nobody reads, until its connect time-out
// ends the run. Prints its CPU time as a share of the time it waited.
//
// usage: idle_cpu [VEQ [SECONDS]]   (VEQ: the veq program; default the one
// built; SECONDS: the connect time-out, default 20). Asserts nothing.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/FirmwareImage.h"

namespace {

using Clock = std::chrono::steady_clock;

// A UDP port on 127.0.0.1 that is bound, so that nothing bounces, and never
// read.
class TSilentUdpPort {
 public:
  TSilentUdpPort() : Fd(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (Fd < 0 || bind(Fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(Fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot bind a loopback socket");
    }
    Port = ntohs(address.sin_port);
  }
  ~TSilentUdpPort() { close(Fd); }
  TSilentUdpPort(const TSilentUdpPort&) = delete;
  TSilentUdpPort& operator=(const TSilentUdpPort&) = delete;

  int Port = 0;

 private:
  int Fd;
};

struct TIdleFigures {
  double WallSeconds = 0;
  double CpuSeconds = 0;
};

TIdleFigures WaitForNoBoard(const std::vector<std::string>& argv) {
  const auto start = Clock::now();
  const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = bench::Spawn(argv, quiet, "/dev/null");
  close(quiet);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  TIdleFigures figures;
  figures.WallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  figures.CpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                       usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  return figures;
}

void Print(const char* link, const TIdleFigures& figures) {
  std::printf("%-28s waited %5.1f s, CPU %6.3f s: %5.2f %% of one core\n", link,
              figures.WallSeconds, figures.CpuSeconds,
              100.0 * figures.CpuSeconds / figures.WallSeconds);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string veq = argc > 1 ? argv[1] : VEQ_EXECUTABLE;
  const std::string seconds = argc > 2 ? argv[2] : "20";
  try {
    const std::string dir = bench::MakeTempDir("idle");
    const std::string imagePath = dir + "/image.vqf";
    std::ofstream(imagePath, std::ios::binary)
        << MakeSection("VEQKUFX01106", 256, bench::PseudoRandomData(4096), kBoardKindKufx) +
               MakeSection("VEQENDF01106", 0, "", kBoardKindKufx);
    const std::vector<std::string> common = {veq,       "flash",         imagePath,
                                             "--yes",   "--local-port",  "0",
                                             "--records", dir + "/records.sqlite",
                                             "--connect-timeout", seconds};

    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
    std::vector<std::string> serial = common;
    serial.insert(serial.end(), {"--port", name});
    Print("pty, nothing answering", WaitForNoBoard(serial));
    close(slave);
    close(master);

    TSilentUdpPort silent;
    std::vector<std::string> udp = common;
    udp.insert(udp.end(), {"--udp", "127.0.0.1", "--udp-port", std::to_string(silent.Port)});
    Print("UDP, nothing answering", WaitForNoBoard(udp));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "idle_cpu: %s\n", e.what());
    return 1;
  }
  return 0;
}
