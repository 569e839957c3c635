// The run log's cost per line, in one process, in alternating rounds:
//   bench_run_log [LINES] [ROUNDS]     (5,000 lines a round, 9 rounds by default)
// WriteLog (the hour's file kept open across a burst) against the per-line append the log made
// before: under one lock, the clock read, the stamp, the path, then an open, lock, end check,
// write and close of the file for every line. Prints the median time per line of each and
// their ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "log/run_log.h"
#include "util/clock.h"
#include "util/file_io.h"
#include "util/process_state.h"
#include "util/program_dir.h"
#include "util/time_string.h"

namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

std::mutex g_referenceMutex;

// The log line's file work as it was before files were kept open.
void PerLineAppend(const char* text, int pane) {
  std::lock_guard<std::mutex> lock(g_referenceMutex);
  const std::time_t now = zelvik::GetClock().Now();
  char szNow[32] = {};
  char szStamp[32] = {};
  zelvik::FormatTimeString(szNow, 0, now);
  zelvik::FormatTimeString(szStamp, 1, now);
  char szPath[1400] = {};
  std::snprintf(szPath, sizeof(szPath), "%s/%.8s/%10.10s-%d.log", zelvik::g_szExeDir, szNow,
                szNow, pane);
  std::string line;
  line.append(szStamp).append(" ").append(text);
  zelvik::AppendLine949(szPath, line);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 9;
  if (lines <= 0 || rounds <= 0) {
    std::fprintf(stderr, "usage: bench_run_log [LINES] [ROUNDS]\n");
    return 2;
  }
  const fs::path dir = fs::temp_directory_path() /
                       ("zelvik-run-log-bench-" + std::to_string(zelvik::CurrentProcessId()));
  fs::create_directories(dir);
  std::string error;
  if (!zelvik::SetProgramDirDirect(zelvik::FsText(dir), &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const std::string text = "Worker 1 fetched 64 rows of the area 00001, vehicle 12345678";
  zelvik::WriteLog(text, 1);  // the day folder, made once
  std::vector<double> kept, perLine;
  for (int r = 0; r < rounds; ++r) {
    auto t0 = Steady::now();
    for (int i = 0; i < lines; ++i) zelvik::WriteLog(text, 1);
    auto t1 = Steady::now();
    for (int i = 0; i < lines; ++i) PerLineAppend(text.c_str(), 2);
    auto t2 = Steady::now();
    kept.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count() / lines);
    perLine.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count() / lines);
  }
  zelvik::CloseRunLogFiles();
  std::error_code ec;
  fs::remove_all(dir, ec);
  const double a = Median(kept), b = Median(perLine);
  std::printf("run log, file kept open: %.2f us/line\n", a);
  std::printf("per-line open and close: %.2f us/line\n", b);
  std::printf("ratio kept / per-line:   %.3f (median of %d rounds of %d lines)\n", a / b, rounds,
              lines);
  return 0;
}
