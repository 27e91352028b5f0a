#include "udp/IdException.h"

#include "udp/IdGlobal.h"
#include "udp/IdResourceStrings.h"

EIdInvalidSocket::EIdInvalidSocket() : EIdException(RSCannotAllocateSocket) {}

EIdStackInitializationFailed::EIdStackInitializationFailed()
    : EIdStackError(RSWinsockInitializationError) {}

EIdStackSetSizeExceeded::EIdStackSetSizeExceeded() : EIdStackError(RSSetSizeExceeded) {}

EIdPackageSizeTooBig::EIdPackageSizeTooBig() : EIdSocketHandleError(RSPackageSizeTooBig) {}

EIdNotAllBytesSent::EIdNotAllBytesSent() : EIdSocketHandleError(RSNotAllBytesSent) {}

EIdCouldNotBindSocket::EIdCouldNotBindSocket() : EIdSocketHandleError(RSCouldNotBindSocket) {}

EIdCanNotBindPortInRange::EIdCanNotBindPortInRange(int portMin, int portMax)
    : EIdSocketHandleError(Format(RSCannotBindRange, portMin, portMax)) {}

EIdInvalidPortRange::EIdInvalidPortRange(int portMin, int portMax)
    : EIdSocketHandleError(Format(RSInvalidPortRange, portMin, portMax)) {}

EIdThreadTerminateAndWaitFor::EIdThreadTerminateAndWaitFor()
    : EIdThreadException(RSThreadTerminateAndWaitFor) {}
