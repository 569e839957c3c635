#pragma once
// Pieces shared by the code page conversions of each system.

#include <cstddef>
#include <string_view>

namespace zelvik::codepage_internal {

inline std::size_t Utf8SkipLength(const unsigned char* p, std::size_t left) {
  unsigned char c = p[0];
  std::size_t want = 1;
  if (c >= 0xC2 && c <= 0xDF) want = 2;
  else if (c >= 0xE0 && c <= 0xEF) want = 3;
  else if (c >= 0xF0 && c <= 0xF4) want = 4;
  // A broken or cut-off sequence is one bad character: its lead byte and the continuation
  // bytes that follow it (the maximal subpart).
  std::size_t n = 1;
  while (n < want && n < left && (p[n] & 0xC0) == 0x80) ++n;
  return n;
}

inline bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

}  // namespace zelvik::codepage_internal
