#pragma once

#include <functional>

// The hand-over of work from worker threads to the main thread. Only the main
// thread decides; workers (the serial event thread, the UDP listener) hand
// their events over and wait until they have run there.
namespace platform {

// Marks the calling thread as the main thread. Call once, early in main();
// until then the first thread that asks is taken as the main thread.
void SetMainThread();
bool IsMainThread();

// Runs fn on the main thread and blocks until it has run there. An exception
// that fn throws is re-thrown here. Called on the main thread, fn runs at once.
void Synchronize(const std::function<void()>& fn);

// Queues fn for the main thread and returns at once.
void Post(std::function<void()> fn);

// Main thread: runs every queued call, waiting up to timeoutMs for the first
// one when none is queued (0: don't wait). Returns whether anything ran.
bool CheckSynchronize(int timeoutMs = 0);

// Called, from whichever thread queues a call or notifies waiters, so that
// the front end's event loop wakes up and calls CheckSynchronize. Empty by
// default. Returns the hook it replaces.
std::function<void()> SetWakeMainThreadHook(std::function<void()> hook);

// Main thread: serves hand-overs until done() is true. done is re-checked
// after each call that ran and after every NotifyWaiters().
void ServeUntil(const std::function<bool()>& done);

// Wakes every ServeUntil so that it re-checks its condition.
void NotifyWaiters();

}  // namespace platform
