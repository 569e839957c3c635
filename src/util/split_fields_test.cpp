#include "util/split_fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace zelvik {
namespace {

struct Split {
  FieldSlot slots[kFieldSlotCount] = {};
  int count = 0;
  Split(const std::string& text, int limit) {
    count = SplitFields(slots, text.data(), static_cast<int>(text.size()), limit, ',');
  }
};

TEST(SplitFields, CountsEmptyFieldsButNotAnEmptyTrailingOne) {
  Split abc("a,b,c", 15);
  EXPECT_EQ(abc.count, 3);
  EXPECT_STREQ(abc.slots[0], "a");
  EXPECT_STREQ(abc.slots[1], "b");
  EXPECT_STREQ(abc.slots[2], "c");
  EXPECT_EQ(Split("a,b,", 15).count, 2);
  Split gap("a,,b", 15);
  EXPECT_EQ(gap.count, 3);
  EXPECT_STREQ(gap.slots[1], "");
  EXPECT_STREQ(gap.slots[2], "b");
  EXPECT_EQ(Split(",", 15).count, 1);
  EXPECT_EQ(Split(",,", 15).count, 2);
  EXPECT_EQ(Split("abc", 15).count, 1);
}

TEST(SplitFields, LimitBoundsTheSlotsWritten) {
  std::string twenty;
  for (int i = 0; i < 20; ++i) twenty += (i ? "," : "") + std::to_string(i);
  Split s(twenty, 15);
  EXPECT_EQ(s.count, 16);
  EXPECT_STREQ(s.slots[15], "15");
  EXPECT_STREQ(s.slots[16], "");

  Split zero("a,b", 0);
  EXPECT_EQ(zero.count, 1);
  EXPECT_STREQ(zero.slots[0], "a");
  EXPECT_STREQ(zero.slots[1], "");
  EXPECT_EQ(Split("a,b", -5).count, 1);

  std::string many;
  for (int i = 0; i < 35; ++i) many += (i ? "," : "") + std::string("x");
  Split forty(many, 40);
  EXPECT_EQ(forty.count, 29);
  EXPECT_STREQ(forty.slots[28], "x");
  EXPECT_STREQ(forty.slots[29], "");
}

TEST(SplitFields, LongFieldsAreCutAndKeepTheirTerminator) {
  for (auto [len, kept] : std::vector<std::pair<int, size_t>>{{200, 126}, {127, 126}, {126, 126}, {128, 126}}) {
    Split s("a," + std::string(static_cast<size_t>(len), 'x'), 15);
    EXPECT_EQ(s.count, 2);
    EXPECT_EQ(std::strlen(s.slots[1]), kept) << len;
  }
  // A field ended by a delimiter keeps 127 bytes.
  Split inner(std::string(300, 'y') + ",b", 15);
  EXPECT_EQ(std::strlen(inner.slots[0]), 127u);
  EXPECT_STREQ(inner.slots[1], "b");
}

TEST(SplitFields, NothingToSplitLeavesTheArrayUntouched) {
  FieldSlot slots[kFieldSlotCount] = {};
  slots[0][0] = 'z';
  EXPECT_EQ(SplitFields(slots, "abc", 0, 15, ','), 0);
  EXPECT_EQ(SplitFields(slots, nullptr, 3, 15, ','), 0);
  EXPECT_EQ(SplitFields(nullptr, "abc", 3, 15, ','), 0);
  EXPECT_EQ(slots[0][0], 'z');
  // Only the delimiter's low byte is compared; NUL bytes are data.
  std::string withNul("a\0b;c", 5);
  EXPECT_EQ(SplitFields(slots, withNul.data(), 5, 15, ';' + 0x100), 2);
}

}  // namespace
}  // namespace zelvik
