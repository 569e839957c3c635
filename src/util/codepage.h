#pragma once
// Text inside the program is code page 949 bytes; UTF-8 is met only at the edges (file-system
// paths, the database's raw bytes, the terminal, the window toolkit).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace zelvik {

// UTF-8 to code page 949. Characters 949 lacks, and malformed UTF-8, become '?'.
std::string Utf8ToCp949(std::string_view utf8);
// Code page 949 to UTF-8. Bytes that are not valid 949 become '?'.
std::string Cp949ToUtf8(std::string_view cp949);

// UTF-16 (the database driver's wide text) to code page 949: characters 949 lacks, and
// unpaired surrogates, become '?' (a surrogate pair is one character). The pointer form reuses
// the capacity of out, for converting many values in a row.
std::string Utf16ToCp949(std::u16string_view utf16);
void Utf16ToCp949(std::u16string_view utf16, std::string* out);
// Code page 949 to UTF-16 (statements and connect strings for the wide driver entry points).
// Bytes that are not valid 949 become '?'.
std::u16string Cp949ToUtf16(std::string_view cp949);
// UTF-8 to UTF-16; malformed UTF-8 becomes '?'.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Whether code page 949 holds every character of the UTF-8 text, which the program can then
// name by it: converted with a '?' in place of a character, a path would name another file or
// folder, or none. When it does and cp949 is not null, *cp949 receives the converted text.
bool Cp949Holds(std::string_view utf8, std::string* cp949 = nullptr);

// The system's Korean literals are written readably in UTF-8 source; this gives their code
// page 949 bytes, converted once per distinct literal and kept for the life of the process.
const std::string& Kr(const char* utf8Literal);

// Length in bytes of the UTF-8 character a lead byte starts (2 to 4); 1 for an ASCII byte and
// for a byte that cannot start a sequence (a continuation byte, 0xC0, 0xC1, 0xF5 and up).
inline std::size_t Utf8CharLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

// Length in bytes of the character starting at s[0] in code page 949 (1 or 2); a lead byte
// at the end of the text counts as one byte.
inline std::size_t Cp949CharLength(const unsigned char* s, std::size_t remaining) {
  return (s[0] >= 0x81 && s[0] <= 0xFE && remaining >= 2 && s[1] != 0) ? 2 : 1;
}

// The longest prefix of text, at most maxBytes long, that does not split a double-byte
// character. Character boundaries are found by scanning from the start.
std::size_t Cp949CutLength(std::string_view text, std::size_t maxBytes);

// Replaces every control byte (0x01-0x1F, 0x7F) of a zero-terminated text with a space, so
// that the text stays one line of a line-based file. Bytes 0x80 and up are left alone: in code
// page 949 0x81-0x9F are lead bytes, and no trail byte is a control byte. Returns the number
// replaced.
std::size_t ControlBytesToSpaces(char* text);
// The same over len bytes, zero bytes included: a value whose length is known, where a zero
// byte would otherwise end the text early.
std::size_t ControlBytesToSpaces(char* text, std::size_t len);
// Whether the text holds a control byte (0x00-0x1F, 0x7F). Every fetched value of an export
// is asked, and almost none holds one: the text is looked at eight bytes at a time, inline.
inline bool HasControlBytes(std::string_view text) {
  const char* p = text.data();
  const std::size_t len = text.size();
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHigh = 0x8080808080808080u;
  // High bits where a byte is below 0x20 or is 0x7F (a borrow can mark more bytes, but only
  // after a byte that is one of them).
  const auto marks = [](std::uint64_t w) {
    const std::uint64_t del = w ^ (kOnes * 0x7F);
    return ((w - kOnes * 0x20) & ~w & kHigh) | ((del - kOnes) & ~del & kHigh);
  };
  // Loads that cover every byte without reading past the text: whole words and the last
  // eight bytes; two overlapping halves for four to seven bytes; the first, middle and last
  // byte for one to three.
  std::uint64_t found = 0;
  if (len >= 8) {
    std::uint64_t w;
    for (std::size_t i = 0; i + 8 <= len; i += 8) {
      std::memcpy(&w, p + i, 8);
      found |= marks(w);
    }
    std::memcpy(&w, p + len - 8, 8);
    found |= marks(w);
  } else if (len >= 4) {
    std::uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + len - 4, 4);
    found = marks(lo | (static_cast<std::uint64_t>(hi) << 32));
  } else if (len > 0) {
    const auto b = [p](std::size_t i) {
      return static_cast<std::uint64_t>(static_cast<unsigned char>(p[i]));
    };
    found = marks(b(0) | (b(len / 2) << 8) | (b(len - 1) << 16) | (kOnes * ' ' << 24));
  }
  return found != 0;
}

// Copies text into dst (dstSize bytes with its terminator), cut at a character boundary.
// Returns false when the text had to be cut.
bool CopyCut(char* dst, std::size_t dstSize, std::string_view text);

}  // namespace zelvik
