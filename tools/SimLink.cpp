#include "tools/SimLink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace {

constexpr size_t kReadChunk = 65536;
// A programmer that stops reading for this long has gone away.
constexpr int kWriteWaitMs = 1000;

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

class TFd {
 public:
  explicit TFd(int fd = -1) : Fd_(fd) {}
  ~TFd() {
    if (Fd_ >= 0) close(Fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return Fd_; }
  // Hands the descriptor on; this object no longer closes it.
  int Release() { return std::exchange(Fd_, -1); }

 private:
  int Fd_;
};

// Writes all bytes to a non-blocking descriptor, waiting while it is full.
void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) throw SystemError("write");
    pollfd out{fd, POLLOUT, 0};
    if (poll(&out, 1, kWriteWaitMs) == 0) throw std::runtime_error("write: the peer reads nothing");
  }
}

std::string ReadSome(int fd) {
  std::string bytes(kReadChunk, '\0');
  const ssize_t n = read(fd, bytes.data(), bytes.size());
  if (n < 0 && (errno == EAGAIN || errno == EINTR || errno == EIO)) return {};
  if (n < 0) throw SystemError("read");
  bytes.resize(static_cast<size_t>(n));
  return bytes;
}

class TTtyLink : public ISimLink {
 public:
  TTtyLink(int fd, int keepOpen, std::string where)
      : Fd_(fd), KeepOpen(keepOpen), Where_(std::move(where)) {}
  int Fd() const override { return Fd_.Get(); }
  std::string Read() override { return ReadSome(Fd_.Get()); }
  void Write(const std::string& bytes) override { WriteAll(Fd_.Get(), bytes); }
  std::string Where() const override { return Where_; }

 private:
  TFd Fd_;
  // The pseudo-terminal's other side, held open so that the master neither
  // reports a hang-up nor fails reads while no programmer has it open.
  TFd KeepOpen;
  std::string Where_;
};

class TUdpLink : public ISimLink {
 public:
  TUdpLink(int fd, std::string where) : Fd_(fd), Where_(std::move(where)) {}
  int Fd() const override { return Fd_.Get(); }
  std::string Where() const override { return Where_; }

  std::string Read() override {
    std::string bytes(kReadChunk, '\0');
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const ssize_t n = recvfrom(Fd_.Get(), bytes.data(), bytes.size(), 0,
                               reinterpret_cast<sockaddr*>(&from), &size);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return {};
    if (n < 0) throw SystemError("recvfrom");
    Peer = from;
    HavePeer = true;
    bytes.resize(static_cast<size_t>(n));
    return bytes;
  }

  void Write(const std::string& bytes) override {
    if (!HavePeer) throw std::runtime_error("no programmer has sent anything yet");
    const ssize_t n = sendto(Fd_.Get(), bytes.data(), bytes.size(), 0,
                             reinterpret_cast<const sockaddr*>(&Peer), sizeof Peer);
    if (n < 0) throw SystemError("sendto");
  }

 private:
  TFd Fd_;
  std::string Where_;
  sockaddr_in Peer{};
  bool HavePeer = false;
};

void MakeRaw(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return;
  cfmakeraw(&settings);
  tcsetattr(fd, TCSANOW, &settings);
}

}  // namespace

std::unique_ptr<ISimLink> OpenPtyLink() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) throw SystemError("posix_openpt");
  TFd guard(master);
  char name[128];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    throw SystemError("pseudo-terminal");
  }
  const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) throw SystemError(std::string("open ") + name);
  // No echo or line editing before the programmer sets its own line.
  MakeRaw(slave);
  MakeRaw(master);
  return std::make_unique<TTtyLink>(guard.Release(), slave, name);
}

std::unique_ptr<ISimLink> OpenSerialLink(const std::string& device,
                                         const line_driver::TLineSetting& line) {
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw SystemError("open " + device);
  TFd guard(fd);
  if (const int error = line_driver::SetLine(fd, line); error != 0) {
    errno = error;
    throw SystemError("line settings of " + device);
  }
  return std::make_unique<TTtyLink>(guard.Release(), -1, device);
}

std::unique_ptr<ISimLink> OpenUdpLink(const std::string& ip, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
    throw std::runtime_error("'" + ip + "' is not an IPv4 address");
  }
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw SystemError("socket");
  TFd guard(fd);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw SystemError("bind " + ip + ":" + std::to_string(port));
  }
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  const std::string where = ip + ":" + std::to_string(ntohs(address.sin_port));
  return std::make_unique<TUdpLink>(guard.Release(), where);
}
