// Any bytes as the start and end date fields of a worker (split at the first line feed). The
// check must agree with a plain restatement of its rule over the C library's strtol, hand over
// days of exactly eight characters, and a pair it hands over must either plan a range run or
// be refused there with its log line: never overflow a name or a statement.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "extract/export_plan.h"
#include "workers/workers.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& first, const std::string& last) {
  std::fprintf(stderr, "CheckDateFields: %s [%s] [%s]\n", what, first.c_str(), last.c_str());
  std::abort();
}

// The decimal value of characters [pos, pos + len) of a field as a text of its own.
long Piece(const std::string& field, std::size_t pos, std::size_t len) {
  if (pos >= field.size()) return 0;
  const std::string piece = field.substr(pos, len);
  return std::strtol(piece.c_str(), nullptr, 10);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\n');
  const std::string first(input.substr(0, cut));
  const std::string last(cut == std::string_view::npos ? std::string_view()
                                                       : input.substr(cut + 1));

  const long y1 = Piece(first, 0, 4), m1 = Piece(first, 4, 2), d1 = Piece(first, 6, 2);
  const long y2 = Piece(last, 0, 4), m2 = Piece(last, 4, 2), d2 = Piece(last, 6, 2);
  const bool valid = y1 == y2 && m1 == m2 && d1 >= 1 && d2 >= 1 && d1 <= d2;

  std::string firstDay = "unchanged", lastDay = "unchanged";
  const bool got = zelvik::CheckDateFields(first, last, &firstDay, &lastDay);
  if (got != valid) Fail(valid ? "valid pair refused" : "invalid pair taken", first, last);
  if (!got) return 0;

  char want[64];
  std::snprintf(want, sizeof(want), "%04ld%02ld%02ld", y1, m1, d1);
  if (firstDay != want) Fail("start day text", firstDay, want);
  std::snprintf(want, sizeof(want), "%04ld%02ld%02ld", y2, m2, d2);
  if (lastDay != want) Fail("end day text", lastDay, want);
  if (firstDay.size() != 8 || lastDay.size() != 8) Fail("day texts not 8 long", firstDay, lastDay);

  zelvik::ExportPlan plan;
  std::string line;
  const zelvik::PlanResult planned =
      zelvik::PlanExport({3, firstDay, lastDay, "00003"}, "/srv/zelvik", plan, line);
  if (planned == zelvik::PlanResult::kOk) {
    if (std::strlen(plan.szStatement) > 1023 || std::strlen(plan.szExportPath) > 255) {
      Fail("planned past a limit", firstDay, lastDay);
    }
  } else if (planned != zelvik::PlanResult::kBadDay || line.empty()) {
    Fail("handed-over days neither planned nor refused as days", firstDay, lastDay);
  }
  return 0;
}
