#include "bench/BareProgrammer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "engine/FirmwareImage.h"

namespace bench {
namespace {

constexpr int kAnswerTimeoutMs = 5000;

// The bare programmer's end of the link.
class TBareLink {
 public:
  explicit TBareLink(const std::string& where) {
    if (where.starts_with("/")) {
      Fd = open(where.c_str(), O_RDWR | O_NOCTTY);
      termios raw{};
      tcgetattr(Fd, &raw);
      cfmakeraw(&raw);
      tcsetattr(Fd, TCSANOW, &raw);
    } else {
      Fd = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in board{};
      board.sin_family = AF_INET;
      board.sin_port = htons(static_cast<uint16_t>(std::stoi(where.substr(where.rfind(':') + 1))));
      inet_pton(AF_INET, "127.0.0.1", &board.sin_addr);
      connect(Fd, reinterpret_cast<sockaddr*>(&board), sizeof board);
    }
    if (Fd < 0) throw std::runtime_error("cannot open " + where);
  }
  ~TBareLink() { close(Fd); }

  void Send(const std::string& bytes) {
    if (write(Fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("bare send failed");
    }
  }
  // Reads until the word has come; the bytes before and with it are used up.
  void Expect(const std::string& word) {
    for (;;) {
      const size_t at = Pending.find(word);
      if (at != std::string::npos) {
        Pending.erase(0, at + word.size());
        return;
      }
      pollfd in{Fd, POLLIN, 0};
      if (poll(&in, 1, kAnswerTimeoutMs) != 1) throw std::runtime_error("no " + word);
      char chunk[4096];
      const ssize_t n = read(Fd, chunk, sizeof chunk);
      if (n > 0) Pending.append(chunk, static_cast<size_t>(n));
    }
  }

 private:
  int Fd = -1;
  std::string Pending;
};

}  // namespace

void BareWriteImage(const std::string& where, const std::string& image, size_t blockSize) {
  // The end marker is a section header with no data.
  const size_t dataEnd = image.size() - kSectionHeaderSize;
  TBareLink link(where);
  link.Send("S");
  link.Expect("VEQKUFX01105");
  link.Send("PROG");
  link.Expect("READY");
  link.Send(image.substr(0, kSectionHeaderSize));
  link.Expect("GET");
  for (size_t at = kSectionHeaderSize; at < dataEnd; at += blockSize) {
    const size_t size = std::min(blockSize, dataEnd - at);
    link.Send(image.substr(at, size));
    link.Expect(at + size < dataEnd ? "GET" : "READY");
  }
  link.Send(image.substr(dataEnd));
  link.Expect("APP");
  link.Send("VEQENDF");
}

}  // namespace bench
