#pragma once
// The program's only source of time. Every wait of the workers and every time stamp goes
// through the process-wide clock so that tests can run 07:00, the quiet hours and the long
// waits without real waiting.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>

namespace zelvik {

// A request to end a wait (and the work around it) at once. Shared between the thread that
// asks and the thread that waits; cancelling wakes every wait on it.
class CancelToken {
 public:
  void Cancel();
  bool IsCancelled() const { return cancelled_.load(std::memory_order_acquire); }
  // Rearms the token for a new piece of work.
  void Reset() { cancelled_.store(false, std::memory_order_release); }
  // Waits up to ms milliseconds of real time; returns true when cancelled.
  bool WaitFor(std::int64_t ms) const;

 private:
  std::atomic<bool> cancelled_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Calendar time in whole seconds.
  virtual std::time_t Now() = 0;
  // Sleeps ms milliseconds. Returns false when the token (if given) was cancelled before or
  // during the sleep; the sleep then ends at once.
  virtual bool Sleep(std::int64_t ms, const CancelToken* cancel) = 0;
};

class SystemClock final : public Clock {
 public:
  std::time_t Now() override;
  bool Sleep(std::int64_t ms, const CancelToken* cancel) override;
};

// The process-wide clock; the system clock unless a test installed another.
Clock& GetClock();
// Installs a clock (nullptr restores the system clock). The clock must outlive its use.
void SetClock(Clock* clock);

// Thread-safe local-time conversion.
std::tm LocalTime(std::time_t t);

}  // namespace zelvik
