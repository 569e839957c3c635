// Code page conversion on POSIX systems, through iconv.
#include "util/codepage.h"
#include "util/ascii_text.h"
#include "util/codepage_internal.h"

#include <errno.h>
#include <iconv.h>

#include <bit>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace zelvik {
namespace {

using codepage_internal::Utf8SkipLength;

// iconv handles keep conversion state, so each thread has its own pair.
class Converter {
 public:
  // replacement: the bytes of '?' in the target encoding.
  Converter(const char* to, const char* from, std::string_view replacement = "?")
      : cd_(iconv_open(to, from)), replacement_(replacement) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts, putting '?' for every input character that cannot be converted or is malformed.
  // skip(p, n) tells how many input bytes make the offending character.
  template <typename SkipFn>
  std::string Run(std::string_view in, SkipFn skip) {
    std::string out;
    RunInto(in, skip, out);
    return out;
  }

  // The same into out (its capacity is reused); out ends up holding the result alone.
  template <typename SkipFn>
  void RunInto(std::string_view in, SkipFn skip, std::string& out) {
    out.resize(in.size() * 2 + 8);
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    size_t used = 0;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
      char* outPtr = out.data() + used;
      size_t outLeft = out.size() - used;
      size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      used = out.size() - outLeft;
      if (rc != static_cast<size_t>(-1)) break;
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      // EILSEQ or EINVAL: one character that cannot be converted (or is cut off).
      if (out.size() - used < replacement_.size()) out.resize(out.size() * 2);
      std::memcpy(out.data() + used, replacement_.data(), replacement_.size());
      used += replacement_.size();
      size_t n = skip(reinterpret_cast<const unsigned char*>(inPtr), inLeft);
      inPtr += n;
      inLeft -= n;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(used);
  }

 private:
  iconv_t cd_;
  std::string replacement_;
};

size_t Cp949SkipLength(const unsigned char* p, size_t left) {
  return Cp949CharLength(p, left);
}

// A UTF-16 character that cannot be converted: a surrogate pair counts as one, anything else
// (a lone surrogate included) is one unit.
size_t Utf16SkipLength(const unsigned char* p, size_t left) {
  if (left >= 4) {
    char16_t hi = 0;
    char16_t lo = 0;
    std::memcpy(&hi, p, 2);
    std::memcpy(&lo, p + 2, 2);
    if (hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF) return 4;
  }
  return left >= 2 ? 2 : left;
}

// iconv's name for UTF-16 in this machine's byte order (the order of char16_t in memory).
constexpr const char* kUtf16Native =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// '?' as one UTF-16 unit in memory order.
const std::string_view kUtf16Question{"?\0", 2};
const std::string_view kUtf16QuestionBe{"\0?", 2};
std::string_view Utf16Question() {
  return std::endian::native == std::endian::little ? kUtf16Question : kUtf16QuestionBe;
}

std::string_view AsBytes(std::u16string_view s) {
  return {reinterpret_cast<const char*>(s.data()), s.size() * sizeof(char16_t)};
}

std::u16string BytesToUtf16(const std::string& bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

}  // namespace

std::string Utf8ToCp949(std::string_view utf8) {
  if (IsAsciiText(utf8)) return std::string(utf8);
  thread_local Converter conv("CP949", "UTF-8");
  return conv.Run(utf8, Utf8SkipLength);
}

std::string Cp949ToUtf8(std::string_view cp949) {
  if (IsAsciiText(cp949)) return std::string(cp949);
  thread_local Converter conv("UTF-8", "CP949");
  return conv.Run(cp949, Cp949SkipLength);
}

void Utf16ToCp949(std::u16string_view utf16, std::string* out) {
  out->resize(utf16.size());
  if (NarrowAscii(utf16, out->data())) return;
  thread_local Converter conv("CP949", kUtf16Native);
  conv.RunInto(AsBytes(utf16), Utf16SkipLength, *out);
}

std::string Utf16ToCp949(std::u16string_view utf16) {
  std::string out;
  Utf16ToCp949(utf16, &out);
  return out;
}

std::u16string Cp949ToUtf16(std::string_view cp949) {
  if (IsAsciiText(cp949)) return std::u16string(cp949.begin(), cp949.end());
  thread_local Converter conv(kUtf16Native, "CP949", Utf16Question());
  return BytesToUtf16(conv.Run(cp949, Cp949SkipLength));
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  if (IsAsciiText(utf8)) return std::u16string(utf8.begin(), utf8.end());
  thread_local Converter conv(kUtf16Native, "UTF-8", Utf16Question());
  return BytesToUtf16(conv.Run(utf8, Utf8SkipLength));
}

}  // namespace zelvik
