#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/ErrorReport.h"
#include "platform/MainLoop.h"
#include "platform/MainThread.h"
#include "serial/BCPort.h"
#include "tests/support/PtyPair.h"
#include "tests/support/WaitUntil.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Reception as the device link does it: every event reads what it announces.
class ComThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMainThread();
    while (platform::CheckSynchronize(0)) {
    }
    platform::SetWakeMainThreadHook([this] { ++HandOversQueued; });
    platform::SetErrorReportHook([this](const std::string& text) {
      std::lock_guard lock(ReportsLock);
      Reports.push_back(text);
    });
    Port.SetPort(Line.SlavePath());
  }
  void TearDown() override {
    Port.Close();
    platform::SetWakeMainThreadHook(nullptr);
    platform::SetErrorReportHook(nullptr);
  }

  void ReadWhatIsAnnounced() {
    Port.OnRxChar = [this](TBComPort* sender, int count) {
      EXPECT_EQ(sender, &Port);
      Counts.push_back(count);
      HandlerThreads.push_back(std::this_thread::get_id());
      std::string part;
      Port.ReceiveBytes(part, count);
      Received += part;
    };
  }

  // Waits, without serving, until the event thread has queued a hand-over.
  bool WaitForHandOverQueued(int already = 0) {
    return WaitUntil([&] { return HandOversQueued.load() > already; });
  }

  std::vector<std::string> ReportsCopy() {
    std::lock_guard lock(ReportsLock);
    return Reports;
  }

  TPtyPair Line;
  // Before the port, which may wait in it, and so gone after it.
  TMainLoop Loop;
  TBComPort Port;
  std::atomic<int> HandOversQueued{0};
  std::vector<int> Counts;
  std::vector<std::thread::id> HandlerThreads;
  std::string Received;
  std::mutex ReportsLock;
  std::vector<std::string> Reports;
};

// What holds whichever source reports the events: the event thread, or the
// watch in the main thread's loop.
class ComEventsTest : public ComThreadTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    ComThreadTest::SetUp();
    if (GetParam()) Port.SetEventLoop(&Loop);
  }
};

// All the process's threads, the loop's included.
double ProcessCpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

TEST_F(ComThreadTest, RxCharRunsOnTheMainThreadWithEverythingQueuedByThen) {
  ReadWhatIsAnnounced();
  ASSERT_TRUE(Port.Open());
  Line.Write("VEQ");
  ASSERT_TRUE(WaitForHandOverQueued());
  // The event thread waits in the hand-over; bytes arriving meanwhile are
  // counted when the handler runs.
  Line.Write("12345");
  ASSERT_TRUE(WaitUntil([&] { return Port.QueuedInputCount() == 8; }));
  EXPECT_TRUE(Counts.empty());
  EXPECT_TRUE(platform::CheckSynchronize(0));
  EXPECT_EQ(Counts, std::vector<int>{8});
  EXPECT_EQ(Received, "VEQ12345");
  EXPECT_EQ(HandlerThreads, std::vector<std::thread::id>{std::this_thread::get_id()});
}

TEST_F(ComThreadTest, NoSecondCallForBytesAlreadyRead) {
  ReadWhatIsAnnounced();
  ASSERT_TRUE(Port.Open());
  Line.Write("A");
  ASSERT_TRUE(WaitForHandOverQueued());
  Line.Write("B");  // arrives while the first event waits; read by its handler
  ASSERT_TRUE(WaitUntil([&] { return Port.QueuedInputCount() == 2; }));
  Loop.RunFor(100);
  EXPECT_EQ(Received, "AB");
  EXPECT_EQ(Counts, std::vector<int>{2});
}

TEST_P(ComEventsTest, BytesLeftQueuedAreAnnouncedAgainOnlyWhenMoreArrive) {
  Port.OnRxChar = [this](TBComPort*, int count) { Counts.push_back(count); };
  ASSERT_TRUE(Port.Open());
  Line.Write("abc");
  ASSERT_TRUE(Loop.RunUntil([&] { return !Counts.empty(); }, 2000));
  Loop.RunFor(100);
  EXPECT_EQ(Counts, std::vector<int>{3});
  Line.Write("d");
  ASSERT_TRUE(Loop.RunUntil([&] { return Counts.size() == 2; }, 2000));
  EXPECT_EQ(Counts, (std::vector<int>{3, 4}));
}

