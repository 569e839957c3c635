#include "testing/fake_clock.h"

#include <chrono>
#include <thread>

#include "util/platform.h"

namespace zelvik {

std::time_t FakeClock::Now() {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_;
}

bool FakeClock::Sleep(std::int64_t ms, const CancelToken* cancel) {
  if (cancel != nullptr && cancel->IsCancelled()) return false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    auto endsAfterHold = [&] {
      return holding_ && now_ + static_cast<std::time_t>((subSecondMs_ + ms) / 1000) > holdAt_;
    };
    if (endsAfterHold()) {
      ++held_;
      cv_.notify_all();
      // A cancel request does not signal this clock, so look at the token now and then.
      while (endsAfterHold() && (cancel == nullptr || !cancel->IsCancelled())) {
        cv_.wait_for(lock, std::chrono::milliseconds(2));
      }
      --held_;
      if (cancel != nullptr && cancel->IsCancelled()) return false;
    }
    subSecondMs_ += ms;
    now_ += static_cast<std::time_t>(subSecondMs_ / 1000);
    subSecondMs_ %= 1000;
  }
  // Let other threads run, as a real sleep would.
  std::this_thread::yield();
  return cancel == nullptr || !cancel->IsCancelled();
}

void FakeClock::SetNow(std::time_t t) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ = t;
  subSecondMs_ = 0;
  cv_.notify_all();
}

void FakeClock::Advance(std::int64_t seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ += static_cast<std::time_t>(seconds);
  cv_.notify_all();
}

void FakeClock::HoldAt(std::time_t t) {
  std::lock_guard<std::mutex> lock(mutex_);
  holding_ = true;
  holdAt_ = t;
  cv_.notify_all();
}

void FakeClock::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  holding_ = false;
  cv_.notify_all();
}

bool FakeClock::WaitForHeld(int count, std::int64_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return held_ >= count; });
}

int FakeClock::Held() {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_;
}

std::time_t FakeClock::MakeLocal(int year, int month, int day, int hour, int minute,
                                 int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return platform::MakeLocalTime(tm);
}

}  // namespace zelvik
