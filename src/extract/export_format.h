#pragma once
// What an export run writes and sends, apart from the database: the inputs, the file names,
// header lines and statement built from them (with the checks that keep every text inside its
// fixed limit), and the formatting of one export row.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "util/codepage.h"
#include "util/fixed6.h"

namespace zelvik {

constexpr std::size_t kColumnBytes = 64;      // a column value: 63 bytes and its terminator
constexpr std::size_t kCarNoBytes = 64;       // a decoded vehicle number: 62 bytes, two zeros
constexpr std::size_t kPathBytes = 256;       // a file name: 255 bytes and its terminator
constexpr std::size_t kStatementBytes = 1024;  // a statement: 1023 bytes and its terminator
constexpr int kExportColumns = 9;

// What a worker hands to its export run.
struct ExportInputs {
  int nWorker = 1;        // 1: the day run of areas 00001 and 00003; 2 to 4: a range run
  std::string strDay;     // the day (worker 1) or the start day; its first 8 characters count
  std::string strEndDay;  // range run: the end day
  std::string strArea;    // range run: the area text as the worker captured it
};

// "s_ThreadWorker" for worker 1, "s_ThreadWorker2" to "s_ThreadWorker4" for the others.
const char* WorkerLabel(int nWorker);

// An area text may name several areas, but only as codes of ASCII letters and digits joined
// by "','" (00001','00003); anything else could change the statement.
bool IsValidAreaText(std::string_view area);

// The name part of a range run's files: 서울, 대구, 청주, 충주 for exactly 00001, 00003, 00007,
// 00008, else 지역알수없음 (code page 949).
const std::string& AreaFileName(std::string_view area);

// Everything a run needs before it touches a file or the database.
struct ExportPlan {
  int nWorker = 1;
  const char* szLabel = "";
  char szExportPath[kPathBytes] = {};
  char szSummaryPath[kPathBytes] = {};
  std::string strHeader1;           // export file lines, without their line ends
  std::string strHeader2;
  char szStatement[kStatementBytes] = {};
  std::string strSummaryDate;       // the day the summary lines carry (first 8 characters)
};

enum class PlanResult { kOk, kBadWorker, kBadDay, kBadArea, kNameTooLong, kStatementTooLong };

// Builds the plan of a run in the program directory exeDir. On anything but kOk, logLine
// holds the line that explains the refusal, and no file name or statement may be used.
PlanResult PlanExport(const ExportInputs& in, const char* exeDir, ExportPlan& plan,
                      std::string& logLine);

// The fields of one export row, as they are written.
struct ExportRow {
  std::string_view carNo, creDt, creMonth, areaCd, carX, carY, oncCd, taxCoid, drvUid;
};

// The driver id as written: drv_uid from the position equal to the length of tax_coid on,
// empty when drv_uid is not longer. A double-byte character that the position would split is
// left out whole, so the id never starts on a trail byte.
inline std::string_view ShortDriverId(std::string_view drvUid, std::string_view taxCoid) {
  const auto* p = reinterpret_cast<const unsigned char*>(drvUid.data());
  std::size_t at = 0;
  while (at < taxCoid.size() && at < drvUid.size()) {
    at += Cp949CharLength(p + at, drvUid.size() - at);
  }
  return at < drvUid.size() ? drvUid.substr(at) : std::string_view();
}

// Longest row FormatExportRow writes: nine values of at most 63 bytes, two numbers, commas,
// line end.
constexpr std::size_t kMaxRowBytes = kExportColumns * (kColumnBytes - 1) + 2 * kFixed6Size + 16;

// Formats "%s,%s,%s,%s,%s,%s,%s,%s,%s,%f,%f" and CR LF into out (kMaxRowBytes) and returns
// the length. Values must already be cut to 63 bytes. The numbers come out exactly as printf's
// "%f" writes them (six decimals, the exact binary value rounded half to even), at a fraction
// of its cost.
std::size_t FormatExportRow(const ExportRow& row, double lon, double lat, char* out);

}  // namespace zelvik
