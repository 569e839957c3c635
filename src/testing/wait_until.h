#pragma once
// Waiting in real time for what another thread does (a worker ending, a sleeper held).

#include <chrono>
#include <functional>
#include <thread>

namespace zelvik {

// Waits until pred holds, looking every millisecond; false after timeoutMs.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace zelvik
