#include "util/clock.h"

#include <chrono>
#include <thread>

#include "util/platform.h"

namespace zelvik {

void CancelToken::Cancel() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_.store(true, std::memory_order_release);
  }
  cv_.notify_all();
}

bool CancelToken::WaitFor(std::int64_t ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms),
                      [this] { return IsCancelled(); });
}

std::time_t SystemClock::Now() { return std::time(nullptr); }

bool SystemClock::Sleep(std::int64_t ms, const CancelToken* cancel) {
  if (cancel == nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms < 0 ? 0 : ms));
    return true;
  }
  return !cancel->WaitFor(ms);
}

namespace {
SystemClock g_systemClock;
std::atomic<Clock*> g_clock{&g_systemClock};
}  // namespace

Clock& GetClock() { return *g_clock.load(std::memory_order_acquire); }

void SetClock(Clock* clock) {
  g_clock.store(clock != nullptr ? clock : &g_systemClock, std::memory_order_release);
}

std::tm LocalTime(std::time_t t) { return platform::LocalTime(t); }

}  // namespace zelvik
