#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/ErrorReport.h"
#include "platform/MainLoop.h"
#include "platform/MainThread.h"
#include "platform/Thread.h"

namespace {

// A worker whose body the test supplies.
class TLambdaThread : public TThread {
 public:
  explicit TLambdaThread(std::function<void(TLambdaThread&)> body) : Body(std::move(body)) {}
  ~TLambdaThread() override {
    Terminate();
    WaitFor();
  }
  using TThread::Synchronize;

 protected:
  void Execute() override { Body(*this); }

 private:
  std::function<void(TLambdaThread&)> Body;
};

class MainThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMainThread();
    while (platform::CheckSynchronize(0)) {
    }
  }
  void TearDown() override {
    platform::SetWakeMainThreadHook(nullptr);
    platform::SetErrorReportHook(nullptr);
  }
};

TEST_F(MainThreadTest, SynchronizeRunsOnTheMainThreadAndBlocksTheWorkerUntilDone) {
  const auto mainId = std::this_thread::get_id();
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> workerPassed{false};
  std::atomic<bool> callFinished{false};
  TLambdaThread worker([&](TLambdaThread& self) {
    self.Synchronize([&] {
      ranOnMain = std::this_thread::get_id() == mainId;
      // The worker must still be inside Synchronize while this runs.
      EXPECT_FALSE(workerPassed.load());
      callFinished = true;
    });
    EXPECT_TRUE(callFinished.load());
    workerPassed = true;
  });
  worker.Start();
  // Nothing runs until the main thread serves the queue.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(callFinished.load());
  EXPECT_FALSE(workerPassed.load());
  TMainLoop loop;
  ASSERT_TRUE(loop.RunUntil([&] { return callFinished.load(); }, 2000));
  worker.WaitFor();
  EXPECT_TRUE(ranOnMain);
  EXPECT_TRUE(workerPassed);
}

TEST_F(MainThreadTest, ExceptionThrownOnTheMainThreadIsRethrownInTheWorker) {
  std::string caught;
  TLambdaThread worker([&](TLambdaThread& self) {
    try {
      self.Synchronize([] { throw std::runtime_error("handler failed"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
  });
  worker.Start();
  worker.WaitFor();
  EXPECT_EQ(caught, "handler failed");
}

TEST_F(MainThreadTest, SynchronizeOnTheMainThreadRunsAtOnce) {
  bool ran = false;
  platform::Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_THROW(platform::Synchronize([] { throw std::logic_error("x"); }), std::logic_error);
}

TEST_F(MainThreadTest, WaitForOnTheMainThreadServesAWorkerBlockedInAHandOver) {
  int handOvers = 0;
  TLambdaThread worker([&](TLambdaThread& self) {
    for (int i = 0; i < 3; ++i)
      self.Synchronize([&] { ++handOvers; });
  });
  worker.Start();
  worker.WaitFor();  // would dead-lock if it did not serve the queue
  EXPECT_EQ(handOvers, 3);
  EXPECT_TRUE(worker.Finished());
}

TEST_F(MainThreadTest, TerminateAsksTheBodyToReturn) {
  TLambdaThread worker([](TLambdaThread& self) {
    while (!self.Terminated())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  worker.Start();
  worker.Terminate();
  worker.WaitFor();
  EXPECT_TRUE(worker.Finished());
}

TEST_F(MainThreadTest, ExceptionEscapingTheBodyGoesToTheErrorReport) {
  std::vector<std::string> reports;
  platform::SetErrorReportHook([&](const std::string& text) { reports.push_back(text); });
  TLambdaThread worker([](TLambdaThread&) { throw std::runtime_error("body failed"); });
  worker.Start();
  worker.WaitFor();
  EXPECT_EQ(reports, std::vector<std::string>{"body failed"});
}

TEST_F(MainThreadTest, PostQueuesWithoutWaitingAndRunsInOrder) {
  std::vector<int> order;
  std::atomic<bool> posted{false};
  std::thread worker([&] {
    platform::Post([&] { order.push_back(1); });
    platform::Post([&] { order.push_back(2); });
    posted = true;  // reached without the main thread having served anything
  });
  worker.join();
  EXPECT_TRUE(posted);
  EXPECT_TRUE(order.empty());
  EXPECT_TRUE(platform::CheckSynchronize(0));
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_FALSE(platform::CheckSynchronize(0));
}

TEST_F(MainThreadTest, ExceptionFromAPostedCallReachesTheServingCallerAndKeepsTheRest) {
  std::vector<int> order;
  platform::Post([] { throw std::runtime_error("posted failed"); });
  platform::Post([&] { order.push_back(2); });
  EXPECT_THROW(platform::CheckSynchronize(0), std::runtime_error);
  EXPECT_TRUE(platform::CheckSynchronize(0));
  EXPECT_EQ(order, std::vector<int>{2});
}

// A loop that sleeps on descriptors hears of both through the hook.
TEST_F(MainThreadTest, WakeHookIsCalledForEveryQueuedCallAndEveryWorkerEnd) {
  std::atomic<int> wakes{0};
  platform::SetWakeMainThreadHook([&] { ++wakes; });
  std::thread poster([] { platform::Post([] {}); });
  poster.join();
  EXPECT_EQ(wakes.load(), 1);
  std::atomic<bool> done{false};
  TLambdaThread worker([&](TLambdaThread& self) {
    self.Synchronize([] {});
    done = true;
  });
  worker.Start();
  worker.WaitFor();
  EXPECT_TRUE(done);
  EXPECT_EQ(wakes.load(), 3);  // its hand-over and its end
}

TEST_F(MainThreadTest, CheckSynchronizeWaitsForTheFirstCallUpToItsTimeOut) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(platform::CheckSynchronize(30));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));

  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    platform::Post([] {});
  });
  EXPECT_TRUE(platform::CheckSynchronize(2000));
  poster.join();
}

TEST_F(MainThreadTest, RunUntilNoticesAWorkerThatEndsWithoutAHandOver) {
  TLambdaThread worker(
      [](TLambdaThread&) { std::this_thread::sleep_for(std::chrono::milliseconds(10)); });
  TMainLoop loop;
  worker.Start();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(loop.RunUntil([&] { return worker.Finished(); }, 3000));
  // The end of the thread wakes the loop; it does not sit out the time-out.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  worker.WaitFor();
}

}  // namespace
