#pragma once
// Plain-ASCII checks for the fetch path, where nearly every value is ASCII and is handled eight
// bytes (four UTF-16 units) at a time; a value that is not takes the full conversion.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zelvik {

// True when no byte of text is above 0x7F.
inline bool IsAsciiText(std::string_view text) {
  const char* p = text.data();
  std::size_t n = text.size();
  std::uint64_t any = 0;
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    any |= x;
  }
  for (; n > 0; ++p, --n) any |= static_cast<unsigned char>(*p);
  return (any & 0x8080808080808080ull) == 0;
}

// Copies UTF-16 text that is plain ASCII into out (room for utf16.size() bytes, no terminator
// written) and returns true; returns false at the first unit above 0x7F, out then undefined.
inline bool NarrowAscii(std::u16string_view utf16, char* out) {
  const char16_t* p = utf16.data();
  std::size_t n = utf16.size();
  for (; n >= 4; p += 4, out += 4, n -= 4) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    if ((x & 0xFF80FF80FF80FF80ull) != 0) return false;
    // The low byte of each unit, in the units' order whatever the machine's byte order.
    const auto packed = static_cast<std::uint32_t>((x & 0xFFu) | ((x >> 8) & 0xFF00u) |
                                                   ((x >> 16) & 0xFF0000u) |
                                                   ((x >> 24) & 0xFF000000u));
    std::memcpy(out, &packed, 4);
  }
  for (; n > 0; ++p, ++out, --n) {
    if (*p >= 0x80) return false;
    *out = static_cast<char>(*p);
  }
  return true;
}

}  // namespace zelvik
