#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "platform/Descriptor.h"
#include "platform/MainLoop.h"
#include "platform/MainThread.h"

namespace {

using Clock = std::chrono::steady_clock;

class MainLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMainThread();
    while (platform::CheckSynchronize(0)) {
    }
  }
  TMainLoop Loop;
};

TEST_F(MainLoopTest, TimerTicksEveryIntervalWhileEnabled) {
  int ticks = 0;
  const auto id = Loop.AddTimer(10, [&] { ++ticks; });
  EXPECT_TRUE(Loop.Enabled(id));
  EXPECT_EQ(Loop.Interval(id), 10);
  const auto start = Clock::now();
  ASSERT_TRUE(Loop.RunUntil([&] { return ticks == 3; }, 2000));
  // Three periods at least have passed; a tick never comes early.
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(28));
}

TEST_F(MainLoopTest, DisabledTimerDoesNotTickAndRestartsItsPeriodWhenEnabled) {
  int ticks = 0;
  const auto id = Loop.AddTimer(5, [&] { ++ticks; });
  Loop.SetEnabled(id, false);
  EXPECT_FALSE(Loop.Enabled(id));
  Loop.RunFor(30);
  EXPECT_EQ(ticks, 0);
  Loop.SetEnabled(id, true);
  EXPECT_TRUE(Loop.RunUntil([&] { return ticks >= 1; }, 2000));
}

TEST_F(MainLoopTest, TickCanDisableItsOwnTimer) {
  int ticks = 0;
  TMainLoop::TimerId id = 0;
  id = Loop.AddTimer(1, [&] {
    ++ticks;
    Loop.SetEnabled(id, false);
  });
  ASSERT_TRUE(Loop.RunUntil([&] { return ticks >= 1; }, 2000));
  Loop.RunFor(30);  // time for further ticks, were the timer still enabled
  EXPECT_EQ(ticks, 1);
}

TEST_F(MainLoopTest, ChangingTheIntervalTakesEffect) {
  int slowTicks = 0;
  const auto id = Loop.AddTimer(10000, [&] { ++slowTicks; });
  Loop.RunFor(20);
  EXPECT_EQ(slowTicks, 0);
  Loop.SetInterval(id, 5);
  EXPECT_EQ(Loop.Interval(id), 5);
  EXPECT_TRUE(Loop.RunUntil([&] { return slowTicks >= 2; }, 2000));
}

TEST_F(MainLoopTest, TickCanRemoveAnotherTimer) {
  int firstTicks = 0;
  int secondTicks = 0;
  TMainLoop::TimerId second = 0;
  Loop.AddTimer(1, [&] {
    ++firstTicks;
    Loop.RemoveTimer(second);
  });
  second = Loop.AddTimer(1, [&] { ++secondTicks; });
  Loop.RunUntil([&] { return firstTicks >= 3; }, 2000);
  EXPECT_EQ(secondTicks, 0);
}

TEST_F(MainLoopTest, TimerWithoutAPositiveIntervalNeverTicks) {
  // As a window timer: an interval of 0 means stopped, not "as fast as possible".
  int ticks = 0;
  Loop.AddTimer(0, [&] { ++ticks; });
  Loop.RunFor(20);
  EXPECT_EQ(ticks, 0);
}

TEST_F(MainLoopTest, RunUntilServesHandOversAndStopsAtItsTimeOut) {
  bool served = false;
  std::thread worker([&] { platform::Synchronize([&] { served = true; }); });
  EXPECT_TRUE(Loop.RunUntil([&] { return served; }, 2000));
  worker.join();

  const auto start = Clock::now();
  EXPECT_FALSE(Loop.RunUntil([] { return false; }, 20));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(18));
}

TEST_F(MainLoopTest, WatchedDescriptorCallsUntilUnwatchedAndCallbacksMayUnwatch) {
  platform::TWakeSignal first, second;
  int firstCalls = 0;
  const auto firstId = Loop.WatchReadable(first.Fd(), [&] {
    ++firstCalls;
    first.Clear();
  });
  first.Signal();
  ASSERT_TRUE(Loop.RunUntil([&] { return firstCalls == 1; }, 2000));
  first.Signal();
  ASSERT_TRUE(Loop.RunUntil([&] { return firstCalls == 2; }, 2000));
  Loop.Unwatch(firstId);

  // Both stay readable: a callback still called after its unwatching would
  // be called on every turn.
  int selfCalls = 0, otherCalls = 0;
  TMainLoop::WatchId selfId = 0, otherId = 0;
  selfId = Loop.WatchReadable(first.Fd(), [&] {
    ++selfCalls;
    Loop.Unwatch(otherId);
    Loop.Unwatch(selfId);
  });
  otherId = Loop.WatchReadable(second.Fd(), [&] { ++otherCalls; });
  first.Signal();
  second.Signal();
  Loop.RunFor(30);
  EXPECT_EQ(firstCalls, 2);
  EXPECT_EQ(selfCalls, 1);
  EXPECT_EQ(otherCalls, 0);
}

TEST_F(MainLoopTest, HandOverEndsTheWaitOnDescriptorsAndTheWakeHookIsRestored) {
  std::atomic<int> frontEndWakes{0};
  platform::SetWakeMainThreadHook([&] { ++frontEndWakes; });
  platform::TWakeSignal never;
  Loop.WatchReadable(never.Fd(), [] {});
  bool served = false;
  std::thread worker([&] { platform::Synchronize([&] { served = true; }); });
  const auto start = Clock::now();
  EXPECT_TRUE(Loop.RunUntil([&] { return served; }, 60000));
  // Without a wake-up the wait would have lasted the whole minute.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
  worker.join();
  const int before = frontEndWakes.load();
  platform::Post([] {});
  EXPECT_EQ(frontEndWakes.load(), before + 1);
  platform::SetWakeMainThreadHook(nullptr);
  platform::CheckSynchronize(0);
}

TEST_F(MainLoopTest, ExceptionFromATickReachesTheCaller) {
  Loop.AddTimer(1, [] { throw std::runtime_error("tick failed"); });
  EXPECT_THROW(Loop.RunFor(50), std::runtime_error);
}

}  // namespace
