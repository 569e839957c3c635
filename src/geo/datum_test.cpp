#include "geo/datum.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "util/number_parse.h"

namespace zelvik {
namespace {

std::string Printed(std::uint32_t x, std::uint32_t y) {
  double lon = 0, lat = 0;
  BesselToWgs84(x, y, lon, lat);
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%f,%f", lon, lat);
  return buf;
}

TEST(BesselToWgs84, WorkedExamplesPrintAsListed) {
  EXPECT_EQ(Printed(4572000, 1350000), "126.997884,37.502787");
  EXPECT_EQ(Printed(4571234, 1349876), "126.976608,37.499343");
  EXPECT_EQ(Printed(4578000, 1353600), "127.164531,37.602778");
  EXPECT_EQ(Printed(0, 0), "0.004546,0.006214");
  // Swapped inputs land far from Korea: the first output is always the longitude.
  EXPECT_EQ(Printed(1350000, 4572000), "-142.507314,53.005664");
  // A long value of -1 is taken as 4294967295 units.
  EXPECT_EQ(Printed(ParsePosition("-1"), 1350000), "144.643378,37.503225");
}

TEST(BesselToWgs84, MatchesTheDatumShiftToNineDecimals) {
  // 127 and 37.5 degrees on Bessel, through earth-centred coordinates shifted by
  // (-147, 506, 687) metres, back to WGS84 by the closed-form inverse.
  double lon = 0, lat = 0;
  BesselToWgs84(4572000, 1350000, lon, lat);
  EXPECT_NEAR(lon, 126.997883831, 1e-9);
  EXPECT_NEAR(lat, 37.502787158, 1e-9);
}

}  // namespace
}  // namespace zelvik
