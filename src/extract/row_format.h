#pragma once
// One export row as the export file holds it: nine column values and the two WGS84 numbers,
// comma-separated, ending in CR LF, with the limits of each value.

#include <cstddef>
#include <string_view>

#include "util/fixed6.h"

namespace zelvik {

constexpr std::size_t kColumnBytes = 64;      // a column value: 63 bytes and its terminator
constexpr std::size_t kCarNoBytes = 64;       // a decoded vehicle number: 62 bytes, two zeros
constexpr int kExportColumns = 9;

// The fields of one export row, as they are written.
struct ExportRow {
  std::string_view carNo, creDt, creMonth, areaCd, carX, carY, oncCd, taxCoid, drvUid;
};

// Longest row FormatExportRow writes: nine values of at most 63 bytes, two numbers, commas,
// line end.
constexpr std::size_t kMaxRowBytes = kExportColumns * (kColumnBytes - 1) + 2 * kFixed6Size + 16;

// Formats "%s,%s,%s,%s,%s,%s,%s,%s,%s,%f,%f" and CR LF into out (kMaxRowBytes) and returns
// the length. Values must already be cut to 63 bytes. The driver id is written from the
// position equal to the length of the company id on (empty when it is not longer), never
// starting on the trail byte of a double-byte character. The numbers come out exactly as
// printf's "%f" writes them (six decimals, the exact binary value rounded half to even), at a
// fraction of its cost.
std::size_t FormatExportRow(const ExportRow& row, double lon, double lat, char* out);

}  // namespace zelvik
