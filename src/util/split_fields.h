#pragma once

namespace zelvik {

constexpr int kFieldSlotSize = 128;
constexpr int kFieldSlotCount = 30;
using FieldSlot = char[kFieldSlotSize];

// Cuts length bytes of text at the delimiter's low byte into the caller's zero-filled slots.
// Writes at most limit + 1 slots (limit lowered to 28). A field ended by a delimiter keeps at
// most 127 bytes, the trailing field at most 126; an empty trailing field is not counted.
// Returns the number of fields stored; 0 when fields or text is null or length < 1.
int SplitFields(FieldSlot* fields, const char* text, int length, int limit, int delimiter);

}  // namespace zelvik
