#include "platform/Thread.h"

#include <exception>

#include "platform/ErrorReport.h"
#include "platform/MainThread.h"

TThread::~TThread() {
  // A thread still running here would outlive the object it runs on; end it.
  if (Handle.joinable()) {
    Terminate();
    WaitFor();
  }
}

void TThread::Start() {
  Terminated_ = false;
  Finished_ = false;
  Handle = std::thread(&TThread::Run, this);
}

void TThread::Run() {
  try {
    Execute();
  } catch (const std::exception& e) {
    platform::ReportError(e.what());
  } catch (...) {
    platform::ReportError("unknown exception in a worker thread");
  }
  Finished_ = true;
  platform::NotifyWaiters();
}

void TThread::WaitFor() {
  if (!Handle.joinable()) return;
  if (platform::IsMainThread()) platform::ServeUntil([this] { return Finished_.load(); });
  Handle.join();
}

void TThread::Synchronize(const std::function<void()>& fn) { platform::Synchronize(fn); }
