#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/ErrorReport.h"
#include "platform/MainThread.h"
#include "udp/IdThread.h"

namespace {

class TCountingThread : public TIdThread {
 public:
  ~TCountingThread() override { EndThread(); }
  std::atomic<int> Steps{0};
  std::atomic<bool> FailAtThird{false};

 protected:
  void RunStep() override {
    if (++Steps == 3 && FailAtThird) throw std::runtime_error("step failed");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
};

bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!done() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  return done();
}

TEST(IdThread, RunsOnlyBetweenStartLoopAndStopLoop) {
  platform::SetMainThread();
  TCountingThread thread;
  EXPECT_TRUE(thread.IsStopped());
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(thread.Steps, 0);

  thread.StartLoop();
  EXPECT_FALSE(thread.IsStopped());
  ASSERT_TRUE(WaitFor([&] { return thread.Steps > 2; }));

  thread.StopLoop();
  EXPECT_TRUE(thread.IsStopped());
  EXPECT_TRUE(thread.Terminated());
  thread.WaitFor();
  EXPECT_TRUE(thread.Finished());
}

TEST(IdThread, EscapingExceptionEndsTheThreadQuietly) {
  platform::SetMainThread();
  std::vector<std::string> reported;
  platform::SetErrorReportHook([&](const std::string& text) { reported.push_back(text); });
  TCountingThread thread;
  thread.FailAtThird = true;
  thread.StartLoop();
  ASSERT_TRUE(WaitFor([&] { return thread.Finished(); }));
  EXPECT_EQ(thread.Steps, 3);
  EXPECT_TRUE(thread.IsStopped());
  platform::SetErrorReportHook(nullptr);
  EXPECT_TRUE(reported.empty());
}

}  // namespace
