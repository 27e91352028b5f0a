#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

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

TEST(IdStackAddressText, IPv4TextNeedsFourFieldsOfZeroTo255) {
  for (const char* text : {"1.2.3.4", "0.0.0.0", "255.255.255.255", "192.168.000.254"}) {
    EXPECT_TRUE(TIdStack::IsIPv4Text(text)) << text;
  }
  for (const char* text :
       {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.-1", "a.b.c.d", "", "1..2.3", "1.2.3.4 "}) {
    EXPECT_FALSE(TIdStack::IsIPv4Text(text)) << text;
  }
}

TEST(IdStackAddressText, ParseAndFormat) {
  EXPECT_EQ(TIdStack::FormatIPv4({10, 0, 0, 7}), "10.0.0.7");
  EXPECT_EQ(TIdStack::FormatIPv4({0, 0, 0, 0}), "0.0.0.0");
  EXPECT_EQ(TIdStack::ParseIPv4("192.168.000.254"), (TIdIPv4Bytes{192, 168, 0, 254}));
  EXPECT_THROW(TIdStack::ParseIPv4("1.2.3"), std::invalid_argument);
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
  const int closed = stack.CreateSocket(SOCK_DGRAM, 0);
  stack.CloseSocketHandle(closed);
  TIdSocketList read{closed};
  EXPECT_EQ(stack.WaitReadable(&read, nullptr, nullptr, 0), -1);
  EXPECT_EQ(stack.LastSocketError(), 10009);
  EXPECT_TRUE(read.empty());
}

TEST(IdStackLifetime, SharedStackLivesWhileAnyComponentDoes) {
  ASSERT_EQ(StackUserCount(), 0);
  ASSERT_EQ(SharedStack, nullptr);
  {
    TIdComponent first;
    TIdStack* stack = SharedStack;
    ASSERT_NE(stack, nullptr);
    {
      TIdComponent second;
      EXPECT_EQ(StackUserCount(), 2);
      EXPECT_EQ(SharedStack, stack);
    }
    EXPECT_EQ(StackUserCount(), 1);
    EXPECT_EQ(SharedStack, stack);
  }
  EXPECT_EQ(StackUserCount(), 0);
  EXPECT_EQ(SharedStack, nullptr);
  TIdComponent again;
  EXPECT_NE(SharedStack, nullptr);
}

}  // namespace
