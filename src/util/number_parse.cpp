#include "util/number_parse.h"

namespace zelvik {

std::int32_t ParseLong32(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-');
    ++p;
  }
  // Accumulate the magnitude, stopping growth once it is past the range.
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = 2147483648LL;
  while (*p >= '0' && *p <= '9') {
    if (value <= kLimit) value = value * 10 + (*p - '0');
    ++p;
  }
  if (negative) {
    if (value >= kLimit) return INT32_MIN;
    return static_cast<std::int32_t>(-value);
  }
  if (value >= kLimit) return INT32_MAX;
  return static_cast<std::int32_t>(value);
}

}  // namespace zelvik
