#include "util/fixed6.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace zelvik {
namespace {

// Compares with printf's own "%f" and reports the first difference.
::testing::AssertionResult SameAsPrintf(double v) {
  char expected[kFixed6Size + 16];
  std::snprintf(expected, sizeof(expected), "%f", v);
  char got[kFixed6Size];
  std::memset(got, 'x', sizeof(got));
  const int n = FormatFixed6(v, got);
  if (std::strcmp(expected, got) == 0 && n == static_cast<int>(std::strlen(expected))) {
    return ::testing::AssertionSuccess();
  }
  char hex[64];
  std::snprintf(hex, sizeof(hex), "%a", v);
  return ::testing::AssertionFailure()
         << hex << ": printf gives " << expected << ", FormatFixed6 gives " << got;
}

TEST(FormatFixed6, CoordinatesAndSignsPrintAsPrintfDoes) {
  for (double v : {126.99788383100001, 37.502787158, 0.0, -0.0, 1.0, -1.0, 0.5, -142.507314,
                   144.643378, 0.004546, 1e-7, -1e-7, 4e-7, 5e-7, 6e-7, -5e-7, -6e-7,
                   0.9999995, 0.99999949999, 9.9999999, -9.9999999, 99999.9999996, 1e12,
                   9999999999999.998, -9999999999999.998, 1e13, -1e13, 123456789012345.0,
                   DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN, DBL_TRUE_MIN, -DBL_TRUE_MIN,
                   std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_TRUE(SameAsPrintf(v));
  }
  char out[kFixed6Size];
  EXPECT_EQ(FormatFixed6(-1e-9, out), 9);
  EXPECT_STREQ(out, "-0.000000");  // the sign survives rounding to zero, as in printf
}

// Exact ties at the sixth decimal are the odd multiples of 1/128; they go to the even
// neighbour (0.0078125 -> 0.007812, 0.0234375 -> 0.023438).
TEST(FormatFixed6, TiesRoundToEvenLikePrintf) {
  char out[kFixed6Size];
  FormatFixed6(0.0078125, out);
  EXPECT_STREQ(out, "0.007812");
  FormatFixed6(0.0234375, out);
  EXPECT_STREQ(out, "0.023438");
  FormatFixed6(-0.0078125, out);
  EXPECT_STREQ(out, "-0.007812");
  for (std::int64_t j = -200000; j <= 200000; ++j) {
    if (j % 2 == 0) continue;
    ASSERT_TRUE(SameAsPrintf(static_cast<double>(j) / 128.0));
    ASSERT_TRUE(SameAsPrintf(static_cast<double>(j) / 128.0 + 126.0));
  }
  // Large ties: integer plus an odd multiple of 1/128 while the mantissa still holds it.
  for (double base : {1e9, 4294967296.0, 8e12}) {
    for (int j = 1; j < 256; j += 2) ASSERT_TRUE(SameAsPrintf(base + j / 128.0));
  }
}

TEST(FormatFixed6, MillionsOfValuesMatchPrintf) {
  std::mt19937_64 rng(20240601);
  std::uniform_real_distribution<double> coordinate(-200.0, 200.0);
  std::uniform_real_distribution<double> wide(-2e13, 2e13);
  for (int i = 0; i < 400000; ++i) {
    ASSERT_TRUE(SameAsPrintf(coordinate(rng)));
    ASSERT_TRUE(SameAsPrintf(wide(rng)));
    if (i % 4 != 0) continue;
    // Any bit pattern: every exponent, subnormals, NaNs and infinities.
    const std::uint64_t bits = rng();
    double any;
    std::memcpy(&any, &bits, sizeof(any));
    ASSERT_TRUE(SameAsPrintf(any));
  }
  // Right beside the rounding boundaries k + 0.5 millionths, where a shortcut through
  // floating-point multiplication would go wrong.
  for (int i = 0; i < 200000; ++i) {
    const double k = std::floor(coordinate(rng) * 1e6);
    const double boundary = (k + 0.5) / 1e6;
    ASSERT_TRUE(SameAsPrintf(boundary));
    ASSERT_TRUE(SameAsPrintf(std::nextafter(boundary, 1e300)));
    ASSERT_TRUE(SameAsPrintf(std::nextafter(boundary, -1e300)));
  }
}

}  // namespace
}  // namespace zelvik
