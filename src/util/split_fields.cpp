#include "util/split_fields.h"

#include <cstring>

namespace zelvik {

int SplitFields(FieldSlot* fields, const char* text, int length, int limit, int delimiter) {
  if (limit > 28) limit = 28;
  if (fields == nullptr || text == nullptr || length < 1) return 0;

  const unsigned char delim = static_cast<unsigned char>(delimiter & 0xFF);
  int count = 0;
  int slot = 0;
  int start = 0;  // first byte of the working field
  for (int i = 0; i < length; ++i) {
    if (static_cast<unsigned char>(text[i]) != delim) continue;
    int n = i - start;
    if (n > kFieldSlotSize - 1) n = kFieldSlotSize - 1;  // keep the slot's terminator
    std::memcpy(fields[slot], text + start, static_cast<size_t>(n));
    fields[slot][n] = '\0';
    ++count;
    if (slot >= limit) return count;
    ++slot;
    start = i + 1;
  }
  int n = length - start;
  if (n > 0) {
    if (n > kFieldSlotSize) n = kFieldSlotSize;  // the working field collects 128 bytes
    if (n >= kFieldSlotSize - 1) n = kFieldSlotSize - 2;  // ... and is stored as 126
    std::memcpy(fields[slot], text + start, static_cast<size_t>(n));
    fields[slot][n] = '\0';
    ++count;
  }
  return count;
}

}  // namespace zelvik
