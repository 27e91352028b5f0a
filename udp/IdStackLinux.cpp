#include "udp/IdStackLinux.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "udp/IdException.h"
#include "udp/IdResourceStrings.h"

namespace {

struct TErrnoCode {
  int Errno;
  int Code;
};

constexpr TErrnoCode kErrnoCodes[] = {
    {EINTR, 10004},           {EBADF, 10009},           {EACCES, 10013},
    {EPERM, 10013},  // a send the packet filter refuses: access denied too
    {EFAULT, 10014},          {EINVAL, 10022},          {EMFILE, 10024},
    {ENFILE, 10024},          {EWOULDBLOCK, 10035},     {EINPROGRESS, 10036},
    {EALREADY, 10037},        {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},        {ENETUNREACH, 10051},
    {ENETRESET, 10052},       {ECONNABORTED, 10053},    {ECONNRESET, 10054},
    {ENOBUFS, 10055},         {ENOMEM, 10055},  // the kernel out of socket memory: no buffer space
    {EISCONN, 10056},         {ENOTCONN, 10057},        {ESHUTDOWN, 10058},
    {ETOOMANYREFS, 10059},    {ETIMEDOUT, 10060},       {ECONNREFUSED, 10061},
    {ELOOP, 10062},           {ENAMETOOLONG, 10063},    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},
};

// Host lookup failures: the resolver's answers mapped onto the lookup codes
// (host not found, try again, no recovery, no data).
int SocketErrorFromLookup(int result) {
  switch (result) {
    case EAI_NONAME:
      return Id_WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return 11002;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      return 11004;
    case EAI_MEMORY:
      return 10055;
    case EAI_SYSTEM:
      return SocketErrorFromErrno(errno);
    default:
      return 11003;
  }
}

// Ports live in int fields; one outside 0..65535 would be cut short by the
// conversion to network order and silently name another port.
bool IsPort(int port) {
  return port >= 0 && port <= 0xFFFF;
}

sockaddr_in AddressOf(const common::TIPv4Bytes& ip, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  std::memcpy(&address.sin_addr, ip.data(), ip.size());
  return address;
}

std::string TextOf(const in_addr& address) {
  common::TIPv4Bytes bytes;
  std::memcpy(bytes.data(), &address, bytes.size());
  return common::FormatIPv4(bytes);
}

// The layer's names onto this platform's values; -1 for a name it does not
// know, which fails the call as the platform fails an unknown value.
int FamilyOf(int family) {
  return family == Id_AF_INET ? AF_INET : -1;
}

int SocketTypeOf(int type) {
  return type == Id_SOCK_DGRAM ? SOCK_DGRAM : -1;
}

int SocketOptionOf(int level, int option) {
  if (level != Id_SOL_SOCKET) return -1;
  switch (option) {
    case Id_SO_BROADCAST:
      return SO_BROADCAST;
    case Id_SO_REUSEADDR:
      return SO_REUSEADDR;
    default:
      return -1;
  }
}

int ShutdownDirectionOf(int direction) {
  switch (direction) {
    case Id_SD_RECEIVE:
      return SHUT_RD;
    case Id_SD_SEND:
      return SHUT_WR;
    case Id_SD_BOTH:
      return SHUT_RDWR;
    default:
      return -1;
  }
}

int InvalidArgument() {
  errno = EINVAL;
  return Id_SOCKET_ERROR;
}

// Room for three full lists and the wake handle: nothing is allocated per wait.
constexpr int kMaxPolled = 3 * Id_SOCKET_SET_SIZE + 1;

struct TPollSet {
  pollfd Entries[kMaxPolled];
  int Count = 0;

  void Add(TIdStackSocketHandle handle, short events) {
    Entries[Count].fd = handle;
    Entries[Count].events = events;
    Entries[Count].revents = 0;
    ++Count;
  }
};

void CheckSetSize(const TIdSocketList* list) {
  if (list && list->size() > static_cast<size_t>(Id_SOCKET_SET_SIZE)) {
    throw EIdStackSetSizeExceeded();
  }
}

void AddList(TPollSet& set, const TIdSocketList* list, short events) {
  if (!list) return;
  for (const TIdStackSocketHandle handle : *list)
    set.Add(handle, events);
}

// Keeps in list the handles whose entries (from first on) report one of
// ready; returns the entry after the list's own.
int KeepReady(TIdSocketList* list, const TPollSet& set, int first, short ready, bool waitFailed) {
  if (!list) return first;
  const int end = first + static_cast<int>(list->size());
  list->clear();
  if (waitFailed) return end;
  for (int i = first; i < end; ++i) {
    if (set.Entries[i].revents & ready) list->push_back(set.Entries[i].fd);
  }
  return end;
}

}  // namespace

int SocketErrorFromErrno(int errnum) {
  for (const TErrnoCode& entry : kErrnoCodes) {
    if (entry.Errno == errnum) return entry.Code;
  }
  return errnum;
}

std::unique_ptr<TIdStack> NewStack() {
  return std::make_unique<TIdStackLinux>();
}

int TIdStackLinux::BindSocket(TIdStackSocketHandle socket, int family, const std::string& ip,
                              int port) {
  if (!IsPort(port) || FamilyOf(family) != AF_INET) return InvalidArgument();
  const sockaddr_in address = AddressOf(ip.empty() ? common::TIPv4Bytes{} : AddressBytes(ip), port);
  return ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
}

int TIdStackLinux::CloseSocketHandle(TIdStackSocketHandle socket) {
  return ::close(socket);
}

