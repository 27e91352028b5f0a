#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "serial/LineDriver.h"

// The real end of a simulated board's wire: a pseudo-terminal, a serial
// device or a UDP socket, read through one descriptor that can be polled.
class ISimLink {
 public:
  virtual ~ISimLink() = default;

  // The descriptor to poll for input.
  virtual int Fd() const = 0;
  // One delivery: what one read returned, or one datagram; empty when
  // nothing was waiting after all.
  virtual std::string Read() = 0;
  // Sends bytes to the programmer; throws std::runtime_error when they
  // cannot go.
  virtual void Write(const std::string& bytes) = 0;
  // What the programmer is given to reach the board: the port text of a
  // serial link, "IP:PORT" of a UDP one.
  virtual std::string Where() const = 0;
};

// A new pseudo-terminal; the programmer opens its other side by path. All
// three throw std::runtime_error (std::system_error for a failed system call)
// with the reason when the link cannot be made.
std::unique_ptr<ISimLink> OpenPtyLink();
std::unique_ptr<ISimLink> OpenSerialLink(const std::string& device,
                                         const line_driver::TLineSetting& line);
// Bound to ip:port (port 0: any free one, which Where() then names). It
// answers whoever sent the last datagram.
std::unique_ptr<ISimLink> OpenUdpLink(const std::string& ip, uint16_t port);
