#include "util/codepage.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace zelvik {

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

bool Cp949Holds(std::string_view utf8, std::string* cp949) {
  std::string converted = Utf8ToCp949(utf8);
  if (Cp949ToUtf8(converted) != utf8) return false;
  if (cp949 != nullptr) *cp949 = std::move(converted);
  return true;
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

std::size_t ControlBytesToSpaces(char* text) {
  return text != nullptr ? ControlBytesToSpaces(text, std::strlen(text)) : 0;
}

std::size_t ControlBytesToSpaces(char* text, std::size_t len) {
  auto* p = reinterpret_cast<unsigned char*>(text);
  std::size_t n = 0;
  for (std::size_t i = 0; i < len; ++i) {
    if (p[i] < 0x20 || p[i] == 0x7F) {
      p[i] = ' ';
      ++n;
    }
  }
  return n;
}

bool CopyCut(char* dst, std::size_t dstSize, std::string_view text) {
  if (dst == nullptr || dstSize == 0) return text.empty();
  size_t n = Cp949CutLength(text, dstSize - 1);
  std::memcpy(dst, text.data(), n);
  dst[n] = '\0';
  return n == text.size();
}

}  // namespace zelvik
