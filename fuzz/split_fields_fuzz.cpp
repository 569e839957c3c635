// Any bytes as a line: SplitFields must match a plain re-statement of its rules, never write
// past the slots it may write, and keep every slot terminated.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "util/split_fields.h"

namespace {

std::vector<std::string> Reference(const std::string& text, int limit, char delim) {
  if (limit > 28) limit = 28;
  std::vector<std::string> out;
  std::string field;
  for (char c : text) {
    if (c == delim) {
      out.push_back(field.substr(0, 127));
      if (static_cast<int>(out.size()) - 1 >= limit) return out;
      field.clear();
    } else {
      field.push_back(c);
    }
  }
  if (!field.empty()) out.push_back(field.size() >= 127 ? field.substr(0, 126) : field);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int limit = static_cast<int>(static_cast<std::int8_t>(data[0]));
  const char delim = static_cast<char>(data[1]);
  std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

  static zelvik::FieldSlot slots[zelvik::kFieldSlotCount + 1];
  std::memset(slots, 0, sizeof(slots));
  std::memset(slots[zelvik::kFieldSlotCount], 0x5A, sizeof(slots[0]));  // guard slot
  const int n = zelvik::SplitFields(slots, text.data(), static_cast<int>(text.size()), limit,
                                    static_cast<unsigned char>(delim) | 0x300);
  const std::vector<std::string> want = Reference(text, limit, delim);
  if (text.empty() ? n != 0 : n != static_cast<int>(want.size())) std::abort();
  for (int i = 0; i < n; ++i) {
    if (std::memcmp(slots[i], want[static_cast<size_t>(i)].data(), want[static_cast<size_t>(i)].size()) != 0 ||
        slots[i][want[static_cast<size_t>(i)].size()] != '\0') {
      std::abort();
    }
  }
  for (int i = n; i < zelvik::kFieldSlotCount; ++i) {
    if (slots[i][0] != '\0') std::abort();
  }
  for (unsigned char c : slots[zelvik::kFieldSlotCount]) {
    if (c != 0x5A) std::abort();
  }
  return 0;
}
