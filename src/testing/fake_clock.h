#pragma once
// A clock for tests. Time stands still until it is advanced, either by hand (SetNow, Advance)
// or by a sleeper: each Sleep moves the time forward by its length at once, so an hour of
// waiting costs microseconds. A cancelled token still ends a sleep at once.
//
// To look at a threaded program at a given moment, a test can hold the clock: a sleep that
// would carry the time past the hold mark waits (in real time) until the mark is moved or
// lifted, or until its token is cancelled. Time does not move while a sleeper is held.

#include <condition_variable>
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

  // Holds every sleep that would end after time t (see above).
  void HoldAt(std::time_t t);
  // Lifts the hold; held sleepers go on.
  void Release();
  // Waits up to timeoutMs of real time until at least count sleepers are held. Returns
  // whether they are.
  bool WaitForHeld(int count, std::int64_t timeoutMs);
  // Number of sleepers held right now.
  int Held();

  // Local time of a calendar date, for setting the clock in tests.
  static std::time_t MakeLocal(int year, int month, int day, int hour, int minute, int second);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::time_t now_;
  std::int64_t subSecondMs_ = 0;
  bool holding_ = false;
  std::time_t holdAt_ = 0;
  int held_ = 0;
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
