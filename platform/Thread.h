#pragma once

#include <atomic>
#include <functional>
#include <thread>

// A worker thread that hands its events to the main thread (Synchronize) and
// can be waited for from the main thread without dead-locking a worker that
// is blocked in such a hand-over.
class TThread {
 public:
  TThread() = default;
  // The thread must have ended (WaitFor) before the object goes.
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  // Asks Execute to return; it checks Terminated().
  void Terminate() { Terminated_ = true; }
  bool Terminated() const { return Terminated_; }
  bool Finished() const { return Finished_; }

  // Blocks until Execute has returned. On the main thread it keeps serving
  // hand-overs meanwhile, so a worker waiting in Synchronize completes it.
  void WaitFor();

 protected:
  virtual void Execute() = 0;
  // Runs fn on the main thread and waits; fn's exception is re-thrown here.
  static void Synchronize(const std::function<void()>& fn);

 private:
  void Run();

  std::thread Handle;
  std::atomic<bool> Terminated_{false};
  std::atomic<bool> Finished_{false};
};
