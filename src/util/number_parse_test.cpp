#include "util/number_parse.h"

#include <gtest/gtest.h>

namespace zelvik {
namespace {

TEST(ParseLong32, ReadsLikeThe32BitLongConversion) {
  EXPECT_EQ(ParseLong32("4572000"), 4572000);
  EXPECT_EQ(ParseLong32("  \t-42xyz"), -42);
  EXPECT_EQ(ParseLong32("+7"), 7);
  EXPECT_EQ(ParseLong32("abc"), 0);
  EXPECT_EQ(ParseLong32(""), 0);
  EXPECT_EQ(ParseLong32(nullptr), 0);
  EXPECT_EQ(ParseLong32("- 5"), 0);
  EXPECT_EQ(ParseLong32("2147483647"), 2147483647);
  EXPECT_EQ(ParseLong32("2147483648"), 2147483647);
  EXPECT_EQ(ParseLong32("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseLong32("-99999999999999999999999"), INT32_MIN);
  EXPECT_EQ(ParseLong32("99999999999999999999999"), INT32_MAX);
  EXPECT_EQ(ParsePosition("-1"), 4294967295u);
}

}  // namespace
}  // namespace zelvik
