#include "extract/export_plan.h"

#include <cstdio>
#include <cstring>

#include "extract/worker_label.h"
#include "log/run_log.h"
#include "util/codepage.h"
#include "util/format.h"

namespace zelvik {
namespace {

// The table name enters the statement upper-cased.
constexpr const char* kTableName = "CARLOC_HST_LST";

// The parts of the export's file names, UTF-8 in the source (Kr gives their bytes).
constexpr std::string_view kNamePrefix = "carloc_hst-";
constexpr const char* kDayRunAreas = "서울대구";  // worker 1's two areas, 00001 and 00003
constexpr const char* kNamelessArea = "지역알수없음";
// The area table: the areas whose range files carry a name of their own.
struct AreaName {
  const char* code;
  const char* name;
};
constexpr AreaName kAreaNames[] = {
    {"00001", "서울"}, {"00003", "대구"}, {"00007", "청주"}, {"00008", "충주"}};
// A refused name longer than this is shown in its log line by its folder alone.
constexpr std::size_t kShownNameMax = kPathBytes * 8 - 1;

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A day text counts by its first 8 characters, which must be digits.
bool IsDayText(std::string_view day) {
  if (day.size() < 8) return false;
  for (std::size_t i = 0; i < 8; ++i) {
    if (day[i] < '0' || day[i] > '9') return false;
  }
  return true;
}

// True when snprintf's result (terminator included) fitted its buffer of n bytes.
bool Fitted(int length, std::size_t n) {
  return length >= 0 && static_cast<std::size_t>(length) < n;
}

}  // namespace

bool IsValidAreaText(std::string_view area) {
  // code ( "','" code )*
  std::size_t i = 0;
  for (;;) {
    const std::size_t start = i;
    while (i < area.size() && IsAsciiAlnum(area[i])) ++i;
    if (i == start) return false;
    if (i == area.size()) return true;
    if (area.substr(i, 3) != "','") return false;
    i += 3;
  }
}

const std::string& AreaFileName(std::string_view area) {
  for (const AreaName& a : kAreaNames) {
    if (area == a.code) return Kr(a.name);
  }
  return Kr(kNamelessArea);
}

std::string ExportBaseName(const ExportInputs& in) {
  std::string base(kNamePrefix);
  if (in.nWorker == 1) return base + Kr(kDayRunAreas) + "-" + in.strDay.substr(0, 8);
  return base + AreaFileName(in.strArea) + "-" + in.strDay.substr(0, 8) + "-" +
         in.strEndDay.substr(0, 8);
}

bool ParseExportBaseName(std::string_view base, ExportName* name) {
  const auto isDay = [](std::string_view text) { return text.size() == 8 && IsDayText(text); };
  if (!base.starts_with(kNamePrefix)) return false;
  const std::string_view rest = base.substr(kNamePrefix.size());
  const std::string& both = Kr(kDayRunAreas);
  if (rest.size() == both.size() + 9 && rest.starts_with(both) && rest[both.size()] == '-' &&
      isDay(rest.substr(both.size() + 1))) {
    const std::string day(rest.substr(both.size() + 1));
    *name = ExportName{false, day, day, ""};
    return true;
  }
  // <area name>-FROM-TO
  if (rest.size() < 19 || rest[rest.size() - 18] != '-' || rest[rest.size() - 9] != '-') {
    return false;
  }
  const std::string_view first = rest.substr(rest.size() - 17, 8);
  const std::string_view last = rest.substr(rest.size() - 8);
  const std::string_view area = rest.substr(0, rest.size() - 18);
  if (!isDay(first) || !isDay(last)) return false;
  const char* code = "";
  for (const AreaName& a : kAreaNames) {
    if (area == Kr(a.name)) code = a.code;
  }
  if (*code == '\0' && area != Kr(kNamelessArea)) return false;
  *name = ExportName{true, std::string(first), std::string(last), code};
  return true;
}

namespace {

// The worker number, the day texts and a range run's area text; refusals say what was wrong.
PlanResult CheckInputs(const ExportInputs& in, const char* label, std::string& logLine) {
  const bool bRange = in.nWorker != 1;
  if (!IsDayText(in.strDay) || (bRange && !IsDayText(in.strEndDay))) {
    logLine = bRange ? Format("%s day text refused[%s][%s]: 8 digits YYYYMMDD", label,
                              in.strDay.c_str(), in.strEndDay.c_str())
                     : Format("%s day text refused[%s]: 8 digits YYYYMMDD", label,
                              in.strDay.c_str());
    return PlanResult::kBadDay;
  }
  if (bRange && !IsValidAreaText(in.strArea)) {
    logLine = Format("%s area text refused[%s]: codes of letters and digits joined by ',' only",
                     label, in.strArea.c_str());
    return PlanResult::kBadArea;
  }
  return PlanResult::kOk;
}

// The export and summary file names in dir, or kNameTooLong when they would not fit.
PlanResult NameFiles(const ExportInputs& in, const char* dir, ExportPlan& plan,
                     std::string& logLine) {
  // Both files share the base name, and their extensions have the same length.
  static_assert(std::string_view(kExportExtension).size() ==
                std::string_view(kSummaryExtension).size());
  const std::string base = std::string(dir) + "/" + ExportBaseName(in);
  const std::string exportPath = base + kExportExtension;
  if (exportPath.size() > kFileNameMax) {
    logLine = Format("%s file name longer than %zu bytes[%s.dat]", plan.szLabel, kFileNameMax,
                     base.size() <= kShownNameMax ? base.c_str() : dir);
    return PlanResult::kNameTooLong;
  }
  const std::string summaryPath = base + kSummaryExtension;
  std::memcpy(plan.szExportPath, exportPath.c_str(), exportPath.size() + 1);
  std::memcpy(plan.szSummaryPath, summaryPath.c_str(), summaryPath.size() + 1);
  return PlanResult::kOk;
}

// The statement, or kStatementTooLong (and no statement) when it would not fit.
PlanResult WriteStatement(const ExportInputs& in, ExportPlan& plan, std::string& logLine) {
  const char* day = in.strDay.c_str();
  // The statements exactly as the server has always been sent them.
  const int nStatement =
      in.nWorker != 1
          ? std::snprintf(plan.szStatement, kStatementBytes,
                          "select CONCAT(UTL_RAW.CAST_TO_RAW(car_no), '00000000') as car_no, "
                          "cre_dt, substr(cre_dt,5,6), area_cd, car_x, car_y, onc_cd, "
                          "tax_coid,drv_uid from %s where area_cd in ('%s') and cre_day >= "
                          "'%8.8s' and cre_day <= '%8.8s' order by area_cd,car_no,cre_dt;",
                          kTableName, in.strArea.c_str(), day, in.strEndDay.c_str())
          : std::snprintf(plan.szStatement, kStatementBytes,
                          "select CONCAT(UTL_RAW.CAST_TO_RAW(car_no), '00000000') as car_no, "
                          "cre_dt, substr(cre_dt,5,6), area_cd, car_x, car_y, onc_cd, "
                          "tax_coid,drv_uid from %s where area_cd in ('00001','00003') and "
                          "cre_day = '%8.8s' order by area_cd,car_no,cre_dt;",
                          kTableName, day);
  if (!Fitted(nStatement, kStatementBytes)) {
    plan.szStatement[0] = '\0';
    logLine = Format("%s statement longer than %zu bytes not sent, area text[%s]", plan.szLabel,
                     kStatementBytes - 1, in.strArea.c_str());
    return PlanResult::kStatementTooLong;
  }
  return PlanResult::kOk;
}

// The export file's two header lines and the day of the summary lines.
void WriteHeaders(const ExportInputs& in, ExportPlan& plan) {
  plan.strHeader1 = Kr(
      "#차량번호,일자,생성월,지역코드,좌표X(bessel),좌표Y(bessel),승빈차코드,회사코드,운전자ID,"
      "좌표X(wgs84),좌표Y(wgs84)");
  const std::string& codes = Kr("승빈차코드 (공차→공차:0, 공차→승차:1,승차→공차:2, 승차→승차:3)");
  if (in.nWorker != 1) {
    plan.strHeader2 = Kr("#지역코드(") + in.strArea + "), " + codes;
  } else {
    plan.strHeader2 = Kr("#지역코드(서울:'00001',대구:'00003',대구:'00003'), ") + codes;
  }
  plan.strSummaryDate.assign(in.strDay, 0, 8);
}

}  // namespace

PlanResult PlanExport(const ExportInputs& in, const char* exeDir, ExportPlan& plan,
                      std::string& logLine) {
  logLine.clear();
  plan = ExportPlan{};
  if (in.nWorker < 1 || in.nWorker > 4) {
    logLine = Format("ExportLocationHistory worker number[%d] is not 1 to 4", in.nWorker);
    return PlanResult::kBadWorker;
  }
  plan.nWorker = in.nWorker;
  plan.szLabel = WorkerLabel(in.nWorker);
  PlanResult result = CheckInputs(in, plan.szLabel, logLine);
  if (result == PlanResult::kOk) {
    result = NameFiles(in, exeDir != nullptr ? exeDir : "", plan, logLine);
  }
  if (result == PlanResult::kOk) result = WriteStatement(in, plan, logLine);
  if (result == PlanResult::kOk) WriteHeaders(in, plan);
  return result;
}

}  // namespace zelvik
