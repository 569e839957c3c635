#include "extract/row_format.h"

#include <cstring>

#include "util/codepage.h"
#include "util/fixed6.h"

namespace zelvik {
namespace {

// The driver id as written: drv_uid from the position equal to the length of tax_coid on,
// empty when drv_uid is not longer. A double-byte character that the position would split is
// left out whole, so the id never starts on a trail byte.
std::string_view ShortDriverId(std::string_view drvUid, std::string_view taxCoid) {
  const auto* p = reinterpret_cast<const unsigned char*>(drvUid.data());
  std::size_t at = 0;
  while (at < taxCoid.size() && at < drvUid.size()) {
    at += Cp949CharLength(p + at, drvUid.size() - at);
  }
  return at < drvUid.size() ? drvUid.substr(at) : std::string_view();
}

}  // namespace

std::size_t FormatExportRow(const ExportRow& row, double lon, double lat, char* out) {
  std::size_t n = 0;
  auto put = [&](std::string_view s) {
    if (!s.empty()) std::memcpy(out + n, s.data(), s.size());
    n += s.size();
    out[n++] = ',';
  };
  put(row.carNo);
  put(row.creDt);
  put(row.creMonth);
  put(row.areaCd);
  put(row.carX);
  put(row.carY);
  put(row.oncCd);
  put(row.taxCoid);
  put(ShortDriverId(row.drvUid, row.taxCoid));
  n += static_cast<std::size_t>(FormatFixed6(lon, out + n));
  out[n++] = ',';
  n += static_cast<std::size_t>(FormatFixed6(lat, out + n));
  out[n++] = '\r';
  out[n++] = '\n';
  return n;
}

}  // namespace zelvik
