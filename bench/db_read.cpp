// Reads whole days of location history through the ODBC wrapper, the way an export run does
// (every column fetched as text, the vehicle number decoded once per vehicle), and reports
// per day: rows, seconds to the first row (the server's sort), seconds in all, rows per
// second and the peak resident memory of the process during that read. The peak is reset before each day (Linux /proc/self/clear_refs), so a
// reader whose memory grew with the row count would show it as a larger peak on the larger
// day.
//
//   bench_db_read CONNECT DAY [DAY...]
//   e.g. bench_db_read "DSN=dbidc;UID=qarnimel;PWD=..." 20250201 20250202
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "db/odbc.h"
#include "db/raw_text.h"

namespace {

// A value of /proc/self/status in kB ("VmHWM", "VmRSS").
long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0 && line[std::strlen(key)] == ':') {
      return std::stol(line.substr(std::strlen(key) + 1));
    }
  }
  return -1;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s CONNECT DAY [DAY...]\n", argv[0]);
    return 2;
  }
  zelvik::Database db;
  try {
    if (!db.OpenEx(argv[1])) {
      std::fprintf(stderr, "no connection\n");
      return 1;
    }
  } catch (const zelvik::DbError& e) {
    std::fprintf(stderr, "connect: %s\n", e.m_strError.c_str());
    return 1;
  }
  std::printf("%-10s %10s %8s %8s %10s %12s\n", "day", "rows", "first_s", "seconds", "rows/s",
              "peak_rss_kb");
  for (int a = 2; a < argc; ++a) {
    ResetPeak();
    std::string sql =
        "select CONCAT(UTL_RAW.CAST_TO_RAW(car_no), '00000000') as car_no, cre_dt, "
        "substr(cre_dt,5,6), area_cd, car_x, car_y, onc_cd, tax_coid,drv_uid from "
        "CARLOC_HST_LST where area_cd in ('00001','00003') and cre_day = '" +
        std::string(argv[a]) + "' order by area_cd,car_no,cre_dt;";
    auto t0 = std::chrono::steady_clock::now();
    long rows = 0;
    std::size_t bytes = 0;
    double first = 0;
    try {
      zelvik::Recordset rs(&db);
      rs.Open(sql);
      first = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      std::string rawCache;
      char szcar[64] = {};
      std::string value;
      for (; !rs.IsEOF(); rs.MoveNext()) {
        rs.GetFieldValue(0, value);
        if (value != rawCache) {
          rawCache = value;
          std::memset(szcar, 0, sizeof(szcar));
          zelvik::DecodeRawText(szcar, sizeof(szcar), value);
        }
        bytes += std::strlen(szcar);
        for (int i = 1; i < rs.GetODBCFieldCount(); ++i) bytes += rs.FieldView(i).size();
        ++rows;
      }
      rs.Close();
    } catch (const zelvik::DbError& e) {
      std::fprintf(stderr, "%s: %s\n", argv[a], e.m_strError.c_str());
      return 1;
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%-10s %10ld %8.1f %8.1f %10.0f %12ld\n", argv[a], rows, first, s,
                static_cast<double>(rows) / s, StatusKb("VmHWM"));
    std::fflush(stdout);
    if (bytes == 0 && rows > 0) return 1;  // keeps the reads from being optimised away
  }
  return 0;
}
