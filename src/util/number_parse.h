#pragma once
#include <cstdint>

namespace zelvik {

// Reads a decimal text as a 32-bit long, the same on every system (a C library's long is 64
// bits on Linux and 32 on Windows):
// leading white space and one sign accepted, digits read until the first non-digit, a text
// without digits gives 0, and values out of range saturate at 2147483647 / -2147483648.
// A null text gives 0.
std::int32_t ParseLong32(const char* text);

// Positions are handed on as unsigned 32-bit values, so "-1" becomes 4294967295.
inline std::uint32_t ParsePosition(const char* text) {
  return static_cast<std::uint32_t>(ParseLong32(text));
}

}  // namespace zelvik
