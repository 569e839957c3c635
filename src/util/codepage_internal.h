#pragma once
// Pieces shared by the code page conversions of each system.

#include <cstddef>

#include "util/codepage.h"

namespace zelvik::codepage_internal {

inline std::size_t Utf8SkipLength(const unsigned char* p, std::size_t left) {
  const std::size_t want = Utf8CharLength(p[0]);
  // A broken or cut-off sequence is one bad character: its lead byte and the continuation
  // bytes that follow it (the maximal subpart).
  std::size_t n = 1;
  while (n < want && n < left && (p[n] & 0xC0) == 0x80) ++n;
  return n;
}

}  // namespace zelvik::codepage_internal
