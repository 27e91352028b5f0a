#include "platform/MainLoop.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "platform/MainThread.h"

TMainLoop::TimerId TMainLoop::AddTimer(int intervalMs, std::function<void()> onTick) {
  const TimerId id = NextId++;
  Timers[id] = {intervalMs, true, Clock::now() + std::chrono::milliseconds(intervalMs),
                std::move(onTick)};
  return id;
}

void TMainLoop::RemoveTimer(TimerId id) {
  Timers.erase(id);
}

void TMainLoop::SetInterval(TimerId id, int intervalMs) {
  TTimer& timer = Timers.at(id);
  timer.IntervalMs = intervalMs;
  timer.Due = Clock::now() + std::chrono::milliseconds(intervalMs);
}

int TMainLoop::Interval(TimerId id) const {
  return Timers.at(id).IntervalMs;
}

void TMainLoop::SetEnabled(TimerId id, bool enabled) {
  TTimer& timer = Timers.at(id);
  if (enabled && !timer.Enabled)
    timer.Due = Clock::now() + std::chrono::milliseconds(timer.IntervalMs);
  timer.Enabled = enabled;
}

bool TMainLoop::Enabled(TimerId id) const {
  return Timers.at(id).Enabled;
}

TMainLoop::Clock::duration TMainLoop::FireDueTimers() {
  // A tick may add, remove or reconfigure timers: walk a snapshot of ids.
  std::vector<TimerId> ids;
  for (const auto& [id, timer] : Timers)
    ids.push_back(id);
  for (const TimerId id : ids) {
    auto it = Timers.find(id);
    if (it == Timers.end() || !Ticking(it->second) || Clock::now() < it->second.Due) continue;
    // Next period counts from now: a late tick does not cause a burst.
    it->second.Due = Clock::now() + std::chrono::milliseconds(it->second.IntervalMs);
    auto onTick = it->second.OnTick;
    onTick();
  }
  Clock::duration next = std::chrono::hours(1);
  const auto now = Clock::now();
  for (const auto& [id, timer] : Timers) {
    if (Ticking(timer))
      next = std::min<Clock::duration>(next, std::max(timer.Due - now, Clock::duration::zero()));
  }
  return next;
}

bool TMainLoop::RunUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = timeoutMs < 0 ? Clock::time_point::max()
                                      : Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    const auto untilTimer = FireDueTimers();
    if (done()) break;
    const auto now = Clock::now();
    if (now >= deadline) break;
    auto wait = std::min<Clock::duration>(untilTimer, deadline - now);
    // Round up so that a timer due in less than a millisecond is not polled for.
    const int waitMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
    ServeWithoutTimers(std::max(waitMs, 0));
  }
  return done();
}

void TMainLoop::RunFor(int milliseconds) {
  RunUntil([] { return false; }, milliseconds);
}

void TMainLoop::ServeWithoutTimers(int timeoutMs) {
  // Without descriptors the queue's own wait is the cheaper one.
  if (Watches.empty()) {
    platform::CheckSynchronize(timeoutMs);
    return;
  }
  ServeWatched(timeoutMs);
}

namespace {

// Points the hand-over's wake-up at a signal for as long as this lives, and
// restores the one it replaced.
class TWakeHookScope {
 public:
  explicit TWakeHookScope(const std::shared_ptr<platform::TWakeSignal>& signal)
      : Replaced(platform::SetWakeMainThreadHook([signal] { signal->Signal(); })) {}
  ~TWakeHookScope() { platform::SetWakeMainThreadHook(std::move(Replaced)); }
  TWakeHookScope(const TWakeHookScope&) = delete;
  TWakeHookScope& operator=(const TWakeHookScope&) = delete;

 private:
  std::function<void()> Replaced;
};

}  // namespace

void TMainLoop::ServeWatched(int timeoutMs) {
  TWakeHookScope hook(HandOverQueued);
  // Calls queued before the hook was in place would not end the wait.
  if (platform::CheckSynchronize(0)) return;
  std::vector<int> fds{HandOverQueued->Fd()};
  std::vector<WatchId> ids;
  for (const auto& [id, watch] : Watches) {
    fds.push_back(watch.Fd);
    ids.push_back(id);
  }
  const std::vector<size_t> ready = platform::WaitReadable(fds, timeoutMs);
  // Cleared before the queue is served: a call queued after this signals
  // again, one queued before is served now.
  if (!ready.empty() && ready.front() == 0) HandOverQueued->Clear();
  platform::CheckSynchronize(0);
  RunReadyWatches(ids, ready);
}

void TMainLoop::RunReadyWatches(const std::vector<WatchId>& ids,
                                const std::vector<size_t>& ready) {
  for (const size_t position : ready) {
    if (position == 0) continue;  // the hand-over signal
    const auto it = Watches.find(ids[position - 1]);
    // An earlier callback may have unwatched it.
    if (it == Watches.end()) continue;
    auto onReady = it->second.OnReady;
    onReady();
  }
}

TMainLoop::WatchId TMainLoop::WatchReadable(int fd, std::function<void()> onReady) {
  const WatchId id = NextWatchId++;
  Watches[id] = {fd, std::move(onReady)};
  return id;
}

void TMainLoop::Unwatch(WatchId id) {
  Watches.erase(id);
}
