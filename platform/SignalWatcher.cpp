#include "platform/SignalWatcher.h"

#include <pthread.h>

TSignalWatcher::TSignalWatcher(std::initializer_list<int> watched,
                               std::function<void(int)> onSignal)
    : OnSignal(std::move(onSignal)) {
  sigemptyset(&Signals);
  for (const int signal : watched)
    sigaddset(&Signals, signal);
  pthread_sigmask(SIG_BLOCK, &Signals, nullptr);
  Watcher = std::thread([this] { Watch(); });
}

TSignalWatcher::~TSignalWatcher() {
  Stopping = true;
  // Any of the watched signals wakes sigwait; Stopping tells it apart.
  int first = SIGTERM;
  for (int signal = 1; signal < NSIG; ++signal) {
    if (sigismember(&Signals, signal) == 1) {
      first = signal;
      break;
    }
  }
  pthread_kill(Watcher.native_handle(), first);
  Watcher.join();
}

void TSignalWatcher::Watch() {
  for (;;) {
    int signal = 0;
    if (sigwait(&Signals, &signal) != 0 || Stopping) return;
    int none = 0;
    First.compare_exchange_strong(none, signal);
    OnSignal(signal);
  }
}
