#include "log/run_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#endif

#include "log/log_pane.h"
#include "testing/file_bytes.h"
#include "testing/program_home.h"
#include "testing/wait_until.h"
#include "util/file_io.h"
#include "util/platform.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;

using RunLogTest = ProgramHomeTest;

TEST_F(RunLogTest, LinesGoToHourlyFilesPerPaneNumber) {
  WriteLog("first % line %d %s", 1);
  WriteLog("second", 2);
  WriteLog("zero", 0);
  WriteLog(nullptr, 1);
  EXPECT_EQ(ReadBytes(dir_ / "20260107" / "2026010713-1.log"),
            "2026/01/07 13:05:09 first % line %d %s\r\n");
  EXPECT_EQ(ReadBytes(dir_ / "20260107" / "2026010713-2.log"), "2026/01/07 13:05:09 second\r\n");
  EXPECT_EQ(ReadBytes(dir_ / "20260107" / "2026010713-0.log"), "2026/01/07 13:05:09 zero\r\n");
  clock_.Advance(3600);
  WriteLog("next hour", 1);
  EXPECT_TRUE(fs::exists(dir_ / "20260107" / "2026010714-1.log"));
}

TEST_F(RunLogTest, NewDayMakesItsFolderAndUnboundPanesOnlyWriteFiles) {
  WriteLog("before midnight", 3);
  clock_.SetNow(FakeClock::MakeLocal(2026, 1, 8, 0, 0, 1));
  WriteLog("after midnight", 3);
  EXPECT_EQ(ReadBytes(dir_ / "20260108" / "2026010800-3.log"),
            "2026/01/08 00:00:01 after midnight\r\n");
  EXPECT_EQ(panes_[2].Text(), "");
}

TEST_F(RunLogTest, PanesShowStampedLinesAndEmptyOnThe101st) {
  BindPanes();
  WriteLog("to pane 1", 5);
  WriteLog("to pane 4", 4);
  EXPECT_EQ(panes_[0].Text(), "2026/01/07 13:05:09 to pane 1\r\n");
  EXPECT_EQ(panes_[3].Text(), "2026/01/07 13:05:09 to pane 4\r\n");
  EXPECT_TRUE(fs::exists(dir_ / "20260107" / "2026010713-5.log"));

  const auto held = [this] {
    const std::string text = panes_[3].Text();
    return std::count(text.begin(), text.end(), '\n');
  };
  for (int i = 2; i <= 100; ++i) WriteLog("x", 4);
  EXPECT_EQ(held(), 100);
  WriteLog("the 101st", 4);
  EXPECT_EQ(panes_[3].Text(), "2026/01/07 13:05:09 the 101st\r\n");
  // The line that emptied the pane is not counted: 100 more are appended to it.
  for (int i = 0; i < 100; ++i) WriteLog("y", 4);
  EXPECT_EQ(held(), 101);
  WriteLog("cleared again", 4);
  EXPECT_EQ(panes_[3].Text(), "2026/01/07 13:05:09 cleared again\r\n");

  // Clearing restarts the count: the 101st line after it empties the pane.
  AppendLogPane(4, "ignored", 1);
  EXPECT_EQ(panes_[3].Text(), "");
  for (int i = 0; i < 100; ++i) WriteLog("z", 4);
  EXPECT_EQ(held(), 100);
  WriteLog("first again", 4);
  EXPECT_EQ(panes_[3].Text(), "2026/01/07 13:05:09 first again\r\n");
}

// A clock that moves on by a second at every read: a line written across midnight must still
// name one moment in its stamp, its hour file and its day folder.
class TickingClock final : public Clock {
 public:
  explicit TickingClock(std::time_t start) : now_(start) {}
  std::time_t Now() override { return now_++; }
  bool Sleep(std::int64_t, const CancelToken*) override { return true; }

 private:
  std::time_t now_;
};

TEST_F(RunLogTest, EachLineReadsTheClockOnce) {
  TickingClock ticking(FakeClock::MakeLocal(2026, 1, 7, 23, 59, 59));
  SetClock(&ticking);
  BindPanes();
  WriteLog("at midnight", 1);
  EXPECT_EQ(ReadBytes(dir_ / "20260107" / "2026010723-1.log"),
            "2026/01/07 23:59:59 at midnight\r\n");
  EXPECT_EQ(panes_[0].Text(), "2026/01/07 23:59:59 at midnight\r\n");
  EXPECT_FALSE(fs::exists(dir_ / "20260108"));
  EXPECT_FALSE(fs::exists(dir_ / "20260107" / "2026010800-1.log"));
  CloseRunLogFiles();  // while a file is open the run log reads the clock, which ends here
}

TEST_F(RunLogTest, ConcurrentWritersLeaveWholeLines) {
  BindPanes();
  constexpr int kThreads = 4;
  constexpr int kLines = 10000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      std::string text = "worker" + std::to_string(t) + std::string(40, 'a' + static_cast<char>(t));
      for (int i = 0; i < kLines; ++i) WriteLog(text, 1);
    });
  }
  for (auto& th : threads) th.join();
  std::ifstream in(dir_ / "20260107" / "2026010713-1.log", std::ios::binary);
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    ASSERT_EQ(line.size(), 20u + 7u + 40u + 1u) << line;
    ASSERT_EQ(line.back(), '\r');
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

// Whether this process holds the file open: on Windows, a reader that does not share write
// access is held off by the run log's handle.
bool HeldOpen(const fs::path& file) {
#ifdef _WIN32
  HANDLE h = CreateFileW(file.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(h);
  return false;
#else
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/self/fd", ec)) {
    if (fs::read_symlink(fd.path(), ec) == file) return true;
  }
  return false;
#endif
}

