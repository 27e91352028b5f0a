#pragma once

#include <stdexcept>
#include <string>

// Every failure of the socket layer and the UDP endpoint is one of these
// exceptions; nothing is logged or shown by the layer itself. Classes whose
// text never varies carry it from their default constructor.

class EIdException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A checked socket call failed, or a host lookup found nothing.
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(int code, const std::string& message)
      : EIdException(message), SocketErrorCode(code) {}
  int SocketErrorCode;
};

class EIdInvalidSocket : public EIdException {
 public:
  EIdInvalidSocket();
};

class EIdStackError : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdStackInitializationFailed : public EIdStackError {
 public:
  EIdStackInitializationFailed();
};

class EIdStackSetSizeExceeded : public EIdStackError {
 public:
  EIdStackSetSizeExceeded();
};

class EIdSocketHandleError : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdPackageSizeTooBig : public EIdSocketHandleError {
 public:
  EIdPackageSizeTooBig();
};

class EIdNotAllBytesSent : public EIdSocketHandleError {
 public:
  EIdNotAllBytesSent();
};

class EIdCouldNotBindSocket : public EIdSocketHandleError {
 public:
  EIdCouldNotBindSocket();
};

class EIdCanNotBindPortInRange : public EIdSocketHandleError {
 public:
  EIdCanNotBindPortInRange(int portMin, int portMax);
};

class EIdInvalidPortRange : public EIdSocketHandleError {
 public:
  EIdInvalidPortRange(int portMin, int portMax);
};

class EIdThreadException : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdThreadTerminateAndWaitFor : public EIdThreadException {
 public:
  EIdThreadTerminateAndWaitFor();
};
