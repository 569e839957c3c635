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

// The name part of a range run's files (code page 949): the name of exactly one area of the
// area table (00001 서울, 00003 대구, 00007 청주, 00008 충주), else 지역알수없음.
const std::string& AreaFileName(std::string_view area);

// The extensions of a run's two files, the export and its summary.
inline constexpr const char* kExportExtension = ".dat";
inline constexpr const char* kSummaryExtension = ".log";

// The base name (no folder, no extension) both files of a run share:
// "carloc_hst-서울대구-DAY" for worker 1, "carloc_hst-<AreaFileName>-FROM-TO" for a range run,
// each day cut to its first 8 characters.
std::string ExportBaseName(const ExportInputs& in);

// What a base name of ExportBaseName tells.
struct ExportName {
  bool range = false;
  std::string first, last;  // the days, YYYYMMDD (a day export: its day, twice)
  std::string area;         // range: the area code, empty for an area without a name
};
// Reads a base name as ExportBaseName makes it from 8-digit days; false for any other name.
bool ParseExportBaseName(std::string_view base, ExportName* name);

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
