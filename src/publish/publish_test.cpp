#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/log_pane.h"
#include "publish/publish_repair.h"
#include "publish/run_output.h"
#include "testing/file_bytes.h"
#include "testing/pane_recorder.h"
#include "testing/program_home.h"
#include "util/codepage.h"
#include "util/file_io.h"
#include "util/platform.h"
#include "util/process_state.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zelvik {
namespace {

namespace fs = std::filesystem;

class PublishTest : public ProgramHomeTest {
 protected:
  void SetUp() override {
    ProgramHomeTest::SetUp();
    BindLogPanes(&panes_[0], nullptr, nullptr, nullptr);
    folder_ = g_szExeDir;
    dat_ = folder_ + "/" + Utf8ToCp949("carloc_hst-서울대구-20240101.dat");
    log_ = folder_ + "/" + Utf8ToCp949("carloc_hst-서울대구-20240101.log");
  }
  void TearDown() override {
    SetPublishStepHook(nullptr);
    ProgramHomeTest::TearDown();
  }
  fs::path Sys(const std::string& path949) const { return FsPath(SysPath(path949.c_str())); }
  void Put(const std::string& path949, const std::string& bytes) const {
    std::ofstream(Sys(path949), std::ios::binary | std::ios::trunc) << bytes;
  }
  // Writes a run's pair under its temporary names, closed and still owned by output.
  static void WritePair(RunOutput& output, const std::string& tag) {
    for (RunOutput::File f : {RunOutput::kExport, RunOutput::kSummary}) {
      const int fd = output.CreateTemp(f);
      ASSERT_GE(fd, 0);
      const std::string text = tag + (f == RunOutput::kExport ? " export\r\n" : " summary\r\n");
      ASSERT_EQ(platform::WriteFd(fd, text.data(), text.size()),
                static_cast<std::int64_t>(text.size()));
      platform::CloseFd(fd);
    }
  }
  // The regular files of the folder (its run-log day folder left out).
  std::set<std::string> Files() const {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) {
      if (e.is_regular_file()) out.insert(Utf8ToCp949(FsText(e.path().filename())));
    }
    return out;
  }
  std::string Name(const std::string& path949) const { return path949.substr(folder_.size() + 1); }

  std::string folder_, dat_, log_;
};

int g_stopAt = 0;
bool StopAtChosenStep(int step) { return step == g_stopAt; }

// A kill at every step of a publish, over an earlier pair and for a day's first export: after
// the next start the day has its earlier pair or the new one, whole, and nothing else; the
// lines the read-only view announced are the ones the repair logged.
TEST_F(PublishTest, KillAtEachStepLeavesAWholePairAfterTheNextStart) {
  SetPublishStepHook(StopAtChosenStep);
  for (bool earlier : {true, false}) {
    for (int step = 0; step <= 6; ++step) {
      SCOPED_TRACE("earlier pair " + std::to_string(earlier) + ", killed at step " +
                   std::to_string(step));
      fs::remove(Sys(dat_));
      fs::remove(Sys(log_));
      if (earlier) {
        Put(dat_, "old export\r\n");
        Put(log_, "old summary\r\n");
      }
      {
        RunOutput output(dat_.c_str(), log_.c_str(), 2, "s_ThreadWorker2", 2);
        WritePair(output, "new");
        g_stopAt = step;
        if (step > 0) {
          EXPECT_FALSE(output.Publish());
        }
      }  // the run ends here: its locks go, its files stay
      recorder_.Take();
      const std::vector<std::string> announced = DescribeRepair(folder_);
      EXPECT_FALSE(OutputInProgress(dat_));
      RepairFolder(folder_, 1);
      EXPECT_EQ(recorder_.Take(), announced);
      EXPECT_TRUE(DescribeRepair(folder_).empty());

      std::set<std::string> expected{Name(dat_), Name(log_)};
      if (step > 0) expected.insert(kFolderLockName);
      if (step == 0 && !earlier) expected = {};
      EXPECT_EQ(Files(), expected);
      if (step > 0) {
        EXPECT_EQ(ReadBytes(Sys(dat_)), "new export\r\n");
        EXPECT_EQ(ReadBytes(Sys(log_)), "new summary\r\n");
      } else if (earlier) {
        EXPECT_EQ(ReadBytes(Sys(dat_)), "old export\r\n");
        EXPECT_EQ(ReadBytes(Sys(log_)), "old summary\r\n");
      }
      fs::remove(Sys(folder_ + "/" + kFolderLockName));
    }
  }
}

