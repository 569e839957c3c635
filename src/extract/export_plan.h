#pragma once
// The plan of an export run: from what a worker hands over, the two file names, the export
// file's header lines and the statement, built before any file or the database is touched.
// Every text is checked to stay inside its fixed limit, and an area text only enters the
// statement when it is a plain list of area codes.

#include <cstddef>
#include <string>
#include <string_view>

#include "util/path_limit.h"

namespace zelvik {

constexpr std::size_t kPathBytes = kFileNameMax + 1;  // a file name and its terminator
constexpr std::size_t kStatementBytes = 1024;  // a statement: 1023 bytes and its terminator

// What a worker hands to its export run.
struct ExportInputs {
  int nWorker = 1;        // 1: the day run of areas 00001 and 00003; 2 to 4: a range run
  std::string strDay;     // the day (worker 1) or the start day; its first 8 characters count
  std::string strEndDay;  // range run: the end day
  std::string strArea;    // range run: the area text as the worker captured it
};

// An area text may name several areas, but only as codes of ASCII letters and digits joined
// by "','" (00001','00003); anything else could change the statement.
bool IsValidAreaText(std::string_view area);

// The name part of a range run's files: 서울, 대구, 청주, 충주 for exactly 00001, 00003, 00007,
// 00008, else 지역알수없음 (code page 949).
const std::string& AreaFileName(std::string_view area);

// Everything a run needs before it touches a file or the database.
struct ExportPlan {
  int nWorker = 1;
  const char* szLabel = "";         // the worker's WorkerLabel
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

}  // namespace zelvik