std::string TIdStackLinux::LookupHost(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int result = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (result != 0) RaiseFailureCode(SocketErrorFromLookup(result));
  const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const std::string ip = TextOf(address->sin_addr);
  ::freeaddrinfo(found);
  return ip;
}

int TIdStackLinux::ReceiveDatagram(TIdStackSocketHandle socket, void* buffer, int length,
                                   std::string& senderIp, int& senderPort) {
  sockaddr_in sender{};
  socklen_t senderLength = sizeof(sender);
  // Never block: a socket reported readable can hold nothing by the time it
  // is read (this platform drops a datagram with a bad checksum only here),
  // and a blocked receive would hold the listener, and a deactivation waiting
  // for it, until the next datagram. MSG_TRUNC yields the datagram's real
  // length, so one longer than the buffer fails as "message too long", as the
  // endpoint expects, instead of arriving cut short.
  const ssize_t received =
      ::recvfrom(socket, buffer, static_cast<size_t>(length), MSG_TRUNC | MSG_DONTWAIT,
                 reinterpret_cast<sockaddr*>(&sender), &senderLength);
  if (received < 0) return Id_SOCKET_ERROR;
  if (received > length) {
    errno = EMSGSIZE;
    return Id_SOCKET_ERROR;
  }
  senderIp = TextOf(sender.sin_addr);
  senderPort = ntohs(sender.sin_port);
  return static_cast<int>(received);
}

int TIdStackLinux::WaitReadable(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                                int timeoutMs, TIdWakeHandle wake) {
  CheckSetSize(read);
  CheckSetSize(write);
  CheckSetSize(error);
  TPollSet set;
  AddList(set, read, POLLIN);
  AddList(set, write, POLLOUT);
  AddList(set, error, POLLPRI);
  if (wake != Id_NO_WAKE_HANDLE) set.Add(wake, POLLIN);

  timespec timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
  int result = ::ppoll(set.Entries, static_cast<nfds_t>(set.Count),
                       timeoutMs == Id_WAIT_FOREVER ? nullptr : &timeout, nullptr);
  // The socket set wait this mirrors fails as a whole on a handle that is not
  // open, instead of flagging that one handle.
  bool failed = result < 0;
  for (int i = 0; i < set.Count && !failed; ++i) {
    if (set.Entries[i].revents & POLLNVAL) {
      errno = EBADF;
      result = Id_SOCKET_ERROR;
      failed = true;
    }
  }
  // A socket with a pending error is readable too: the receive reports it.
  int next = KeepReady(read, set, 0, POLLIN | POLLERR | POLLHUP, failed);
  next = KeepReady(write, set, next, POLLOUT | POLLERR | POLLHUP, failed);
  KeepReady(error, set, next, POLLPRI, failed);
  return result;
}

int TIdStackLinux::SendDatagram(TIdStackSocketHandle socket, const void* buffer, int length,
                                const std::string& ip, int port) {
  if (!IsPort(port) || length < 0) return InvalidArgument();
  const sockaddr_in address = AddressOf(AddressBytes(ip), port);
  const ssize_t sent = ::sendto(socket, buffer, static_cast<size_t>(length), 0,
                                reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  return sent < 0 ? Id_SOCKET_ERROR : static_cast<int>(sent);
}

int TIdStackLinux::SetSocketOption(TIdStackSocketHandle socket, int level, int option,
                                   const void* value, int length) {
  const int platformOption = SocketOptionOf(level, option);
  if (platformOption < 0) {
    errno = ENOPROTOOPT;
    return Id_SOCKET_ERROR;
  }
  return ::setsockopt(socket, SOL_SOCKET, platformOption, value, static_cast<socklen_t>(length));
}

TIdStackSocketHandle TIdStackLinux::NewSocket(int family, int type, int protocol) {
  const int platformFamily = FamilyOf(family);
  const int platformType = SocketTypeOf(type);
  if (platformFamily < 0 || platformType < 0) {
    errno = EINVAL;
    return Id_INVALID_SOCKET;
  }
  // Not inherited by the external tool the window starts.
  return ::socket(platformFamily, platformType | SOCK_CLOEXEC, protocol);
}

int TIdStackLinux::ShutdownSocket(TIdStackSocketHandle socket, int direction) {
  const int platformDirection = ShutdownDirectionOf(direction);
  if (platformDirection < 0) return InvalidArgument();
  return ::shutdown(socket, platformDirection);
}

int TIdStackLinux::LastSocketError() {
  return SocketErrorFromErrno(errno);
}

void TIdStackLinux::LocalAddressOf(TIdStackSocketHandle socket, int& family, std::string& ip,
                                   int& port) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  CheckSocketResult(::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length));
  // The layer has no name for any other family, nor a text for its address.
  if (address.sin_family != AF_INET) RaiseFailureCode(SocketErrorFromErrno(EAFNOSUPPORT));
  family = Id_AF_INET;
  ip = TextOf(address.sin_addr);
  port = ntohs(address.sin_port);
}

TIdWakeHandle TIdStackLinux::NewWakeHandle() {
  const int handle = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  CheckSocketResult(handle);
  return handle;
}

void TIdStackLinux::SignalWakeHandle(TIdWakeHandle wake) {
  const uint64_t one = 1;
  // Only fails when the counter is full, and a full counter wakes as well.
  [[maybe_unused]] const ssize_t written = ::write(wake, &one, sizeof(one));
}

void TIdStackLinux::CloseWakeHandle(TIdWakeHandle wake) {
  ::close(wake);
}

std::string TIdStackLinux::SocketErrorText(int code) {
  if (code == Id_WSAHOST_NOT_FOUND) return FormatSocketError(code, RSStackHOST_NOT_FOUND);
  return TIdStack::SocketErrorText(code);
}
