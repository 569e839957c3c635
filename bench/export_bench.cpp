// One timed pass over a day of location history, for bench/export:
//   bench_export export DSN UID PWD DAY OUTDIR [inline|wide|nosync]  the day run into OUTDIR
//                                                  (inline: rows written on the run's thread;
//                                                  wide: every column fetched wide; nosync: no
//                                                  write-back and no syncs of files or folder)
//   bench_export fetch  DSN UID PWD DAY [wide]     the bare fetch of the same statement
//                                                  through the wrapper, bound as the run
//                                                  binds it (or every column wide)
//   bench_export driver DSN UID PWD DAY [wide]     the same through the ODBC driver alone:
//                                                  1000-row arrays of narrow (or wide) text
// Prints one line: mode, rows, seconds until the statement's result arrived, total seconds,
// the process's processor seconds (user and system) and its peak resident set in KiB.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "db/odbc.h"
#include "extract/export_plan.h"
#include "extract/export_run.h"
#include "log/log_pane.h"
#include "util/program_dir.h"

namespace {

using Seconds = std::chrono::duration<double>;
using SteadyClock = std::chrono::steady_clock;

long PeakRssKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Processor time of the whole process, every thread included.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto sec = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return sec(usage.ru_utime) + sec(usage.ru_stime);
}

// Notes when the statement's result arrived and the run's row count, from the run's lines.
class Watcher : public zelvik::PaneListener {
 public:
  void OnPaneChange(int, Change, const std::string& line) override {
    if (line.find("query result elapsed") != std::string::npos) resultAt = SteadyClock::now();
    const auto p = line.find("s_ThreadWorker ncnt[");
    if (p != std::string::npos && line.find("elapsed[") != std::string::npos) {
      rows = std::atol(line.c_str() + p + 20);
    }
    if (line.find("Error") != std::string::npos || line.find("error") != std::string::npos) {
      std::fprintf(stderr, "%s", line.c_str());
    }
  }
  SteadyClock::time_point resultAt{};
  long rows = -1;
};

std::vector<SQLWCHAR> WideAscii(const std::string& text) {
  return std::vector<SQLWCHAR>(text.begin(), text.end());
}

// The driver's own speed, without the wrapper: connected and the statement sent through the
// wide entry points as the program does, every column bound as narrow (or wide) text over
// arrays of 1000 rows, nothing done with the values.
int DriverFetch(const std::string& connect, const std::string& statement, bool wide) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  std::vector<SQLWCHAR> conn = WideAscii(connect);
  if (!SQL_SUCCEEDED(SQLDriverConnectW(dbc, nullptr, conn.data(),
                                       static_cast<SQLSMALLINT>(conn.size()), nullptr, 0,
                                       nullptr, SQL_DRIVER_NOPROMPT))) {
    std::fprintf(stderr, "bench_export: the driver did not connect\n");
    return 1;
  }
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  constexpr SQLULEN kRows = 1000;
  const SQLLEN kWidth = wide ? 4200 : 2100;
  std::vector<SQLWCHAR> sql = WideAscii(statement);  // the day statement is ASCII
  const auto t0 = SteadyClock::now();
  if (!SQL_SUCCEEDED(SQLExecDirectW(stmt, sql.data(), static_cast<SQLINTEGER>(sql.size())))) {
    std::fprintf(stderr, "bench_export: the driver did not run the statement\n");
    return 1;
  }
  const auto resultAt = SteadyClock::now();
  SQLSMALLINT columns = 0;
  SQLNumResultCols(stmt, &columns);
  std::vector<std::vector<char>> data(static_cast<std::size_t>(columns),
                                      std::vector<char>(kRows * kWidth));
  std::vector<std::vector<SQLLEN>> length(static_cast<std::size_t>(columns),
                                          std::vector<SQLLEN>(kRows));
  for (SQLSMALLINT c = 0; c < columns; ++c) {
    const auto i = static_cast<std::size_t>(c);
    SQLBindCol(stmt, static_cast<SQLUSMALLINT>(c + 1), wide ? SQL_C_WCHAR : SQL_C_CHAR,
               data[i].data(), kWidth, length[i].data());
  }
  SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRows), 0);
  SQLULEN fetched = 0;
  SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
  long rows = 0;
  while (SQL_SUCCEEDED(SQLFetch(stmt))) rows += static_cast<long>(fetched);
  const auto t1 = SteadyClock::now();
  std::printf("driver%s rows %ld result %.2f total %.2f cpu %.2f rss_kib %ld\n",
              wide ? "-wide" : "", rows,
              Seconds(resultAt - t0).count(), Seconds(t1 - t0).count(), CpuSeconds(),
              PeakRssKib());
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: bench_export export DSN UID PWD DAY OUTDIR [inline|wide]\n"
               "       bench_export fetch|driver DSN UID PWD DAY [wide]\n");
  return 2;
}

