#include "platform/MainThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {
namespace {

struct THandOver {
  std::function<void()> Call;
  bool Blocking = false;
  bool Done = false;
  std::exception_ptr Error;
};

// The process-wide queue of calls waiting for the main thread.
struct TQueue {
  std::mutex Lock;
  std::condition_variable Changed;  // a call queued or finished, or waiters notified
  std::deque<std::shared_ptr<THandOver>> Calls;
  std::function<void()> WakeHook;
  uint64_t Generation = 0;  // bumped by NotifyWaiters
};

TQueue& Queue() {
  static TQueue queue;
  return queue;
}

std::atomic<std::thread::id>& MainId() {
  static std::atomic<std::thread::id> id{};
  return id;
}

void Enqueue(const std::shared_ptr<THandOver>& call) {
  TQueue& q = Queue();
  std::function<void()> wake;
  {
    std::lock_guard lock(q.Lock);
    q.Calls.push_back(call);
    wake = q.WakeHook;
  }
  q.Changed.notify_all();
  if (wake) wake();
}

void RunOne(const std::shared_ptr<THandOver>& call) {
  try {
    call->Call();
  } catch (...) {
    if (!call->Blocking) throw;  // nobody waits for it: the loop's caller gets it
    call->Error = std::current_exception();
  }
}

void Finish(TQueue& q, const std::shared_ptr<THandOver>& call) {
  {
    std::lock_guard lock(q.Lock);
    call->Done = true;
  }
  q.Changed.notify_all();
}

}  // namespace

void SetMainThread() {
  MainId() = std::this_thread::get_id();
}

bool IsMainThread() {
  std::thread::id expected{};
  MainId().compare_exchange_strong(expected, std::this_thread::get_id());
  return MainId().load() == std::this_thread::get_id();
}

void Synchronize(const std::function<void()>& fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  auto call = std::make_shared<THandOver>();
  call->Call = fn;
  call->Blocking = true;
  Enqueue(call);
  TQueue& q = Queue();
  std::exception_ptr error;
  {
    std::unique_lock lock(q.Lock);
    q.Changed.wait(lock, [&] { return call->Done; });
    // Taken over here, so that the exception is released on the thread that
    // catches it, not by whichever thread drops the record last.
    error = std::move(call->Error);
  }
  if (error) std::rethrow_exception(error);
}

void Post(std::function<void()> fn) {
  auto call = std::make_shared<THandOver>();
  call->Call = std::move(fn);
  Enqueue(call);
}

bool CheckSynchronize(int timeoutMs) {
  TQueue& q = Queue();
  std::deque<std::shared_ptr<THandOver>> batch;
  {
    std::unique_lock lock(q.Lock);
    if (q.Calls.empty() && timeoutMs > 0) {
      // A worker that ends (NotifyWaiters) also wakes the wait, so that a
      // loop waiting for that end re-checks at once.
      const uint64_t seen = q.Generation;
      q.Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [&] { return !q.Calls.empty() || q.Generation != seen; });
    }
    batch.swap(q.Calls);
  }
  const bool ranAny = !batch.empty();
  // Calls queued while these run wait for the next round, so that one
  // busy worker cannot keep the main thread here for ever.
  while (!batch.empty()) {
    auto call = batch.front();
    batch.pop_front();
    try {
      RunOne(call);
    } catch (...) {
      Finish(q, call);
      std::lock_guard lock(q.Lock);
      q.Calls.insert(q.Calls.begin(), batch.begin(), batch.end());
      throw;
    }
    Finish(q, call);
  }
  return ranAny;
}

std::function<void()> SetWakeMainThreadHook(std::function<void()> hook) {
  TQueue& q = Queue();
  std::lock_guard lock(q.Lock);
  std::swap(q.WakeHook, hook);
  return hook;
}

void ServeUntil(const std::function<bool()>& done) {
  TQueue& q = Queue();
  while (!done()) {
    std::deque<std::shared_ptr<THandOver>> none;
    {
      std::unique_lock lock(q.Lock);
      const uint64_t seen = q.Generation;
      q.Changed.wait(lock, [&] { return !q.Calls.empty() || q.Generation != seen || done(); });
      if (q.Calls.empty()) continue;
    }
    CheckSynchronize(0);
  }
}

void NotifyWaiters() {
  TQueue& q = Queue();
  std::function<void()> wake;
  {
    std::lock_guard lock(q.Lock);
    ++q.Generation;
    wake = q.WakeHook;
  }
  q.Changed.notify_all();
  if (wake) wake();
}

}  // namespace platform
