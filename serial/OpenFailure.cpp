#include "serial/OpenFailure.h"

#include <cerrno>
#include <cstring>

std::string OpenFailureCause(int systemError) {
  switch (systemError) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "нет такого порта";
    case EACCES:
    case EPERM:
      return "нет прав доступа к порту";
    case EBUSY:
    case EWOULDBLOCK:
      return "порт занят другой программой";
    default:
      return SystemErrorCause(systemError);
  }
}

std::string SystemErrorCause(int systemError) {
  return "системная ошибка " + std::to_string(systemError) + " (" + std::strerror(systemError) +
         ")";
}
