#include "util/time_string.h"

#include <cstdio>
#include <ctime>

#include "util/clock.h"

namespace zelvik {

int GetTimeString(char* buffer, int slashed, int daysBack) {
  if (buffer == nullptr) return 0;
  std::time_t t = GetClock().Now();
  if (daysBack > 0) t -= static_cast<std::time_t>(daysBack) * 86400;
  return FormatTimeString(buffer, slashed, t);
}

int FormatTimeString(char* buffer, int slashed, std::time_t t) {
  if (buffer == nullptr) return 0;
  const std::tm tm = LocalTime(t);
  // 20 bytes hold either form and its terminator; years past 9999 are cut, never overflowed.
  std::snprintf(buffer, 20, slashed ? "%04d/%02d/%02d %02d:%02d:%02d" : "%04d%02d%02d%02d%02d%02d",
                tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return tm.tm_wday;
}

}  // namespace zelvik
