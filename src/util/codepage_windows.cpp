// Code page conversion on Windows, through the system's own code page 949 table. The results
// match the POSIX side case for case: every character the code page lacks, and every malformed
// sequence, becomes one '?'. Windows left alone would do otherwise in two ways: it writes a
// "best fit" look-alike for some characters ("é" as "e"), and two '?' for a surrogate pair.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "util/codepage.h"
#include "util/ascii_text.h"
#include "util/codepage_internal.h"
#include "util/codepage_windows.h"

namespace zelvik {
namespace {

using codepage_internal::Utf8SkipLength;

constexpr UINT kCp949 = 949;

// One UTF-8 character at p: its code point, or -1 when the sequence is malformed, a
// surrogate, overlong or beyond U+10FFFF. *length is how many bytes it takes (for a bad
// sequence, the maximal subpart, as the POSIX side skips).
std::int32_t DecodeUtf8(const unsigned char* p, std::size_t left, std::size_t* length) {
  const unsigned char c = p[0];
  if (c < 0x80) {
    *length = 1;
    return c;
  }
  // The smallest code point of each sequence length; a smaller one is overlong.
  constexpr std::int32_t kMinCodePoint[] = {0, 0, 0x80, 0x800, 0x10000};
  const std::size_t want = Utf8CharLength(c);
  std::int32_t cp = c & (0x7F >> want);
  const std::int32_t min = kMinCodePoint[want];
  if (want == 1 || left < want) {
    *length = Utf8SkipLength(p, left);
    return -1;
  }
  for (std::size_t i = 1; i < want; ++i) {
    if ((p[i] & 0xC0) != 0x80) {
      *length = Utf8SkipLength(p, left);
      return -1;
    }
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    *length = Utf8SkipLength(p, left);
    return -1;
  }
  *length = want;
  return cp;
}

void AppendUtf16(std::int32_t cp, std::u16string* out) {
  if (cp < 0x10000) {
    out->push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

const wchar_t* AsWide(std::u16string_view s) { return reinterpret_cast<const wchar_t*>(s.data()); }

// UTF-16 to 949 in one call; false when some character needed the default character.
bool WideTo949(std::u16string_view utf16, std::string* out) {
  if (utf16.empty()) {
    out->clear();
    return true;
  }
  const int units = static_cast<int>(utf16.size());
  out->resize(utf16.size() * 2);
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(kCp949, WC_NO_BEST_FIT_CHARS, AsWide(utf16), units,
                                    out->data(), static_cast<int>(out->size()), "?", &usedDefault);
  if (n <= 0 || usedDefault) return false;
  out->resize(static_cast<std::size_t>(n));
  return true;
}

// The same character by character: a surrogate pair (949 has nothing beyond the basic plane),
// a lone surrogate and a character without a 949 form are one '?' each.
void WideTo949Slow(std::u16string_view utf16, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t u = utf16[i];
    if (u < 0x80) {
      out->push_back(static_cast<char>(u));
      continue;
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      if (u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
        ++i;
      }
      out->push_back('?');
      continue;
    }
    char bytes[4];
    BOOL usedDefault = FALSE;
    const wchar_t w = static_cast<wchar_t>(u);
    const int n = WideCharToMultiByte(kCp949, WC_NO_BEST_FIT_CHARS, &w, 1, bytes, sizeof(bytes),
                                      "?", &usedDefault);
    if (n <= 0 || usedDefault) {
      out->push_back('?');
    } else {
      out->append(bytes, static_cast<std::size_t>(n));
    }
  }
}

// 949 to UTF-16: valid characters through the system, everything else one '?' per
// character as Cp949CharLength counts them. Single bytes 0x80 and 0xFF are no characters.
std::u16string From949(std::string_view cp949) {
  std::u16string out;
  out.reserve(cp949.size());
  const auto* p = reinterpret_cast<const unsigned char*>(cp949.data());
  for (std::size_t i = 0; i < cp949.size();) {
    const std::size_t n = Cp949CharLength(p + i, cp949.size() - i);
    if (n == 1) {
      out.push_back(p[i] < 0x80 ? static_cast<char16_t>(p[i]) : u'?');
      i += 1;
      continue;
    }
    wchar_t w[2];
    const int units = MultiByteToWideChar(kCp949, MB_ERR_INVALID_CHARS,
                                          reinterpret_cast<const char*>(p + i), 2, w, 2);
    if (units == 1) {
      out.push_back(static_cast<char16_t>(w[0]));
    } else {
      out.push_back(u'?');
    }
    i += 2;
  }
  return out;
}

std::u16string_view AsUtf16(std::wstring_view s) {
  return {reinterpret_cast<const char16_t*>(s.data()), s.size()};
}

std::wstring WideCopy(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  if (IsAsciiText(utf8)) return std::u16string(utf8.begin(), utf8.end());
  std::u16string out;
  out.reserve(utf8.size());
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t length = 1;
    const std::int32_t cp = DecodeUtf8(p + i, utf8.size() - i, &length);
    if (cp < 0) {
      out.push_back(u'?');
    } else {
      AppendUtf16(cp, &out);
    }
    i += length;
  }
  return out;
}

void Utf16ToCp949(std::u16string_view utf16, std::string* out) {
  out->resize(utf16.size());
  if (NarrowAscii(utf16, out->data())) return;
  if (!WideTo949(utf16, out)) WideTo949Slow(utf16, out);
}

std::string Utf16ToCp949(std::u16string_view utf16) {
  std::string out;
  Utf16ToCp949(utf16, &out);
  return out;
}

std::string Utf8ToCp949(std::string_view utf8) {
  if (IsAsciiText(utf8)) return std::string(utf8);
  // Malformed UTF-8 became '?' in UTF-16 already, which 949 keeps as '?'.
  return Utf16ToCp949(Utf8ToUtf16(utf8));
}

std::u16string Cp949ToUtf16(std::string_view cp949) {
  if (IsAsciiText(cp949)) return std::u16string(cp949.begin(), cp949.end());
  return From949(cp949);
}

std::string Cp949ToUtf8(std::string_view cp949) {
  if (IsAsciiText(cp949)) return std::string(cp949);
  const std::u16string utf16 = From949(cp949);
  return Utf8FromWide({AsWide(utf16), utf16.size()});
}

std::wstring WideFromUtf8(std::string_view utf8) { return WideCopy(Utf8ToUtf16(utf8)); }

std::string Utf8FromWide(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  const int units = static_cast<int>(wide.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr,
                                       nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, out.data(), size, nullptr, nullptr);
  }
  return out;
}

std::wstring WideFromCp949(std::string_view cp949) { return WideCopy(Cp949ToUtf16(cp949)); }

std::string Cp949FromWide(std::wstring_view wide) { return Utf16ToCp949(AsUtf16(wide)); }

}  // namespace zelvik
