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

TEST(BesselToWgs84, IntermediateCartesianPointsMatch) {
  double x, y, z;
  GeodeticToEcef(37.5, 127.0, 0.0, x, y, z, 6377397.155, 6356078.962818189);
  EXPECT_NEAR(x, -3048673.4825, 5e-4);
  EXPECT_NEAR(y, 4045726.3578, 5e-4);
  EXPECT_NEAR(z, 3861179.5914, 5e-4);
  double lat, lon, h;
  EcefToGeodetic(x - 147, y + 506, z + 687, lat, lon, h, 6378137.0, 6356752.314245179);
  EXPECT_NEAR(lon, 126.997883831, 1e-9);
  EXPECT_NEAR(lat, 37.502787158, 1e-9);
  EXPECT_NEAR(h, 93.76, 0.01);
}

}  // namespace
}  // namespace zelvik