// Worker 1's plan of a day's export; false, the reason said, when there is none.
bool PlanDay(const std::string& day, zelvik::ExportPlan& plan) {
  std::string line;
  if (zelvik::PlanExport({1, day, "", ""}, "/tmp", plan, line) == zelvik::PlanResult::kOk) {
    return true;
  }
  std::fprintf(stderr, "%s\n", line.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) return Usage();
  const std::string mode = argv[1];
  const std::string connect =
      std::string("DSN=") + argv[2] + ";UID=" + argv[3] + ";PWD=" + argv[4];
  const std::string day = argv[5];
  const std::string variant = argc > 6 ? argv[argc - 1] : "";

  zelvik::ExportPlan plan;
  if ((mode == "driver" || mode == "fetch") && !PlanDay(day, plan)) return 1;
  if (mode == "driver") return DriverFetch(connect, plan.szStatement, variant == "wide");

  zelvik::Database db;
  if (zelvik::OpenDB(&db, connect.c_str()) != 1) {
    std::fprintf(stderr, "bench_export: cannot connect with DSN %s\n", argv[2]);
    return 1;
  }

  if (mode == "fetch") {
    const auto t0 = SteadyClock::now();
    long rows = 0;
    std::size_t bytes = 0;
    SteadyClock::time_point resultAt;
    try {
      zelvik::Recordset rs(&db);
      // As the export binds it: the vehicle number (column 0) narrow, unless wide.
      zelvik::FetchOptions fetch;
      if (variant != "wide") fetch.asciiColumns = 1u;
      rs.Open(plan.szStatement, fetch);
      resultAt = SteadyClock::now();
      const int columns = rs.GetODBCFieldCount();
      while (!rs.IsEOF()) {
        for (int i = 0; i < columns; ++i) bytes += rs.FieldView(i).size();
        ++rows;
        rs.MoveNext();
      }
    } catch (const zelvik::DbError& e) {
      std::fprintf(stderr, "bench_export: %s\n", e.m_strError.c_str());
      return 1;
    }
    const auto t1 = SteadyClock::now();
    std::printf("fetch%s rows %ld result %.2f total %.2f cpu %.2f rss_kib %ld bytes %zu\n",
                variant == "wide" ? "-wide" : "", rows,
                Seconds(resultAt - t0).count(), Seconds(t1 - t0).count(), CpuSeconds(),
                PeakRssKib(), bytes);
    return 0;
  }

  if (mode != "export" || argc < 7) return Usage();
  std::string error;
  if (!zelvik::SetProgramDirDirect(argv[6], &error)) {
    std::fprintf(stderr, "bench_export: %s\n", error.c_str());
    return 1;
  }
  Watcher watcher;
  zelvik::LogPane pane(1);
  pane.SetListener(&watcher);
  zelvik::BindLogPanes(&pane, nullptr, nullptr, nullptr);

  std::atomic<std::int32_t> flag{0};
  std::atomic<std::int32_t> bessel{1};
  zelvik::ExportWorkerState state;
  zelvik::ExportOptions options;
  options.bOverlapWriting = !(argc > 7 && std::strcmp(argv[7], "inline") == 0);
  options.bWideFetch = argc > 7 && std::strcmp(argv[7], "wide") == 0;
  options.bDurable = !(argc > 7 && std::strcmp(argv[7], "nosync") == 0);
  const auto t0 = SteadyClock::now();
  const auto outcome =
      zelvik::ExportLocationHistory({1, day, "", ""}, &db, flag, bessel, state, nullptr, options);
  const auto t1 = SteadyClock::now();
  zelvik::BindLogPanes(nullptr, nullptr, nullptr, nullptr);
  if (outcome != zelvik::ExportOutcome::kGood) {
    std::fprintf(stderr, "bench_export: the export failed\n");
    return 1;
  }
  std::printf("%s rows %ld result %.2f total %.2f cpu %.2f rss_kib %ld\n",
              !options.bOverlapWriting ? "export-inline"
              : options.bWideFetch     ? "export-wide"
              : !options.bDurable      ? "export-nosync"
                                       : "export",
              watcher.rows,
              Seconds(watcher.resultAt - t0).count(), Seconds(t1 - t0).count(), CpuSeconds(),
              PeakRssKib());
  return 0;
}
