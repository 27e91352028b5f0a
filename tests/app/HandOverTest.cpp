// How the window serves the worker threads' hand-overs: from Qt's event
// loop, also inside a modal box, and never during the blocking sleep.
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "platform/ErrorReport.h"
#include "platform/MainThread.h"
#include "tests/app/FormHarness.h"

namespace {

// A worker whose call was never served would wait for ever; serving the
// queue here lets a failing test end instead of hanging.
void FreeWorker(std::thread& worker) {
  platform::CheckSynchronize(0);
  worker.join();
}

TEST(WindowHandOver, AWorkersCallRunsFromTheEventLoop) {
  TFormHarness harness;
  harness.Open();
  std::atomic<bool> ran{false};
  std::thread worker([&] { platform::Synchronize([&] { ran = true; }); });
  EXPECT_TRUE(QTest::qWaitFor([&] { return ran.load(); }, 2000));
  FreeWorker(worker);
}

TEST(WindowHandOver, TheBlockingSleepServesNothing) {
  TFormHarness harness;
  TForm1& form = harness.Open();
  std::atomic<bool> queued{false};
  std::atomic<bool> ran{false};
  std::thread worker([&] {
    platform::Post([&] { ran = true; });
    queued = true;
  });
  while (!queued)
    std::this_thread::yield();
  form.Sleep(50);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ran.load(); }, 2000));
  worker.join();
}

TEST(WindowHandOver, AModalBoxStillServesWorkers) {
  TForm1 form(TFormOptions{"/nonexistent/veq.ini", "/"});
  std::atomic<bool> ran{false};
  bool ranWhileOpen = false;
  std::thread worker;
  QElapsedTimer open;
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, [&, poll] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    if (!worker.joinable()) {
      open.start();
      worker = std::thread([&] { platform::Synchronize([&] { ran = true; }); });
    } else if (ran || open.hasExpired(2000)) {
      ranWhileOpen = ran;
      poll->stop();
      poll->deleteLater();
      box->button(QMessageBox::Ok)->click();
    }
  });
  poll->start(5);
  form.MessageBox(TMessageKind::Information, "Ожидание");
  FreeWorker(worker);
  EXPECT_TRUE(ranWhileOpen);
}

TEST(WindowHandOver, AnErrorReportFromAWorkerIsShownOnTheMainThread) {
  TFormHarness harness;
  harness.Open();
  std::thread::id shownOn;
  harness.Form().MessageBoxHook = [&](TMessageKind kind, const std::string& text) {
    harness.Messages.push_back({kind, text});
    shownOn = std::this_thread::get_id();
    return TMessageResult::Ok;
  };
  std::thread worker([] { platform::ReportError("Ошибка чтения порта"); });
  worker.join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !harness.Messages.empty(); }, 2000));
  EXPECT_EQ(harness.Messages[0].Kind, TMessageKind::Warning);
  EXPECT_EQ(harness.Messages[0].Text, "Ошибка чтения порта");
  EXPECT_EQ(shownOn, std::this_thread::get_id());
}

}  // namespace
