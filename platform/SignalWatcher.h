#pragma once

#include <atomic>
#include <csignal>
#include <functional>
#include <initializer_list>
#include <thread>

// Takes the given signals (SIGINT, SIGTERM) in a thread of its own rather
// than in a handler, so that what a signal does runs as ordinary code on the
// main thread. Construct it before any other thread starts: the signals are
// blocked in the constructing thread and every thread started after it
// inherits that mask, so none of them is picked to run a handler. (No name
// here is "signals": the window's toolkit defines it as a macro.)
class TSignalWatcher {
 public:
  // onSignal runs on the watcher's own thread, with the signal's number.
  TSignalWatcher(std::initializer_list<int> watched, std::function<void(int)> onSignal);
  ~TSignalWatcher();
  TSignalWatcher(const TSignalWatcher&) = delete;
  TSignalWatcher& operator=(const TSignalWatcher&) = delete;

  // The first signal taken, 0 while none has come; safe from any thread.
  int Received() const { return First.load(); }

 private:
  void Watch();

  sigset_t Signals;
  std::function<void(int)> OnSignal;
  std::atomic<int> First{0};
  std::atomic<bool> Stopping{false};
  std::thread Watcher;
};
