#include "db/raw_text.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "util/codepage.h"

namespace zelvik {
namespace {

int HexDigitValue(char c) {
  if (c >= '1' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

// ORs the digits into the zero-filled area, two digits a byte; digits beyond the area are
// not read, and an odd last digit sets only the high half of its byte.
void HexToBytes(std::string_view raw, unsigned char* bytes, std::size_t size) {
  std::size_t n = std::min(raw.size(), size * 2);
  for (std::size_t i = 0; i < n; ++i) {
    auto value = static_cast<unsigned char>(HexDigitValue(raw[i]));
    bytes[i / 2] |= (i % 2 == 0) ? static_cast<unsigned char>(value << 4) : value;
  }
}

// Length of text without a UTF-8 sequence cut off at its end.
std::size_t WholeUtf8Length(const unsigned char* text, std::size_t n) {
  for (std::size_t back = 1; back <= 4 && back <= n; ++back) {
    unsigned char c = text[n - back];
    if ((c & 0xC0) == 0x80) continue;  // continuation byte: look further back
    return Utf8CharLength(c) > back ? n - back : n;
  }
  return n;
}

}  // namespace

void DecodeRawText(char* out, std::size_t outSize, std::string_view raw) {
  // The byte area of one call; at most 2048 digits are read (a longer raw text is cut).
  constexpr std::size_t kByteArea = 1024;
  constexpr std::size_t kClosingBytes = 4;  // the closing "00000000"
  if (raw.empty() || out == nullptr || outSize < 2) return;
  unsigned char bytes[kByteArea] = {};
  const std::size_t written = std::min((raw.size() + 1) / 2, kByteArea);
  HexToBytes(raw.substr(0, kByteArea * 2), bytes, kByteArea);
  // The stored value is every byte before the four closing zero bytes, zero bytes inside it
  // included. Without them the text was cut somewhere (by the area, or before it reached us):
  // zero bytes at its end may be the start of the closing ones, and a character the cut split
  // is dropped whole.
  std::size_t n = written;
  const bool closed = raw.size() <= kByteArea * 2 && n >= kClosingBytes &&
                      std::all_of(bytes + n - kClosingBytes, bytes + n,
                                  [](unsigned char b) { return b == 0; });
  if (closed) {
    n -= kClosingBytes;
  } else {
    while (n > 0 && bytes[n - 1] == 0) --n;
    n = WholeUtf8Length(bytes, n);
  }
  if (n == 0) return;
  // The text goes into line-based files: a control byte anywhere in the value, a zero byte
  // included, becomes a space. In UTF-8 such a byte is always a character of its own.
  ControlBytesToSpaces(reinterpret_cast<char*>(bytes), n);
  std::string text = Utf8ToCp949(std::string_view(reinterpret_cast<const char*>(bytes), n));
  if (text.empty()) return;
  // The text, its terminator and one further zero byte must fit the caller's area.
  std::size_t len = Cp949CutLength(text, outSize - 2);
  std::memcpy(out, text.data(), len);
  out[len] = '\0';
  out[len + 1] = '\0';
}

}  // namespace zelvik
