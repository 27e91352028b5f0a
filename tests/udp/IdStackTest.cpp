#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/LoopbackPeer.h"
#include "udp/IdComponent.h"
#include "udp/IdException.h"
#include "udp/IdStackLinux.h"

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsSince(Clock::time_point start) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Real host lookups may ask a name server; only inside the test network
// namespace is it certain that nothing leaves the machine.
bool InsideTestNetwork() {
  const char* flag = std::getenv("VEQ_NETNS");
  return flag && std::string(flag) == "1";
}

// A stack that answers host lookups itself and counts them.
class TCountingStack : public TIdStackLinux {
 public:
  std::string LookupHost(const std::string& host) override {
    ++Lookups;
    return "looked-up:" + host;
  }
  int Lookups = 0;
};

TEST(IdStackErrorText, FormatsCodeAndTableText) {
  TIdStackLinux stack;
  EXPECT_EQ(stack.SocketErrorText(10048), "Socket Error # 10048\r\nAddress already in use.");
  EXPECT_EQ(stack.SocketErrorText(11001), "Socket Error # 11001\r\nHost not found.");
  EXPECT_EQ(stack.SocketErrorText(12345), "Socket Error # 12345\r\n");
  // Gaps inside the table's range have no text either.
  EXPECT_EQ(stack.SocketErrorText(10005), "Socket Error # 10005\r\n");
  EXPECT_EQ(stack.SocketErrorText(10035), "Socket Error # 10035\r\nOperation would block. ");
  EXPECT_EQ(stack.SocketErrorText(10066), "Socket Error # 10066\r\nDirectory not empty");
}

