#include "extract/row_format.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "geo/datum.h"
#include "util/codepage.h"

namespace zelvik {
namespace {

std::string Printf6(double v) {
  char buf[512];
  std::snprintf(buf, sizeof(buf), "%f", v);
  return buf;
}

// A number as an export row writes it (as the longitude of a row of empty values).
std::string Fast6(double v) {
  char row[kMaxRowBytes];
  const std::size_t n = FormatExportRow(ExportRow{}, v, 0.0, row);
  const std::string text(row, n);
  EXPECT_EQ(text.compare(0, 9, ",,,,,,,,,"), 0);
  EXPECT_EQ(text.compare(text.size() - 11, 11, ",0.000000\r\n"), 0);
  return text.substr(9, text.size() - 20);
}

TEST(RowNumbers, MatchPrintfOnEdgesTiesAndFallbacks) {
  const double cases[] = {
      0.0, -0.0, 1.0, -1.0, 0.5, 127.0, 37.5, 1e-7, -1e-7, 4e-7, 5e-7, -5e-7, 6e-7,
      0.0000005, 0.0000015, 0.0000025, 1.0000005, 0.9999995, 0.99999949999, 999999.9999995,
      std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(),
      std::numeric_limits<double>::min(), 2147483647.0, 2147483648.0, -2147483649.5, 1e15,
      1e300, -1e300, std::numeric_limits<double>::max(),
      std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::quiet_NaN()};
  for (double v : cases) EXPECT_EQ(Fast6(v), Printf6(v)) << std::hexfloat << v;

  // Exact ties: v * 10^6 ends in .5 only for multiples of 2^-7 * 5^-6 * 5^6 = 1/128.
  for (int k = -40000; k <= 40000; ++k) {
    const double v = k / 128.0;
    ASSERT_EQ(Fast6(v), Printf6(v)) << v;
  }
  // Neighbours of every rounding boundary near typical degrees.
  for (int k = 0; k < 20000; ++k) {
    const double b = 126.0 + (k + 0.5) * 1e-6;
    for (double v : {std::nextafter(b, 0.0), b, std::nextafter(b, 1e9)}) {
      ASSERT_EQ(Fast6(v), Printf6(v)) << std::hexfloat << v;
      ASSERT_EQ(Fast6(-v), Printf6(-v)) << std::hexfloat << v;
    }
  }
}

TEST(RowNumbers, MatchPrintfOnRandomValuesAndConvertedPositions) {
  std::mt19937_64 rng(20220718);
  std::uniform_real_distribution<double> degrees(-200.0, 200.0);
  for (int i = 0; i < 300000; ++i) {
    const double v = degrees(rng);
    ASSERT_EQ(Fast6(v), Printf6(v)) << std::hexfloat << v;
  }
  // Every exponent, finite or not.
  for (int i = 0; i < 300000; ++i) {
    const double v = std::bit_cast<double>(rng());
    ASSERT_EQ(Fast6(v), Printf6(v)) << std::hexfloat << v;
  }
  // What the export actually prints: converted positions across Korea and beyond.
  for (std::uint32_t x = 4500000; x < 4700000; x += 997) {
    for (std::uint32_t y = 1200000; y < 1400000; y += 9973) {
      double lon = 0, lat = 0;
      BesselToWgs84(x, y, lon, lat);
      ASSERT_EQ(Fast6(lon), Printf6(lon)) << x << " " << y;
      ASSERT_EQ(Fast6(lat), Printf6(lat)) << x << " " << y;
    }
  }
}

TEST(FormatExportRow, ShortensTheDriverIdByTheCompanyIdLength) {
  char out[kMaxRowBytes];
  ExportRow row{"12가3456", "20220718093000", "071809", "00003", "4572000", "1290000", "1",
                "T001", "T00198765"};
  std::size_t n = FormatExportRow(row, 128.5, 35.25, out);
  EXPECT_EQ(std::string(out, n),
            "12가3456,20220718093000,071809,00003,4572000,1290000,1,T001,98765,128.500000,"
            "35.250000\r\n");

  row.drvUid = "ABC";  // not longer than the company id: empty
  n = FormatExportRow(row, 0.0, 0.0, out);
  EXPECT_EQ(std::string(out, n),
            "12가3456,20220718093000,071809,00003,4572000,1290000,1,T001,,0.000000,0.000000\r\n");

  row.drvUid = "T001";  // as long as the company id: empty
  row.taxCoid = "";     // an empty company id keeps the whole driver id
  n = FormatExportRow(row, -0.0, 1e-9, out);
  EXPECT_EQ(std::string(out, n),
            "12가3456,20220718093000,071809,00003,4572000,1290000,1,,T001,-0.000000,0.000000\r\n");

  // A one-byte company id before a Korean driver id would split its first character: that
  // character is left out whole.
  const std::string kim = Kr("김철수");
  auto idRow = [&](const std::string& drvUid, const std::string& taxCoid) {
    const ExportRow idOnly{"", "", "", "", "", "", "", taxCoid, drvUid};
    return std::string(out, FormatExportRow(idOnly, 0.0, 0.0, out));
  };
  const std::string zeros = ",0.000000,0.000000\r\n";
  EXPECT_EQ(idRow(kim, "K"), ",,,,,,,K," + Kr("철수") + zeros);
  EXPECT_EQ(idRow(kim, "KK"), ",,,,,,,KK," + Kr("철수") + zeros);
  EXPECT_EQ(idRow("A" + kim, "KK"), ",,,,,,,KK," + Kr("철수") + zeros);
  EXPECT_EQ(idRow(kim, "KKKKK"), ",,,,,,,KKKKK," + zeros);
}

}  // namespace
}  // namespace zelvik
