// Any bytes as a raw hexadecimal column for DecodeRawText. The first byte picks the caller's
// area (the vehicle number's 64 bytes, the company name's 1024, or a small odd size) and how
// the rest is read: as the raw text itself, or as stored bytes that the harness turns into
// hexadecimal digits with the closing "00000000", the way the server sends a column (or
// without them, as a text cut on its way arrives).
//
// Checked every time: nothing is written outside the area (it is allocated at its exact size
// and fenced), the text ends inside it with one further zero after its terminator, the text
// is whole code page 949 characters, and it holds no control byte (it is written into
// line-based files). For stored bytes that are valid UTF-8, the text must also equal a
// reference decoding made character by character, control characters (zero included) as
// spaces, cut at the longest character boundary that fits.
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/raw_text.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "DecodeRawText: %s\n", what);
  std::abort();
}

// Bytes to the digits the server's cast gives, upper or lower case, then the closing zeros
// (left off for a text that was cut on its way).
std::string ToRaw(std::string_view bytes, bool lower, bool closed) {
  const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string raw;
  for (unsigned char c : bytes) {
    raw.push_back(digits[c >> 4]);
    raw.push_back(digits[c & 15]);
  }
  return closed ? raw + "00000000" : raw;
}

// Code points of valid UTF-8 (no overlong forms, no surrogates, at most U+10FFFF); false for
// anything else.
bool DecodeUtf8(std::string_view s, std::vector<char32_t>* out) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    char32_t cp = 0;
    if (c < 0x80) { n = 1; cp = c; }
    else if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1Fu; }
    else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0Fu; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07u; }
    else return false;
    if (i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3Fu);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    out->push_back(cp);
    i += n;
  }
  return true;
}

// One character in code page 949 through its own iconv call, '?' when 949 lacks it.
std::string CharTo949(char32_t cp) {
  static iconv_t cd = iconv_open("CP949", "UTF-32LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) Fail("iconv lacks CP949");
  unsigned char in[4] = {static_cast<unsigned char>(cp), static_cast<unsigned char>(cp >> 8),
                         static_cast<unsigned char>(cp >> 16),
                         static_cast<unsigned char>(cp >> 24)};
  char outBytes[8];
  char* inPtr = reinterpret_cast<char*>(in);
  std::size_t inLeft = 4;
  char* outPtr = outBytes;
  std::size_t outLeft = sizeof(outBytes);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return "?";
  return std::string(outBytes, sizeof(outBytes) - outLeft);
}

// Lengths of the code page 949 characters of text, scanning from its start.
std::vector<std::size_t> Boundaries(std::string_view text) {
  std::vector<std::size_t> at{0};
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    i += (c >= 0x81 && c <= 0xFE && i + 1 < text.size()) ? 2 : 1;
    at.push_back(i);
  }
  return at;
}

constexpr std::size_t kFence = 16;
constexpr unsigned char kFenceByte = 0xA5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const std::size_t kSizes[] = {64, 1024, 2, 3, 7, 128};
  const std::size_t areaSize = kSizes[(data[0] & 0x0F) % 6];
  const bool asStored = (data[0] & 0x10) != 0;
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

  // The stored bytes, zero bytes included: only the closing zeros end them.
  std::string_view stored = input;
  const bool closed = (data[0] & 0x40) == 0;
  const std::string raw =
      asStored ? ToRaw(stored, (data[0] & 0x20) != 0, closed) : std::string(input);

  // Fence bytes on both sides of the zero-filled area catch a stray write even where the
  // sanitizer's red zone would not.
  std::vector<unsigned char> block(areaSize + 2 * kFence, kFenceByte);
  char* area = reinterpret_cast<char*>(block.data() + kFence);
  std::memset(area, 0, areaSize);
  zelvik::DecodeRawText(area, areaSize, raw);
  for (std::size_t i = 0; i < kFence; ++i) {
    if (block[i] != kFenceByte || block[kFence + areaSize + i] != kFenceByte) {
      Fail("wrote outside the area");
    }
  }
  const std::size_t len = ::strnlen(area, areaSize);
  if (len + 2 > areaSize) Fail("text, terminator and a further zero do not fit the area");
  for (std::size_t i = len; i < areaSize; ++i) {
    if (area[i] != '\0') Fail("bytes after the terminator");
  }
  const std::string_view text(area, len);
  if (Boundaries(text).back() != len) Fail("text ends inside a character");
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) Fail("a control byte in the text");
  }
  // The conversion only gives whole characters, so a lead byte left alone at the end means
  // the cut split one.
  if (len > 0) {
    const std::vector<std::size_t> at = Boundaries(text);
    const auto c = static_cast<unsigned char>(text[at[at.size() - 2]]);
    if (len - at[at.size() - 2] == 1 && c >= 0x81 && c <= 0xFE) Fail("a lone lead byte");
  }

  if (!asStored) return 0;
  // A cut text that ends in four zero bytes reads as a closed one: nothing tells them apart.
  bool whole = closed;
  if (!closed && stored.size() >= 4 && stored.size() <= 1024 &&
      stored.substr(stored.size() - 4) == std::string_view("\0\0\0\0", 4)) {
    stored.remove_suffix(4);
    whole = true;
  }
  // At most 1024 bytes are read (2048 digits). A text cut by that limit, or without its
  // closing zeros, loses the zero bytes at its end (they may start the closing ones) and a
  // character the cut split, whole.
  std::string readBytes;
  if (!whole || stored.size() + 4 > 1024) {
    readBytes = std::string(stored) + (whole ? std::string(4, '\0') : std::string());
    readBytes.resize(std::min<std::size_t>(readBytes.size(), 1024));
    while (!readBytes.empty() && readBytes.back() == '\0') readBytes.pop_back();
    stored = readBytes;
    std::size_t keep = stored.size();
    for (std::size_t back = 1; back <= 3 && back <= stored.size(); ++back) {
      const auto c = static_cast<unsigned char>(stored[stored.size() - back]);
      if ((c & 0xC0) == 0x80) continue;
      // Only a lead byte starts a sequence that the limit can cut; any other byte is whole
      // (an invalid one is a character of its own).
      const std::size_t n = (c >= 0xF0 && c <= 0xF4) ? 4
                            : (c >= 0xE0 && c <= 0xEF) ? 3
                            : (c >= 0xC2 && c <= 0xDF) ? 2 : 1;
      if (n > back) keep = stored.size() - back;
      break;
    }
    stored = stored.substr(0, keep);
  }
  std::vector<char32_t> cps;
  if (!DecodeUtf8(stored, &cps)) return 0;
  std::string full;
  for (char32_t cp : cps) full += (cp < 0x20 || cp == 0x7F) ? std::string(" ") : CharTo949(cp);
  std::size_t want = 0;
  for (std::size_t b : Boundaries(full)) {
    if (b <= areaSize - 2) want = b;
  }
  if (text != std::string_view(full).substr(0, want)) {
    std::fprintf(stderr, "area %zu: got %zu bytes, the reference %zu of %zu\n", areaSize, len,
                 want, full.size());
    Fail("differs from the reference decoding");
  }
  return 0;
}