TEST(IdStackErrorText, PlatformErrorsMapOntoSocketErrorCodes) {
  const std::pair<int, int> expected[] = {
      {EINTR, 10004},           {EBADF, 10009},        {EACCES, 10013},
      {EFAULT, 10014},          {EINVAL, 10022},       {EMFILE, 10024},
      {EWOULDBLOCK, 10035},     {EINPROGRESS, 10036},  {EALREADY, 10037},
      {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
      {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
      {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
      {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
      {ENETDOWN, 10050},        {ENETUNREACH, 10051},  {ENETRESET, 10052},
      {ECONNABORTED, 10053},    {ECONNRESET, 10054},   {ENOBUFS, 10055},
      {EISCONN, 10056},         {ENOTCONN, 10057},     {ESHUTDOWN, 10058},
      {ETOOMANYREFS, 10059},    {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},
      {ELOOP, 10062},           {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064},
      {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},    {EPERM, 10013},
      {ENFILE, 10024},          {ENOMEM, 10055},
  };
  TIdStackLinux stack;
  for (const auto& [errnum, code] : expected) {
    errno = errnum;
    EXPECT_EQ(stack.LastSocketError(), code) << "errno " << errnum;
  }
  // No counterpart: the number itself, so the message still names it.
  errno = EIO;
  EXPECT_EQ(stack.LastSocketError(), EIO);
}

TEST(IdStackCheckSocketResult, SuccessReadsNoError) {
  TIdStackLinux stack;
  errno = EBADF;
  EXPECT_FALSE(stack.CheckSocketResult(0));
  EXPECT_EQ(stack.LastErrorCode(), 0);
}

TEST(IdStackCheckSocketResult, ToleratedCodeReturnsTrueOthersRaise) {
  TIdStackLinux stack;
  errno = EADDRINUSE;
  EXPECT_TRUE(stack.CheckSocketResult(-1, {10048}));
  EXPECT_EQ(stack.LastErrorCode(), 10048);

  errno = EBADF;
  try {
    stack.CheckSocketResult(-1, {10048});
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode, 10009);
    EXPECT_STREQ(e.what(), "Socket Error # 10009\r\nBad file number.");
  }
  EXPECT_EQ(stack.LastErrorCode(), 10009);
}

TEST(IdStackCreateSocket, RefusedSocketRaisesInvalidSocket) {
  TIdStackLinux stack;
  try {
    stack.CreateSocket(/*type=*/12345, 0);
    FAIL() << "no exception";
  } catch (const EIdInvalidSocket& e) {
    EXPECT_STREQ(e.what(), "Cannot allocate socket.");
  }
}

TEST(IdStackResolveAddress, LocalhostAndAddressTextsNeedNoLookup) {
  TCountingStack stack;
  EXPECT_EQ(stack.ResolveAddress("localhost"), "127.0.0.1");
  EXPECT_EQ(stack.ResolveAddress("LocalHost"), "127.0.0.1");
  EXPECT_EQ(stack.ResolveAddress("LOCALHOST"), "127.0.0.1");
  EXPECT_EQ(stack.ResolveAddress("192.168.0.254"), "192.168.0.254");
  EXPECT_EQ(stack.ResolveAddress("192.168.000.254"), "192.168.000.254");
  EXPECT_EQ(stack.Lookups, 0);
}

TEST(IdStackResolveAddress, AnythingElseIsLookedUp) {
  TCountingStack stack;
  for (const char* text : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.-1", "a.b.c.d"}) {
    EXPECT_EQ(stack.ResolveAddress(text), std::string("looked-up:") + text);
  }
  EXPECT_EQ(stack.Lookups, 5);
}

TEST(IdStackLookupHost, UnknownHostRaisesHostNotFound) {
  if (!InsideTestNetwork()) GTEST_SKIP() << "host lookups run only inside scripts/in-netns";
  TIdStackLinux stack;
  EXPECT_EQ(stack.LookupHost("localhost"), "127.0.0.1");
  try {
    stack.LookupHost("no..such.host");
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode, 11001);
    EXPECT_STREQ(e.what(), "Socket Error # 11001\r\nHost not found.");
  }
  EXPECT_EQ(stack.LastErrorCode(), 11001);
}

TEST(IdStackWaitReadable, MoreThan64HandlesRaiseBeforeWaiting) {
  TIdStackLinux stack;
  TLoopbackPeer peer;
  TIdSocketList full(64, peer.Handle());
  EXPECT_EQ(stack.WaitReadable(&full, nullptr, nullptr, 0), 0);

  TIdSocketList tooMany(65, peer.Handle());
  const auto start = Clock::now();
  try {
    stack.WaitReadable(&tooMany, nullptr, nullptr, 1500);
    FAIL() << "no exception";
  } catch (const EIdStackSetSizeExceeded& e) {
    EXPECT_STREQ(e.what(), "Set Size Exceeded.");
  }
  EXPECT_LT(MillisecondsSince(start), 500);
}

TEST(IdStackWaitReadable, ListsKeepOnlyReadyHandles) {
  TIdStackLinux stack;
  TLoopbackPeer idle, busy, sender;
  sender.SendTo(busy.Port(), "x");
  TIdSocketList read{idle.Handle(), busy.Handle()};
  EXPECT_EQ(stack.WaitReadable(&read, nullptr, nullptr, Id_WAIT_FOREVER), 1);
  EXPECT_EQ(read, TIdSocketList{busy.Handle()});
}

TEST(IdStackWaitReadable, TimeOutLeavesListsEmpty) {
  TIdStackLinux stack;
  TLoopbackPeer idle;
  TIdSocketList read{idle.Handle()};
  const auto start = Clock::now();
  EXPECT_EQ(stack.WaitReadable(&read, nullptr, nullptr, 30), 0);
  EXPECT_GE(MillisecondsSince(start), 25);
  EXPECT_TRUE(read.empty());
}

TEST(IdStackWaitReadable, SignalledWakeHandleEndsAnUnlimitedWait) {
  TIdStackLinux stack;
  TLoopbackPeer idle;
  const TIdWakeHandle wake = stack.NewWakeHandle();
  std::thread waker([&] { stack.SignalWakeHandle(wake); });
  TIdSocketList read{idle.Handle()};
  EXPECT_EQ(stack.WaitReadable(&read, nullptr, nullptr, Id_WAIT_FOREVER, wake), 1);
  EXPECT_TRUE(read.empty());
  waker.join();
  stack.CloseWakeHandle(wake);
}

TEST(IdStackWaitReadable, ClosedHandleFailsTheWait) {
  TIdStackLinux stack;
  const int closed = stack.CreateSocket(Id_SOCK_DGRAM, 0);
  stack.CloseSocketHandle(closed);
  TIdSocketList read{closed};
  EXPECT_EQ(stack.WaitReadable(&read, nullptr, nullptr, 0), -1);
  EXPECT_EQ(stack.LastSocketError(), 10009);
  EXPECT_TRUE(read.empty());
}

// The simulated board's side of a link: a socket of its own bound to an
// address, polled by its handle, answering whoever sent last.
TEST(IdStackDatagrams, BoundSocketReceivesWithSenderAndAnswersIt) {
  TIdStackLinux stack;
  const TIdStackSocketHandle socket = stack.CreateSocket(Id_SOCK_DGRAM, 0);
  ASSERT_FALSE(stack.CheckSocketResult(stack.BindSocket(socket, Id_AF_INET, "127.0.0.1", 0)));
  int family = 0;
  std::string ip;
  int port = 0;
  stack.LocalAddressOf(socket, family, ip, port);
  EXPECT_EQ(family, Id_AF_INET);
  EXPECT_EQ(ip, "127.0.0.1");
  ASSERT_NE(port, 0);

  char buffer[16];
  std::string senderIp;
  int senderPort = 0;
  EXPECT_EQ(stack.ReceiveDatagram(socket, buffer, sizeof(buffer), senderIp, senderPort), -1);
  EXPECT_EQ(stack.LastSocketError(), Id_WSAEWOULDBLOCK);

  TLoopbackPeer peer;
  peer.SendTo(port, "ping");
  pollfd entry{socket, POLLIN, 0};
  ASSERT_EQ(::poll(&entry, 1, 2000), 1);
  ASSERT_EQ(stack.ReceiveDatagram(socket, buffer, sizeof(buffer), senderIp, senderPort), 4);
  EXPECT_EQ(std::string(buffer, 4), "ping");
  EXPECT_EQ(senderIp, "127.0.0.1");
  EXPECT_EQ(senderPort, peer.Port());

  EXPECT_EQ(stack.SendDatagram(socket, "pong", 4, senderIp, senderPort), 4);
  const auto answer = peer.Receive();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Data, "pong");
  EXPECT_EQ(answer->Port, port);
  EXPECT_EQ(stack.CloseSocketHandle(socket), 0);
}

TEST(IdStackDatagrams, AddressThatIsNoIPv4TextThrowsInvalidArgument) {
  TIdStackLinux stack;
  const TIdStackSocketHandle socket = stack.CreateSocket(Id_SOCK_DGRAM, 0);
  for (const char* text : {"localhost", "1.2.3", "256.1.1.1", "1.2.3.4 "}) {
    EXPECT_THROW(stack.BindSocket(socket, Id_AF_INET, text, 0), std::invalid_argument) << text;
    EXPECT_THROW(stack.SendDatagram(socket, "x", 1, text, 9), std::invalid_argument) << text;
  }
  stack.CloseSocketHandle(socket);
}

// The layer's names reach the platform as the platform's own values.
TEST(IdStackNames, SocketOptionsMapOntoThePlatformsOptions) {
  const std::pair<int, int> options[] = {{Id_SO_BROADCAST, SO_BROADCAST},
                                         {Id_SO_REUSEADDR, SO_REUSEADDR}};
  TIdStackLinux stack;
  const TIdStackSocketHandle socket = stack.CreateSocket(Id_SOCK_DGRAM, 0);
  for (const auto& [option, platformOption] : options) {
    for (const int wanted : {1, 0}) {
      ASSERT_EQ(stack.SetSocketOption(socket, Id_SOL_SOCKET, option, &wanted, sizeof(wanted)), 0);
      int value = -1;
      socklen_t length = sizeof(value);
      ::getsockopt(socket, SOL_SOCKET, platformOption, &value, &length);
      EXPECT_EQ(value != 0, wanted != 0) << "option " << option;
    }
  }
  stack.CloseSocketHandle(socket);
}

TEST(IdStackNames, UnknownNamesFailTheCall) {
  TIdStackLinux stack;
  const TIdStackSocketHandle socket = stack.CreateSocket(Id_SOCK_DGRAM, 0);
  const int one = 1;
  const struct {
    const char* What;
    std::function<int()> Call;
    int Code;
  } cases[] = {
      {"socket family", [&] { return stack.NewSocket(12345, Id_SOCK_DGRAM, 0); }, Id_WSAEINVAL},
      {"socket type", [&] { return stack.NewSocket(Id_AF_INET, 12345, 0); }, Id_WSAEINVAL},
      {"bind family", [&] { return stack.BindSocket(socket, 12345, "", 0); }, Id_WSAEINVAL},
      {"option",
       [&] { return stack.SetSocketOption(socket, Id_SOL_SOCKET, 12345, &one, sizeof(one)); },
       Id_WSAENOPROTOOPT},
      {"option level",
       [&] { return stack.SetSocketOption(socket, 12345, Id_SO_BROADCAST, &one, sizeof(one)); },
       Id_WSAENOPROTOOPT},
      {"shutdown direction", [&] { return stack.ShutdownSocket(socket, 12345); }, Id_WSAEINVAL},
  };
  for (const auto& c : cases) {
    errno = 0;
    EXPECT_EQ(c.Call(), Id_SOCKET_ERROR) << c.What;
    EXPECT_EQ(stack.LastSocketError(), c.Code) << c.What;
  }
  stack.CloseSocketHandle(socket);
}

TEST(IdStackLifetime, SharedStackLivesWhileAnyComponentDoes) {
  ASSERT_EQ(StackUserCount(), 0);
  std::weak_ptr<TIdStack> seen;
  {
    TIdComponent first;
    TIdStack* stack = &first.Stack();
    seen = SharedStack();
    EXPECT_EQ(seen.lock().get(), stack);
    {
      TIdComponent second;
      EXPECT_EQ(StackUserCount(), 2);
      EXPECT_EQ(&second.Stack(), stack);
    }
    EXPECT_EQ(StackUserCount(), 1);
  }
  EXPECT_EQ(StackUserCount(), 0);
  EXPECT_TRUE(seen.expired());
  TIdComponent again;
  EXPECT_EQ(StackUserCount(), 1);
}

TEST(IdStackLifetime, ComponentsComeAndGoOnManyThreads) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([] {
      for (int round = 0; round < 200; ++round) {
        TIdComponent component;
        ASSERT_EQ(component.Stack().CheckSocketResult(0), false);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(StackUserCount(), 0);
}

}  // namespace
