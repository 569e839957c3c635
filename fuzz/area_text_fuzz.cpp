// Any bytes as the area text of a range run (after a byte choosing the worker and one choosing
// the length of the program directory). The area check must agree with a plain restatement of
// its rule, and the plan must be exactly the names and statement the formats give, or the
// refusal that the first broken limit calls for: never a text past its fixed buffer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "extract/export_plan.h"
#include "util/codepage.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "PlanExport: %s [%s]\n", what, detail.c_str());
  std::abort();
}

// Codes of ASCII letters and digits, each followed by nothing or by "','" and another code.
bool Plain(std::string_view area) {
  bool inCode = false;
  for (std::size_t i = 0; i < area.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(area[i]);
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      inCode = true;
    } else if (inCode && area.substr(i, 3) == "','") {
      inCode = false;
      i += 2;
    } else {
      return false;
    }
  }
  return inCode;
}

std::string Name(std::string_view area) {
  if (area == "00001") return "서울";
  if (area == "00003") return "대구";
  if (area == "00007") return "청주";
  if (area == "00008") return "충주";
  return "지역알수없음";
}

const char* const kCodes = "승빈차코드 (공차→공차:0, 공차→승차:1,승차→공차:2, 승차→승차:3)";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int worker = 1 + data[0] % 4;
  // A program directory of 3 to 258 bytes, with a two-byte character in it.
  const std::string dir = "/" + zelvik::Kr("가") + std::string(data[1], 'd');
  std::string area(reinterpret_cast<const char*>(data + 2), size - 2);
  area = area.substr(0, area.find('\0'));  // a field's text has no zero byte
  const std::string first = "19930315", last = "19930331";

  const bool plain = Plain(area);
  if (zelvik::IsValidAreaText(area) != plain) Fail(plain ? "valid text refused" : "taken", area);

  zelvik::ExportPlan plan;
  std::string line;
  const zelvik::PlanResult got =
      zelvik::PlanExport({worker, first, last, area}, dir.c_str(), plan, line);
  const bool range = worker != 1;
  zelvik::PlanResult want = zelvik::PlanResult::kOk;
  char base[2048], statement[4096];
  if (range) {
    std::snprintf(base, sizeof(base), "%s/carloc_hst-%s-%s-%s", dir.c_str(),
                  zelvik::Utf8ToCp949(Name(area)).c_str(), first.c_str(), last.c_str());
    std::snprintf(statement, sizeof(statement),
                  "select CONCAT(UTL_RAW.CAST_TO_RAW(car_no), '00000000') as car_no, cre_dt, "
                  "substr(cre_dt,5,6), area_cd, car_x, car_y, onc_cd, tax_coid,drv_uid from "
                  "CARLOC_HST_LST where area_cd in ('%s') and cre_day >= '%s' and cre_day <= "
                  "'%s' order by area_cd,car_no,cre_dt;",
                  area.c_str(), first.c_str(), last.c_str());
  } else {
    std::snprintf(base, sizeof(base), "%s/carloc_hst-%s-%s", dir.c_str(),
                  zelvik::Kr("서울대구").c_str(), first.c_str());
    std::snprintf(statement, sizeof(statement),
                  "select CONCAT(UTL_RAW.CAST_TO_RAW(car_no), '00000000') as car_no, cre_dt, "
                  "substr(cre_dt,5,6), area_cd, car_x, car_y, onc_cd, tax_coid,drv_uid from "
                  "CARLOC_HST_LST where area_cd in ('00001','00003') and cre_day = '%s' order "
                  "by area_cd,car_no,cre_dt;",
                  first.c_str());
  }
  if (range && !plain) {
    want = zelvik::PlanResult::kBadArea;
  } else if (std::strlen(base) + 4 > 255) {
    want = zelvik::PlanResult::kNameTooLong;
  } else if (std::strlen(statement) > 1023) {
    want = zelvik::PlanResult::kStatementTooLong;
  }
  if (got != want) Fail("result", area + " / " + line);
  if (got != zelvik::PlanResult::kOk) {
    if (line.empty()) Fail("refused without a log line", area);
    return 0;
  }
  if (std::string(plan.szExportPath) != std::string(base) + ".dat") Fail("export name", base);
  if (std::string(plan.szSummaryPath) != std::string(base) + ".log") Fail("summary name", base);
  if (std::string(plan.szStatement) != statement) Fail("statement", statement);
  const std::string header2 = range ? zelvik::Kr("#지역코드(") + area + "), " + zelvik::Kr(kCodes)
                                    : zelvik::Kr("#지역코드(서울:'00001',대구:'00003',"
                                                 "대구:'00003'), ") + zelvik::Kr(kCodes);
  if (plan.strHeader2 != header2) Fail("second header line", plan.strHeader2);
  return 0;
}
