#pragma once

#include <chrono>
#include <thread>

// Polls predicate until it holds or limit has passed and returns whether it
// held. For conditions that another thread or the kernel makes true: the test
// waits as long as a loaded machine needs, where a fixed pause would assert
// too early there.
template <typename Predicate>
bool WaitUntil(Predicate&& predicate,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() >= deadline) return predicate();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
