#include "util/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace zelvik {
namespace {

// iconv handles keep conversion state, so each thread has its own pair.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
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
      if (out.size() - used < 1) out.resize(out.size() * 2);
      out[used++] = '?';
      size_t n = skip(reinterpret_cast<const unsigned char*>(inPtr), inLeft);
      inPtr += n;
      inLeft -= n;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(used);
    return out;
  }

 private:
  iconv_t cd_;
};

size_t Utf8SkipLength(const unsigned char* p, size_t left) {
  unsigned char c = p[0];
  size_t want = 1;
  if (c >= 0xC2 && c <= 0xDF) want = 2;
  else if (c >= 0xE0 && c <= 0xEF) want = 3;
  else if (c >= 0xF0 && c <= 0xF4) want = 4;
  // A broken or cut-off sequence is one bad character: its lead byte and the continuation
  // bytes that follow it (the maximal subpart).
  size_t n = 1;
  while (n < want && n < left && (p[n] & 0xC0) == 0x80) ++n;
  return n;
}

size_t Cp949SkipLength(const unsigned char* p, size_t left) {
  return Cp949CharLength(p, left);
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string Utf8ToCp949(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  thread_local Converter conv("CP949", "UTF-8");
  return conv.Run(utf8, Utf8SkipLength);
}

std::string Cp949ToUtf8(std::string_view cp949) {
  if (IsAscii(cp949)) return std::string(cp949);
  thread_local Converter conv("UTF-8", "CP949");
  return conv.Run(cp949, Cp949SkipLength);
}

const std::string& Kr(const char* utf8Literal) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<std::string>, std::less<>> cache;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = cache.find(std::string_view(utf8Literal));
  if (it == cache.end()) {
    it = cache.emplace(utf8Literal, std::make_unique<std::string>(Utf8ToCp949(utf8Literal)))
             .first;
  }
  return *it->second;
}

namespace {
void LowerInPlace(unsigned char* p, size_t len) {
  for (size_t i = 0; i < len;) {
    size_t n = Cp949CharLength(p + i, len - i);
    if (n == 1 && p[i] >= 'A' && p[i] <= 'Z') p[i] = static_cast<unsigned char>(p[i] + 32);
    i += n;
  }
}
}  // namespace

void LowerAsciiCp949(char* text) {
  if (text == nullptr) return;
  LowerInPlace(reinterpret_cast<unsigned char*>(text), std::strlen(text));
}

std::string LowerAsciiCp949(std::string_view text) {
  std::string out(text);
  LowerInPlace(reinterpret_cast<unsigned char*>(out.data()), out.size());
  return out;
}

std::size_t Cp949CutLength(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text.size();
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t i = 0;
  while (i < text.size()) {
    size_t n = Cp949CharLength(p + i, text.size() - i);
    if (i + n > maxBytes) break;
    i += n;
  }
  return i;
}

bool CopyCut(char* dst, std::size_t dstSize, std::string_view text) {
  if (dst == nullptr || dstSize == 0) return text.empty();
  size_t n = Cp949CutLength(text, dstSize - 1);
  std::memcpy(dst, text.data(), n);
  dst[n] = '\0';
  return n == text.size();
}

}  // namespace zelvik
