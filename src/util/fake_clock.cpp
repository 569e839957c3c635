#include "util/fake_clock.h"

#include <thread>

namespace zelvik {

std::time_t FakeClock::Now() {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_;
}

bool FakeClock::Sleep(std::int64_t ms, const CancelToken* cancel) {
  if (cancel != nullptr && cancel->IsCancelled()) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sleptMs_ += ms;
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
}

void FakeClock::Advance(std::int64_t seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ += static_cast<std::time_t>(seconds);
}

std::int64_t FakeClock::SleptMs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return sleptMs_;
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
  return mktime(&tm);
}

}  // namespace zelvik
