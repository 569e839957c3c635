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

std::string UtcOffsetText() {
  const std::time_t t = GetClock().Now();
  const std::tm tm = LocalTime(t);
  // Days since 1970-01-01 of the local date (the civil-calendar count), then seconds.
  const long long y = tm.tm_year + 1900 - (tm.tm_mon < 2 ? 1 : 0);
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long mp = (tm.tm_mon + 10) % 12;  // March is 0
  const long long doy = (153 * mp + 2) / 5 + tm.tm_mday - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long days = era * 146097 + doe - 719468;
  const long long local = days * 86400 + tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
  const long long offset = local - static_cast<long long>(t);
  const int minutes = static_cast<int>((offset < 0 ? -offset : offset) / 60 % (24 * 60));
  char text[16];
  std::snprintf(text, sizeof(text), "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return text;
}

}  // namespace zelvik
