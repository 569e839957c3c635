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
  if (area == "00001") return Kr("서울");
  if (area == "00003") return Kr("대구");
  if (area == "00007") return Kr("청주");
  if (area == "00008") return Kr("충주");
  return Kr("지역알수없음");
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
  const bool bRange = in.nWorker != 1;
  const char* day = in.strDay.c_str();
  // Both files share the base name; ".dat" and ".log" have the same length.
  char szBase[kPathBytes * 8] = {};
  const int nBase =
      bRange ? std::snprintf(szBase, sizeof(szBase), "%s/carloc_hst-%s-%8.8s-%8.8s", dir,
                             AreaFileName(in.strArea).c_str(), day, in.strEndDay.c_str())
             : std::snprintf(szBase, sizeof(szBase), "%s/carloc_hst-%s-%8.8s", dir,
                             Kr("서울대구").c_str(), day);
  const bool baseFits = Fitted(nBase, sizeof(szBase));
  if (!baseFits || static_cast<std::size_t>(nBase) + 4 > kPathBytes - 1) {
    logLine = Format("%s file name longer than %zu bytes[%s.dat]", plan.szLabel, kPathBytes - 1,
                     baseFits ? szBase : dir);
    return PlanResult::kNameTooLong;
  }
  const std::size_t nName = static_cast<std::size_t>(nBase);
  std::memcpy(plan.szExportPath, szBase, nName);
  std::memcpy(plan.szExportPath + nName, ".dat", 5);
  std::memcpy(plan.szSummaryPath, szBase, nName);
  std::memcpy(plan.szSummaryPath + nName, ".log", 5);
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