TEST_P(ComEventsTest, LargeStreamArrivesCompleteThroughTheEvents) {
  ReadWhatIsAnnounced();
  ASSERT_TRUE(Port.Open());
  std::string block(64 * 1024, '\0');
  for (size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<char>(i % 251);
  std::thread device([&] { Line.Write(block); });
  EXPECT_TRUE(Loop.RunUntil([&] { return Received.size() >= block.size(); }, 5000));
  device.join();
  EXPECT_TRUE(Received == block) << Received.size();
}

TEST_F(ComThreadTest, CloseOnTheMainThreadServesTheWaitingHandOver) {
  bool openDuringHandler = false;
  Port.OnRxChar = [&](TBComPort*, int count) {
    Counts.push_back(count);
    openDuringHandler = Port.IsOpen();
  };
  ASSERT_TRUE(Port.Open());
  Line.Write("READY");
  ASSERT_TRUE(WaitForHandOverQueued());
  const auto start = Clock::now();
  EXPECT_TRUE(Port.Close());
  EXPECT_LT(Clock::now() - start, milliseconds(1000));
  EXPECT_FALSE(Port.IsOpen());
  EXPECT_EQ(Counts, std::vector<int>{5});
  EXPECT_TRUE(openDuringHandler);
}

TEST_P(ComEventsTest, HandlerMayCloseAndReopenThePortWithoutHanging) {
  int calls = 0;
  Port.OnRxChar = [&](TBComPort*, int) {
    ++calls;
    // The event thread waits for this very handler; neither call may wait
    // for it in turn.
    EXPECT_TRUE(Port.Close());
    EXPECT_FALSE(Port.IsOpen());
    EXPECT_TRUE(Port.Open());
  };
  ASSERT_TRUE(Port.Open());
  Line.Write("x");
  ASSERT_TRUE(Loop.RunUntil([&] { return calls == 1; }, 2000));
  Loop.RunFor(20);
  EXPECT_TRUE(Port.IsOpen());
  EXPECT_EQ(calls, 1);
  ReadWhatIsAnnounced();
  Line.Write("yz");
  EXPECT_TRUE(Loop.RunUntil([&] { return Received == "yz"; }, 2000));
  EXPECT_TRUE(Port.Close());
}

TEST_P(ComEventsTest, HandlerFailureIsReportedAndReceptionGoesOn) {
  Port.OnRxChar = [&](TBComPort*, int count) {
    std::string part;
    Port.ReceiveBytes(part, count);
    Received += part;
    if (Received.size() == 1) throw EComPort("handler broke");
  };
  ASSERT_TRUE(Port.Open());
  Line.Write("1");
  ASSERT_TRUE(Loop.RunUntil([&] { return !ReportsCopy().empty(); }, 2000));
  EXPECT_EQ(ReportsCopy(), std::vector<std::string>{"handler broke"});
  Line.Write("2");
  EXPECT_TRUE(Loop.RunUntil([&] { return Received == "12"; }, 2000));
}

TEST_P(ComEventsTest, HangUpMidStreamIsToldOnceDoesNotSpinAndCloseStillWorks) {
  ReadWhatIsAnnounced();
  std::vector<bool> carrier;
  Port.OnRLSDChange = [&](TBComPort*, bool state) { carrier.push_back(state); };
  ASSERT_TRUE(Port.Open());
  Line.Write(std::string(1000, 'x'));
  ASSERT_TRUE(Loop.RunUntil([&] { return Received.size() == 1000; }, 2000));
  Line.HangUp();
  ASSERT_TRUE(Loop.RunUntil([&] { return !carrier.empty(); }, 2000));
  const size_t callsBefore = Counts.size();
  const double cpuBefore = ProcessCpuSeconds();
  Loop.RunFor(1000);
  const double cpuUsed = ProcessCpuSeconds() - cpuBefore;
  EXPECT_LT(cpuUsed, 0.05) << "the wait for the device keeps the processor busy";
  EXPECT_EQ(Counts.size(), callsBefore) << "events reported after the hang-up";
  EXPECT_EQ(carrier, std::vector<bool>{false}) << "the hang-up is told once, as a lost carrier";
  const auto start = Clock::now();
  EXPECT_TRUE(Port.Close());
  EXPECT_LT(Clock::now() - start, milliseconds(500));
  EXPECT_FALSE(Port.IsOpen());
}

TEST_F(ComThreadTest, InTheLoopEventsAreReadOnTheMainThreadWithoutAHandOver) {
  Port.SetEventLoop(&Loop);
  ReadWhatIsAnnounced();
  ASSERT_TRUE(Port.Open());
  Line.Write("VEQ");
  ASSERT_TRUE(WaitUntil([&] { return Port.QueuedInputCount() == 3; }));
  EXPECT_TRUE(Counts.empty()) << "read before the loop ran";
  ASSERT_TRUE(Loop.RunUntil([&] { return Received == "VEQ"; }, 2000));
  EXPECT_EQ(Counts, std::vector<int>{3});
  EXPECT_EQ(HandlerThreads, std::vector<std::thread::id>{std::this_thread::get_id()});
  EXPECT_EQ(HandOversQueued.load(), 0);
  EXPECT_THROW(Port.SetEventLoop(nullptr), EComPort) << "changed while open";
}

TEST_F(ComThreadTest, WithoutHandOverTheHandlerRunsOnTheEventThread) {
  Port.SetSyncMethod(smNone);
  std::atomic<int> count{0};
  std::atomic<bool> onMain{true};
  Port.OnRxChar = [&](TBComPort*, int n) {
    onMain = platform::IsMainThread();
    count = n;
  };
  ASSERT_TRUE(Port.Open());
  Line.Write("xyz");
  ASSERT_TRUE(WaitUntil([&] { return count.load() != 0; }));
  EXPECT_EQ(count.load(), 3);
  EXPECT_FALSE(onMain.load());
  EXPECT_EQ(HandOversQueued.load(), 0);
}

TEST_F(ComThreadTest, WindowHandOverRunsOnTheMainThreadOnlyWhileOpen) {
  Port.SetSyncMethod(smWindowSync);
  std::vector<bool> openInHandler;
  Port.OnRxChar = [&](TBComPort*, int count) {
    openInHandler.push_back(Port.IsOpen());
    HandlerThreads.push_back(std::this_thread::get_id());
    std::string part;
    Port.ReceiveBytes(part, count);
    Received += part;
  };
  ASSERT_TRUE(Port.Open());
  Line.Write("ok");
  ASSERT_TRUE(Loop.RunUntil([&] { return Received == "ok"; }, 2000));
  EXPECT_EQ(HandlerThreads, std::vector<std::thread::id>{std::this_thread::get_id()});

  // An event posted just before Close either runs inside Close, on a port
  // that is still open, or is dropped; never on a closed port.
  const int before = HandOversQueued.load();
  Line.Write("late");
  ASSERT_TRUE(WaitForHandOverQueued(before));
  Port.Close();
  Loop.RunFor(20);
  EXPECT_TRUE(Received == "ok" || Received == "oklate") << Received;
  EXPECT_EQ(openInHandler, std::vector<bool>(openInHandler.size(), true));
}

TEST_F(ComThreadTest, NoErrorEventWithoutErrors) {
  bool errorCalled = false;
  Port.OnError = [&](TBComPort*, TComErrors) { errorCalled = true; };
  ReadWhatIsAnnounced();
  ASSERT_TRUE(Port.Open());
  Line.Write("data");
  ASSERT_TRUE(Loop.RunUntil([&] { return Received == "data"; }, 2000));
  Port.FireError();
  EXPECT_FALSE(errorCalled);
}

TEST_F(ComThreadTest, SignalEventsReadTheModemLines) {
  std::vector<bool> states;
  Port.OnCTSChange = [&](TBComPort*, bool state) { states.push_back(state); };
  Port.OnDSRChange = [&](TBComPort*, bool state) { states.push_back(state); };
  int rings = 0;
  Port.OnRing = [&](TBComPort*) { ++rings; };
  ASSERT_TRUE(Port.Open());
  Port.FireCTSChange();
  Port.FireDSRChange();
  Port.FireRLSDChange();  // unassigned: skipped
  Port.FireRing();
  Port.FireTxEmpty();  // unassigned: skipped
  // A pseudo-terminal has no modem lines: every input line reads as down.
  EXPECT_EQ(states, (std::vector<bool>{false, false}));
  EXPECT_EQ(rings, 1);
}

INSTANTIATE_TEST_SUITE_P(Sources, ComEventsTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "EventLoop" : "EventThread";
                         });

}  // namespace
