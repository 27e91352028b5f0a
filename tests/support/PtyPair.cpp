#include "tests/support/PtyPair.h"

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <stdexcept>

TPtyPair::TPtyPair() {
  char name[256] = {};
  if (openpty(&Master, &Slave, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  Path = name;
}

TPtyPair::~TPtyPair() {
  if (Master >= 0) close(Master);
  if (Slave >= 0) close(Slave);
}

void TPtyPair::Write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(Master, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("write to the pseudo-terminal master failed");
    done += static_cast<size_t>(n);
  }
}

std::string TPtyPair::Read(size_t count, std::chrono::milliseconds limit) {
  std::string data;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (data.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{Master, POLLIN, 0};
    if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[4096];
    const ssize_t n = read(Master, buffer, std::min(sizeof buffer, count - data.size()));
    if (n <= 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  return data;
}

void TPtyPair::HangUp() {
  close(Master);
  Master = -1;
}
