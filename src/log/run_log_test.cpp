#include "log/run_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "log/log_pane.h"
#include "testing/file_bytes.h"
#include "testing/program_home.h"

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

  for (int i = 2; i <= 100; ++i) WriteLog("x", 4);
  EXPECT_EQ(panes_[3].Counter(), 100);
  WriteLog("the 101st", 4);
  EXPECT_EQ(panes_[3].Text(), "2026/01/07 13:05:09 the 101st\r\n");
  EXPECT_EQ(panes_[3].Counter(), 0);
  for (int i = 0; i < 100; ++i) WriteLog("y", 4);
  EXPECT_EQ(panes_[3].Counter(), 100);  // 101 entries now held
  WriteLog("cleared again", 4);
  EXPECT_EQ(panes_[3].Counter(), 0);

  AppendLogPane(4, "ignored", 1);
  EXPECT_EQ(panes_[3].Text(), "");
  WriteLog("first again", 4);
  EXPECT_EQ(panes_[3].Counter(), 1);
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

}  // namespace
}  // namespace zelvik
