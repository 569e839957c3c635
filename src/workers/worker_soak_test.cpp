// Worker 1 in daily mode for five simulated days against the sandbox, on the fake clock: each
// day's 07:00 exports the day before once (a second run is allowed only within that minute),
// the run log makes one folder per day, and the process holds as many descriptors on day 5 as
// on day 1, with no memory growth beyond a small bound.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "log/run_log.h"
#include "testing/sandbox_worker_fixture.h"
#include "util/build_pace.h"
#include "util/time_string.h"

#ifdef ZELVIK_SANITIZED
// The sanitizer runtime's count of live heap bytes: under a sanitizer the resident size says
// little (freed memory waits in quarantine, shadow memory grows with use).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace zelvik::testing {
namespace {

namespace fs = std::filesystem;

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (const dirent* e = ::readdir(d)) n += e->d_name[0] != '.' ? 1 : 0;
    ::closedir(d);
    --n;  // the directory stream itself
  }
  return n;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kib = 0;
      status >> kib;
      return kib;
    }
    status.ignore(1 << 12, '\n');
  }
  return -1;
}

long HeapKiB() {
#ifdef ZELVIK_SANITIZED
  return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
  return -1;
#endif
}

struct Sample {
  int fds;
  long rssKiB;
  long heapKiB;
};

constexpr int kDays = 5;
constexpr int kVehicles = 40;
constexpr int kRows = 20000;  // two blocks of the driver, two periodic row lines a day

class WorkerSoakTest : public SandboxWorkerTest {};

TEST_F(WorkerSoakTest, Worker1DailyModeRunsFiveDaysWithSteadyDescriptorsAndMemory) {
  // Exported days 6 to 10 March 1994, by the mornings of Monday 7 to Friday 11 March.
  std::vector<std::string> days;
  for (int d = 6; d < 6 + kDays; ++d) {
    char day[16];
    std::snprintf(day, sizeof(day), "199403%02d", d);
    days.emplace_back(day);
    SeedDay(day, kVehicles, kRows, "HS");
  }
  // The Sleep lines (every 50 s, all day) and the company banners are not kept.
  recorder_.SetFilter([](const std::string& text) {
    return text.rfind("s_ThreadWorker Sleep(", 0) != 0 && text.rfind("==============", 0) != 0;
  });

  OpenWindow(At(1994, 3, 7, 6, 58, 0));
  std::vector<Sample> samples;
  clock_.HoldAt(At(1994, 3, 7, 12, 0, 0));
  ASSERT_EQ(model_->OnStartStop(), WindowModel::StartStop::kStarted);
  for (int day = 1; day <= kDays; ++day) {
    const std::time_t noon = At(1994, 3, 6 + day, 12, 0, 0);
    if (day == 1) {
      ASSERT_TRUE(clock_.WaitForHeld(1, 120000)) << recorder_.Dump();
    } else {
      ASSERT_TRUE(MoveHold(noon - 86400, noon, 120000)) << "day " << day << "\n"
                                                         << recorder_.Dump();
    }
    ASSERT_EQ(clock_.Now(), noon);
    // The run log's hour file may still be open from the day's burst: a leak is what counts.
    CloseRunLogFiles();
    samples.push_back({OpenDescriptors(), ResidentKiB(), HeapKiB()});
    std::printf("day %d: %d open descriptors, VmRSS %ld KiB, heap %ld KiB\n", day,
                samples.back().fds, samples.back().rssKiB, samples.back().heapKiB);
  }
  clock_.Release();
  EXPECT_EQ(model_->OnStartStop(), WindowModel::StartStop::kStopped);
  ASSERT_TRUE(WaitEnded(1, 30000));

  // Each day exported once, in the minute 07:00 of the morning after (a run that is over
  // within that minute may be followed by a second one in it).
  for (int k = 0; k < kDays; ++k) {
    std::vector<std::time_t> runs;
    for (const PaneLine& l : recorder_.Starting(1, "select CONCAT(UTL_RAW.CAST_TO_RAW(car_no)")) {
      if (l.text.find("cre_day = '" + days[k] + "'") != std::string::npos) runs.push_back(l.at);
    }
    ASSERT_GE(runs.size(), 1u) << days[k] << "\n" << recorder_.Dump();
    EXPECT_LE(runs.size(), 2u) << days[k];
    const std::time_t minute = At(1994, 3, 7 + k, 7, 0, 0);
    for (std::time_t at : runs) {
      EXPECT_TRUE(at >= minute && at < minute + 60) << days[k] << " ran at " << at - minute;
    }
    bool whole = false;
    EXPECT_EQ(CrLfLines(ReadBytes(SysFile("carloc_hst-서울대구-" + days[k] + ".dat")), &whole)
                  .size(),
              2u + kRows);
    EXPECT_TRUE(whole);
    EXPECT_EQ(CrLfLines(ReadBytes(SysFile("carloc_hst-서울대구-" + days[k] + ".log")), &whole)
                  .size(),
              1u + kVehicles);
  }
  EXPECT_FALSE(recorder_.Has(1, "s_ThreadWorker Error")) << recorder_.Dump();
  EXPECT_FALSE(recorder_.Has(1, "OpenDB error")) << recorder_.Dump();

  // One run-log folder per simulated day, and nothing else but the files of the runs.
  std::set<std::string> folders;
  for (const auto& entry : fs::directory_iterator(home_)) {
    if (entry.is_directory()) folders.insert(entry.path().filename().string());
  }
  EXPECT_EQ(folders, (std::set<std::string>{"19940307", "19940308", "19940309", "19940310",
                                            "19940311"}));

  // Steady: the same descriptors, and memory within a small bound of day 1.
  EXPECT_EQ(samples.back().fds, samples.front().fds);
#ifdef ZELVIK_SANITIZED
  EXPECT_LE(samples.back().heapKiB - samples.front().heapKiB, 512);
#else
  EXPECT_LE(samples.back().rssKiB - samples.front().rssKiB, 2048);
#endif
}

}  // namespace
}  // namespace zelvik::testing