TEST_F(RunLogTest, FilesCloseAfterAQuietSecondAndAtTheHoursChange) {
  const fs::path file = dir_ / "20260107" / "2026010713-2.log";
  WriteLog("one", 2);
  EXPECT_TRUE(HeldOpen(file));
  clock_.Advance(1);
  WriteLog("two", 2);
  clock_.Advance(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(HeldOpen(file));  // a second without a line is not yet quiet
  clock_.Advance(1);
  EXPECT_TRUE(WaitUntil([&] { return !HeldOpen(file); }));

  clock_.SetNow(At(2026, 1, 7, 13, 59, 59));
  WriteLog("end of the hour", 2);
  EXPECT_TRUE(HeldOpen(file));
  clock_.SetNow(At(2026, 1, 7, 14, 0, 0));
  EXPECT_TRUE(WaitUntil([&] { return !HeldOpen(file); }));
  EXPECT_EQ(ReadBytes(file),
            "2026/01/07 13:05:09 one\r\n2026/01/07 13:05:10 two\r\n"
            "2026/01/07 13:59:59 end of the hour\r\n");
}

TEST_F(RunLogTest, ALogFileDeletedInABurstIsMadeAgain) {
  const fs::path file = dir_ / "20260107" / "2026010713-1.log";
  WriteLog("before", 1);
  ASSERT_TRUE(fs::remove(file));
  WriteLog("after", 1);
  WriteLog("and on", 1);
  EXPECT_EQ(ReadBytes(file), "2026/01/07 13:05:09 after\r\n2026/01/07 13:05:09 and on\r\n");
}

// A second process is this test executable started again for RunLogTest.SecondProcess, the
// job in the environment.
constexpr const char* kJobVariable = "ZELVIK_RUN_LOG_JOB";
constexpr int kSecondProcessLines = 3000;

int RunSecondProcess(const std::string& job) {
  std::string exe, error;
  EXPECT_TRUE(platform::ExecutablePath(&exe, &error)) << error;
#ifdef _WIN32
  _putenv_s(kJobVariable, job.c_str());
#else
  setenv(kJobVariable, job.c_str(), 1);
#endif
  const int status =
      std::system(("\"" + exe + "\" --gtest_filter=RunLogTest.SecondProcess").c_str());
#ifdef _WIN32
  _putenv_s(kJobVariable, "");
#else
  unsetenv(kJobVariable);
#endif
  return status;
}

std::string Numbered(const char* who, int i) {
  char text[80];
  std::snprintf(text, sizeof(text), "%-6s %06d %s", who, i, std::string(40, 'x').c_str());
  return text;
}

TEST_F(RunLogTest, TwoProcessesAppendWholeLinesEachInItsOwnOrder) {
  std::atomic<bool> done{false};
  int status = -1;
  std::thread second([&] {
    status = RunSecondProcess("append " + FsText(dir_));
    done.store(true);
  });
  int sent = 0;
  for (; !done.load() || sent < kSecondProcessLines; ++sent) WriteLog(Numbered("first", sent), 1);
  second.join();
  ASSERT_EQ(status, 0);
  std::ifstream in(dir_ / "20260107" / "2026010713-1.log", std::ios::binary);
  std::map<std::string, int> next;
  for (std::string line; std::getline(in, line);) {
    ASSERT_EQ(line.size(), 20u + 54u + 1u) << line;
    ASSERT_EQ(line.substr(line.size() - 41), std::string(40, 'x') + "\r") << line;
    const std::string who = line.substr(20, 6);
    ASSERT_EQ(std::atoi(line.substr(27, 6).c_str()), next[who]++) << line;
  }
  EXPECT_EQ(next["first "], sent);
  EXPECT_EQ(next["second"], kSecondProcessLines);
}

#ifndef _WIN32
// A write cut short by a full disk (here a file size limit) is taken back, in com_nm.cfg and
// in the run log: no reader meets half a line, and the next line follows the last whole one.
TEST_F(RunLogTest, AnAppendCutShortIsUndone) {
  fs::create_directories(dir_ / "20260107");
  std::ofstream(dir_ / "com_nm.cfg", std::ios::binary) << "C0001,first\r\n";
  ASSERT_EQ(RunSecondProcess("cut " + FsText(dir_)), 0);
  EXPECT_EQ(ReadBytes(dir_ / "com_nm.cfg"), "C0001,first\r\n");
  EXPECT_EQ(ReadBytes(dir_ / "20260107" / "2026010713-1.log"),
            "2026/01/07 13:05:09 short\r\n2026/01/07 13:05:09 after\r\n");
}
#endif

TEST_F(RunLogTest, SecondProcess) {
  const char* job = std::getenv(kJobVariable);
  if (job == nullptr || *job == '\0') GTEST_SKIP() << "the second process of the tests above";
  const std::string what(job);
  UseProgramDir(FsPath(what.substr(what.find(' ') + 1)));
  if (what.rfind("append ", 0) == 0) {
    for (int i = 0; i < kSecondProcessLines; ++i) WriteLog(Numbered("second", i), 1);
  }
#ifndef _WIN32
  if (what.rfind("cut ", 0) == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlim_t unlimited = limit.rlim_cur;
    limit.rlim_cur = 40;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const std::string cfg = FsText(home_ / "com_nm.cfg");
    EXPECT_EQ(AppendLine949(cfg.c_str(), "C0042,\xC7\xD1\xBA\xFB\xBF\xEE\xBC\xF6 taxi of the city"),
              AppendResult::kWriteFailed);
    WriteLog("short", 1);
    WriteLog("a line that passes the limit", 1);
    limit.rlim_cur = unlimited;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    WriteLog("after", 1);
  }
#endif
}

}  // namespace
}  // namespace zelvik
