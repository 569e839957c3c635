#include "util/time_string.h"

#include <gtest/gtest.h>

#include "testing/fake_clock.h"

namespace zelvik {
namespace {

// The tests run with TZ=Asia/Seoul.
TEST(GetTimeString, FormatsBothFormsAndTheWeekday) {
  FakeClock clock(FakeClock::MakeLocal(2015, 3, 1, 0, 30, 0));
  ScopedClock scope(&clock);
  char buf[32] = {};
  EXPECT_EQ(GetTimeString(buf, 0, 1), 6);
  EXPECT_STREQ(buf, "20150228003000");
  EXPECT_EQ(GetTimeString(buf, 1, 0), 0);
  EXPECT_STREQ(buf, "2015/03/01 00:30:00");
  EXPECT_EQ(GetTimeString(buf, 1, -2), 0);
  EXPECT_STREQ(buf, "2015/03/01 00:30:00");
  EXPECT_EQ(GetTimeString(nullptr, 1, 0), 0);
}

TEST(GetTimeString, DaysBackAreFixedSteps) {
  FakeClock clock(FakeClock::MakeLocal(2024, 3, 1, 23, 59, 59));
  ScopedClock scope(&clock);
  char buf[32] = {};
  GetTimeString(buf, 0, 1);
  EXPECT_STREQ(buf, "20240229235959");  // leap day
  GetTimeString(buf, 0, 366);
  EXPECT_STREQ(buf, "20230301235959");
}

TEST(UtcOffsetText, KoreaIsNineHoursAhead) {
  FakeClock clock(FakeClock::MakeLocal(2019, 5, 20, 7, 0, 0));
  ScopedClock scope(&clock);
  EXPECT_EQ(UtcOffsetText(), "+09:00");
}

}  // namespace
}  // namespace zelvik
