#pragma once
// A clock for tests. Time stands still until it is advanced, either by hand (SetNow, Advance)
// or by a sleeper: each Sleep moves the time forward by its length at once, so an hour of
// waiting costs microseconds. A cancelled token still ends a sleep at once.

#include <mutex>

#include "util/clock.h"

namespace zelvik {

class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::time_t start = 0) : now_(start) {}

  std::time_t Now() override;
  bool Sleep(std::int64_t ms, const CancelToken* cancel) override;

  void SetNow(std::time_t t);
  void Advance(std::int64_t seconds);
  // Total milliseconds slept through this clock, for tests that count waits.
  std::int64_t SleptMs();

  // Local time of a calendar date, for setting the clock in tests.
  static std::time_t MakeLocal(int year, int month, int day, int hour, int minute, int second);

 private:
  std::mutex mutex_;
  std::time_t now_;
  std::int64_t subSecondMs_ = 0;
  std::int64_t sleptMs_ = 0;
};

// Installs a clock for the life of a scope and restores the system clock after it.
class ScopedClock {
 public:
  explicit ScopedClock(Clock* clock) { SetClock(clock); }
  ~ScopedClock() { SetClock(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace zelvik
