#include "tools/SimLink.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "common/Ipv4Text.h"
#include "platform/Descriptor.h"
#include "platform/Terminal.h"
#include "udp/IdException.h"
#include "udp/IdStack.h"

namespace {

constexpr size_t kReadChunk = 65536;
// A programmer that stops reading for this long has gone away.
constexpr std::chrono::milliseconds kWriteWait{1000};

std::runtime_error SystemError(const std::string& what, int error = errno) {
  return std::runtime_error(what + ": " + std::strerror(error));
}

class TTtyLink : public ISimLink {
 public:
  TTtyLink(platform::TUniqueFd fd, platform::TUniqueFd keepOpen, std::string where)
      : Fd_(std::move(fd)), KeepOpen(std::move(keepOpen)), Where_(std::move(where)) {}
  int Fd() const override { return Fd_.Get(); }
  std::string Where() const override { return Where_; }

  std::string Read() override {
    int error = 0;
    std::optional<std::string> bytes = platform::ReadSome(Fd_.Get(), kReadChunk, error);
    // A pseudo-terminal answers EIO while no programmer has its other side open.
    if (!bytes && error == EIO) return {};
    if (!bytes) throw SystemError("read", error);
    return std::move(*bytes);
  }

  void Write(const std::string& bytes) override {
    const auto deadline = std::chrono::steady_clock::now() + kWriteWait;
    const platform::TWriteResult written = platform::WriteAll(Fd_.Get(), bytes, deadline);
    if (written.Error == ETIMEDOUT) throw std::runtime_error("write: the peer reads nothing");
    if (written.Error != 0) throw SystemError("write", written.Error);
  }

 private:
  platform::TUniqueFd Fd_;
  // The pseudo-terminal's other side, held open so that the main side
  // neither reports a hang-up nor fails reads while no programmer has it open.
  platform::TUniqueFd KeepOpen;
  std::string Where_;
};

// The socket layer's messages span two lines; a simulator log line holds one.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

class TUdpLink : public ISimLink {
 public:
  TUdpLink(std::unique_ptr<TIdStack> stack, TIdStackSocketHandle socket, std::string where)
      : Stack(std::move(stack)), Socket(socket), Where_(std::move(where)) {}
  ~TUdpLink() override { Stack->CloseSocketHandle(Socket); }
  TUdpLink(const TUdpLink&) = delete;
  TUdpLink& operator=(const TUdpLink&) = delete;

  int Fd() const override { return Socket; }
  std::string Where() const override { return Where_; }

  std::string Read() override {
    std::string bytes(kReadChunk, '\0');
    std::string ip;
    int port = 0;
    const int n = Stack->ReceiveDatagram(Socket, bytes.data(), static_cast<int>(bytes.size()), ip, port);
    if (n == Id_SOCKET_ERROR) {
      if (Stack->LastSocketError() == Id_WSAEWOULDBLOCK) return {};
      throw std::runtime_error("receive: " + OneLine(Stack->SocketErrorText(Stack->LastSocketError())));
    }
    PeerIp = ip;
    PeerPort = port;
    bytes.resize(static_cast<size_t>(n));
    return bytes;
  }

  void Write(const std::string& bytes) override {
    if (PeerIp.empty()) throw std::runtime_error("no programmer has sent anything yet");
    const int n = Stack->SendDatagram(Socket, bytes.data(), static_cast<int>(bytes.size()), PeerIp, PeerPort);
    if (n == Id_SOCKET_ERROR) {
      throw std::runtime_error("send: " + OneLine(Stack->SocketErrorText(Stack->LastSocketError())));
    }
  }

 private:
  std::unique_ptr<TIdStack> Stack;
  TIdStackSocketHandle Socket;
  std::string Where_;
  std::string PeerIp;  // of the last datagram; empty before the first
  int PeerPort = 0;
};

}  // namespace

std::unique_ptr<ISimLink> OpenPtyLink() {
  platform::TPseudoTerminal terminal = platform::OpenPseudoTerminal();
  return std::make_unique<TTtyLink>(std::move(terminal.Main), std::move(terminal.Other),
                                    terminal.Path);
}

std::unique_ptr<ISimLink> OpenSerialLink(const std::string& device,
                                         const line_driver::TLineSetting& line) {
  platform::TUniqueFd fd = platform::OpenTerminalDevice(device);
  if (const int error = line_driver::SetLine(fd.Get(), line); error != 0) {
    throw SystemError("line settings of " + device, error);
  }
  return std::make_unique<TTtyLink>(std::move(fd), platform::TUniqueFd(), device);
}

std::unique_ptr<ISimLink> OpenUdpLink(const std::string& ip, uint16_t port) {
  if (!common::ParseIPv4(ip)) throw std::runtime_error("'" + ip + "' is not an IPv4 address");
  std::unique_ptr<TIdStack> stack = NewStack();
  const TIdStackSocketHandle socket = stack->CreateSocket(Id_SOCK_DGRAM, 0);
  int family = 0;
  std::string boundIp;
  int boundPort = 0;
  try {
    stack->CheckSocketResult(stack->BindSocket(socket, Id_AF_INET, ip, port));
    stack->LocalAddressOf(socket, family, boundIp, boundPort);
  } catch (const EIdException& failure) {
    stack->CloseSocketHandle(socket);
    throw std::runtime_error("bind " + ip + ":" + std::to_string(port) + ": " + OneLine(failure.what()));
  }
  const std::string where = ip + ":" + std::to_string(boundPort);
  return std::make_unique<TUdpLink>(std::move(stack), socket, where);
}
