// Any bytes as an export row and an area text. The row (two doubles, then nine values of at
// most 63 bytes) must come out exactly as printf's "%s,...,%f,%f" writes it, the driver id
// starting on a character boundary; the area text
// must be refused unless it is codes of letters and digits joined by "','", and when taken
// it must stand in the statement unchanged, inside the fixed limits.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "extract/export_plan.h"
#include "extract/row_format.h"

namespace {

void Fail(const char* what, const std::string& a, const std::string& b) {
  std::fprintf(stderr, "%s\n  got:      %s\n  expected: %s\n", what, a.c_str(), b.c_str());
  std::abort();
}

bool PlainAreaCheck(std::string_view area) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = area.find("','", start);
    const std::string_view code = area.substr(start, end == std::string_view::npos
                                                          ? std::string_view::npos
                                                          : end - start);
    if (code.empty()) return false;
    for (char c : code) {
      if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
        return false;
      }
    }
    if (end == std::string_view::npos) return true;
    start = end + 3;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  double lon = 0, lat = 0;
  if (size >= 16) {
    std::memcpy(&lon, data, 8);
    std::memcpy(&lat, data + 8, 8);
    data += 16;
    size -= 16;
  }
  const std::string_view rest(reinterpret_cast<const char*>(data), size);

  // Nine values cut at '\n', each at most 63 bytes, without zero bytes (fetched text has none).
  std::string values[zelvik::kExportColumns];
  std::size_t pos = 0;
  for (auto& v : values) {
    const std::size_t end = rest.find('\n', pos);
    v = std::string(rest.substr(pos, end == std::string_view::npos ? std::string_view::npos
                                                                   : end - pos));
    v = v.substr(0, std::strlen(v.c_str())).substr(0, zelvik::kColumnBytes - 1);
    pos = end == std::string_view::npos ? rest.size() : end + 1;
  }
  const zelvik::ExportRow row{values[0], values[1], values[2], values[3], values[4],
                              values[5], values[6], values[7], values[8]};
  char got[zelvik::kMaxRowBytes];
  const std::size_t n = zelvik::FormatExportRow(row, lon, lat, got);
  // The driver id begins at the first character boundary of drv_uid at or after the company
  // id's length: a double-byte character that length would split is left out whole.
  std::size_t from = 0;
  for (std::size_t i = 0; i < values[8].size(); ++i) {
    if (i >= values[7].size()) break;
    const auto c = static_cast<unsigned char>(values[8][i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < values[8].size()) ++i;
    from = i + 1;
  }
  const char* driver = from < values[8].size() ? values[8].c_str() + from : "";
  char expected[zelvik::kMaxRowBytes + 64];
  std::snprintf(expected, sizeof(expected), "%s,%s,%s,%s,%s,%s,%s,%s,%s,%f,%f\r\n",
                values[0].c_str(), values[1].c_str(), values[2].c_str(), values[3].c_str(),
                values[4].c_str(), values[5].c_str(), values[6].c_str(), values[7].c_str(),
                driver, lon, lat);
  if (std::string(got, n) != expected) Fail("export row", std::string(got, n), expected);

  // The whole rest as the area text of a range run.
  const std::string area(rest.substr(0, std::strlen(std::string(rest).c_str())));
  zelvik::ExportPlan plan;
  std::string line;
  const auto result = zelvik::PlanExport({2, "20220718", "20220720", area}, "/srv", plan, line);
  const bool plain = PlainAreaCheck(area);
  if (zelvik::IsValidAreaText(area) != plain) Fail("area check", area, plain ? "valid" : "refused");
  if (result == zelvik::PlanResult::kOk) {
    if (!plain) Fail("refused area text taken", area, "");
    const std::string statement = plan.szStatement;
    if (statement.size() > 1023 || std::strlen(plan.szExportPath) > 255) {
      Fail("limit", statement, "");
    }
    if (statement.find("area_cd in ('" + area + "') and") == std::string::npos) {
      Fail("area text not in the statement unchanged", statement, area);
    }
  } else if (result == zelvik::PlanResult::kBadArea) {
    if (plain) Fail("valid area text refused", area, "");
  } else if (result != zelvik::PlanResult::kStatementTooLong) {
    Fail("unexpected refusal", line, "");
  }
  return 0;
}