// Temporary files that do not match the recorded intent go back to the earlier pair; a
// summary that cannot be put back (here a folder stands at its name) is kept beside the new
// one until a later start succeeds; a new summary without its export is set aside, never
// deleted, under a name no "*.log" search finds.
TEST_F(PublishTest, RepairGoesBackWithoutLosingASummary) {
  const long pid = 999999;
  const std::string intent = RunIntentName(dat_, pid, 1);
  const std::string tmpD = RunTempName(dat_, pid, 1), tmpL = RunTempName(log_, pid, 1);
  const std::string aside = RunAsideName(log_, pid, 1);
  const std::string record = "14 " + Name(log_) + "\r\n12 " + Name(dat_) + "\r\n";
  Put(intent, record);
  Put(tmpL, "new summary\r\n");
  Put(tmpD, "new exp");  // cut: not the recorded size
  Put(aside, "old summary\r\n");
  Put(dat_, "old export\r\n");
  fs::create_directories(Sys(log_) / "blocked");
  RepairFolder(folder_, 1);
  std::vector<std::string> lines = recorder_.Take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("RepairFolder summary of an ended run not put back, both kept[" +
                               aside + "]=>[" + log_ + "][",
                           0),
            0u);
  EXPECT_EQ(ReadBytes(Sys(aside)), "old summary\r\n");
  EXPECT_EQ(ReadBytes(Sys(tmpL)), "new summary\r\n");
  fs::remove_all(Sys(log_));
  RepairFolder(folder_, 1);
  EXPECT_EQ(recorder_.Take(),
            (std::vector<std::string>{
                "RepairFolder put back the summary of an ended run[" + aside + "]=>[" + log_ + "]",
                "RepairFolder removed a leftover of an ended run[" + tmpL + "]",
                "RepairFolder removed a leftover of an ended run[" + tmpD + "]"}));
  EXPECT_EQ(ReadBytes(Sys(log_)), "old summary\r\n");
  EXPECT_EQ(Files(), (std::set<std::string>{Name(dat_), Name(log_), kFolderLockName}));

  // A first export whose summary was renamed and whose export is gone.
  fs::remove(Sys(dat_));
  Put(intent, record);
  Put(log_, "new summary\r\n");
  RepairFolder(folder_, 1);
  const std::string orphan = RunOrphanName(log_, pid, 1);
  EXPECT_EQ(recorder_.Take(), std::vector<std::string>{
                               "RepairFolder set aside the summary of an ended run without its "
                               "export[" + log_ + "]=>[" + orphan + "]"});
  EXPECT_EQ(ReadBytes(Sys(orphan)), "new summary\r\n");
  EXPECT_EQ(Files(), (std::set<std::string>{Name(orphan), kFolderLockName}));
}

// Two workers publishing the same output: every publish ends with a matching pair.
TEST_F(PublishTest, TwoPublishersOfOneOutputNeverInterleave) {
  auto publisher = [&](int worker) {
    for (int round = 0; round < 40; ++round) {
      RunOutput output(dat_.c_str(), log_.c_str(), worker, "s_ThreadWorker", worker);
      WritePair(output, std::to_string(worker));
      EXPECT_TRUE(output.Publish());
      // Read under the folder's lock: the other worker's publish in the middle of its renames
      // (the summary's name is free between two of them) is no pair to compare.
      platform::FolderLock lock;
      platform::SysError error;
      ASSERT_TRUE(LockFolder949(folder_, &lock, &error)) << error.text;
      const std::string exported = ReadBytes(Sys(dat_)), summary = ReadBytes(Sys(log_));
      lock.Unlock();
      EXPECT_EQ(exported.substr(0, 1), summary.substr(0, 1));
    }
  };
  std::thread a(publisher, 2), b(publisher, 3);
  a.join();
  b.join();
  EXPECT_EQ(Files(), (std::set<std::string>{Name(dat_), Name(log_), kFolderLockName}));
}

#ifndef _WIN32
// A temporary file is a leftover when its lock can be taken, whatever process id it is
// named for: a stale one named for this very process goes, one a live process holds stays.
TEST_F(PublishTest, LivenessIsTheLockNotTheProcessId) {
  const std::string stale = RunTempName(dat_, CurrentProcessId(), 4);
  Put(stale, "stale");
  const std::string held = RunTempName(log_, 1, 4);
  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    platform::OwnedFile file;
    platform::SysError e;
    char c = file.Create(SysPath(held.c_str()), &e) ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    (void)!::read(done[0], &c, 1);
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_TRUE(OutputInProgress(log_));
  EXPECT_FALSE(OutputInProgress(dat_));
  RepairFolder(folder_, 1);
  EXPECT_EQ(recorder_.Take(), std::vector<std::string>{
                               "RepairFolder removed a leftover of an ended run[" + stale + "]"});
  EXPECT_EQ(Files(), std::set<std::string>{Name(held)});
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_FALSE(OutputInProgress(log_));
  RepairFolder(folder_, 1);
  EXPECT_TRUE(Files().empty());
  for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
}
#endif

}  // namespace
}  // namespace zelvik
