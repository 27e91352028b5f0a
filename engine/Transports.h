#pragma once

#include <string>

// What the device link needs of each transport. Adapters bind these to the
// serial port component and to the UDP endpoint; tests bind them to a device
// model. Received data flows the other way: the transport's receive event
// calls TSession::BComRxChar or TSession::IdUDPServer1UDPRead on the main
// thread.

// Why opening a serial port failed: the system's error number (0 when none
// is known) and the cause in the operator's words, without the port's name.
struct TOpenFailure {
  int SystemError = 0;
  std::string Cause;
};

class ISerialTransport {
 public:
  virtual ~ISerialTransport() = default;

  // Applies the five panel texts to the port and opens it (open true) or
  // closes it; tells the operator itself when that fails.
  virtual bool OpenClosePort(bool open, const std::string& port, const std::string& baud,
                             const std::string& dataBits, const std::string& parity,
                             const std::string& stopBits) = 0;
  // After OpenClosePort(true, ...) returned false: why.
  virtual TOpenFailure LastOpenFailure() const = 0;
  // One-line summary: port/baud/data bits/parity/stop bits.
  virtual std::string PortSettingsText() = 0;
  virtual bool IsOpen() = 0;
  // Number of bytes written; throws (std::exception) when the write fails.
  virtual int SendBytes(const std::string& data) = 0;
  // At most count bytes, whatever is queued; may be fewer.
  virtual std::string ReceiveBytes(int count) = 0;
  virtual void Close() = 0;
  // Takes effect at once on an open port.
  virtual void SetBaudRate(int bitsPerSecond) = 0;
};

class IUdpTransport {
 public:
  virtual ~IUdpTransport() = default;

  virtual void SetDefaultPort(int port) = 0;
  virtual bool Active() = 0;
  // Activating binds the default port and starts listening; throws
  // (std::exception) on failure.
  virtual void SetActive(bool active) = 0;
  // One datagram; activates an inactive endpoint first. Throws on failure.
  virtual void SendString(const std::string& host, int port, const std::string& data) = 0;
};
