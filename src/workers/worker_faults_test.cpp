// Worker 1 against a failing world: the sandbox server down when it connects, killed in the
// middle of a run, a statement that does not return until it is cancelled, and a program
// directory on a full file system. These tests stop the shared sandbox server, so they run
// alone (RUN_SERIAL); each has days of its own in 1993.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "db/company_names.h"
#include "db/odbc.h"
#include "publish/run_output.h"
#include "testing/sandbox_worker_fixture.h"
#include "workers/workers.h"

namespace zelvik::testing {
namespace {

namespace fs = std::filesystem;
using sandbox::kSandboxScratchDsn;
using sandbox::SandboxConnectString;
using sandbox::SandboxPassword;
using sandbox::SandboxQuery;

const char* const kSelect = "select CONCAT(UTL_RAW.CAST_TO_RAW(car_no)";

std::size_t CountLines(const std::string& bytes) {
  bool whole = false;
  const std::size_t n = CrLfLines(bytes, &whole).size();
  EXPECT_TRUE(whole) << "a line without CR LF";
  return n;
}

class WorkerFaultTest : public SandboxWorkerTest {
 protected:
  // The export and summary files of a day run in the program directory.
  fs::path Dat(const std::string& day) { return SysFile("carloc_hst-서울대구-" + day + ".dat"); }
  fs::path Sum(const std::string& day) { return SysFile("carloc_hst-서울대구-" + day + ".log"); }

  // What a failed run must leave: no files, and the run log saying it removed both.
  void ExpectRemoved(const std::string& day) {
    EXPECT_FALSE(fs::exists(Dat(day)));
    EXPECT_FALSE(fs::exists(Sum(day)));
    for (const char* ext : {".dat", ".log"}) {
      const std::string tmp = RunTempName(Path949("carloc_hst-서울대구-" + day + ext), ::getpid(), 1);
      EXPECT_TRUE(recorder_.Has(1, "s_ThreadWorker run failed, removed[" + tmp + "]"))
          << recorder_.Dump();
      EXPECT_FALSE(fs::exists(SysPath(tmp.c_str())));
    }
  }
  // A complete run of rows rows over vehicles vehicles.
  void ExpectExported(const std::string& day, std::size_t rows, std::size_t vehicles) {
    EXPECT_EQ(CountLines(ReadBytes(Dat(day))), 2 + rows);
    EXPECT_EQ(CountLines(ReadBytes(Sum(day))), 1 + vehicles);
  }
  // Statements of the export sent for a day (the company lookups send statements too).
  std::vector<PaneLine> Statements(const std::string& day) {
    std::vector<PaneLine> out;
    for (const PaneLine& l : recorder_.Starting(1, kSelect)) {
      if (l.text.find("cre_day = '" + day + "'") != std::string::npos) out.push_back(l);
    }
    return out;
  }
};

TEST_F(WorkerFaultTest, ServerDownWhenWorker1ConnectsIsRetriedEvery12SecondsUntilItIsBack) {
  SeedDay("19930315", 10, 300, "HF");
  OpenWindow(At(1993, 3, 16, 10, 0, 0));
  ChooseDay("19930315");
  ASSERT_TRUE(StopServer());
  const std::time_t t0 = clock_.Now();
  // The server comes back 30 s after the worker's first attempt.
  clock_.HoldAt(t0 + 30);
  model_->OnStartStop();
  ASSERT_TRUE(clock_.WaitForHeld(1, 20000)) << recorder_.Dump();

  const auto failures = recorder_.Starting(1, "OpenDB error[");
  ASSERT_EQ(failures.size(), 3u) << recorder_.Dump();
  for (std::size_t i = 0; i < failures.size(); ++i) {
    EXPECT_EQ(failures[i].at, t0 + 12 * static_cast<std::time_t>(i));
    EXPECT_NE(failures[i].text.find(";PWD=****]"), std::string::npos) << failures[i].text;
    EXPECT_EQ(failures[i].text.find(SandboxPassword()), std::string::npos);
  }
  EXPECT_TRUE(Statements("19930315").empty());

  ASSERT_TRUE(StartServer());
  clock_.Release();
  ASSERT_TRUE(WaitEnded(1, 60000)) << recorder_.Dump();
  EXPECT_EQ(recorder_.Starting(1, "OpenDB error[").size(), 3u);
  const auto statements = Statements("19930315");
  ASSERT_EQ(statements.size(), 1u) << recorder_.Dump();
  EXPECT_EQ(statements[0].at, t0 + 36);  // the fourth attempt connected
  EXPECT_EQ(model_->Outcome(1), WorkerOutcome::kGood);
  ExpectExported("19930315", 300, 10);
}

TEST_F(WorkerFaultTest, ServerKilledInTheMiddleOfARunFailsItAndTheNextDayIsExported) {
  // More rows than one block of the driver: at row 10000 rows are still to come.
  SeedDay("19930401", 10, 12000, "HF");
  std::atomic<bool> killed{false};
  recorder_.SetHook([&](const std::string& text) {
    if (text.find("ncnt[0000010000]") != std::string::npos && !killed.exchange(true)) {
      EXPECT_TRUE(KillServer());
    }
  });
  // Daily mode: looks at 06:59:30 and 07:00:20, then at 07:00:20 of every day.
  OpenWindow(At(1993, 4, 2, 6, 59, 30));
  clock_.HoldAt(At(1993, 4, 2, 12, 0, 0));
  model_->OnStartStop();
  ASSERT_TRUE(clock_.WaitForHeld(1, 60000)) << recorder_.Dump();
  EXPECT_TRUE(killed.load());
  ASSERT_EQ(Statements("19930401").size(), 1u) << recorder_.Dump();
  EXPECT_EQ(recorder_.Starting(1, "s_ThreadWorker Error: open recordset or GetRecordCount[").size(),
            1u)
      << recorder_.Dump();
  EXPECT_FALSE(recorder_.Has(1, "s_ThreadWorker ncnt[12000]"));
  ExpectRemoved("19930401");
  EXPECT_EQ(model_->m_bQryThread1.load(), 0);

  // Back up before the next morning: worker 1 goes on with the next day as usual. (The next
  // day is stored only now: the sandbox commits without waiting for its disk, so a crash
  // loses what was stored just before it.)
  ASSERT_TRUE(StartServer());
  SeedDay("19930402", 10, 300, "HF");
  ASSERT_TRUE(MoveHold(At(1993, 4, 2, 12, 0, 0), At(1993, 4, 3, 12, 0, 0), 60000));
  const auto next = Statements("19930402");
  ASSERT_EQ(next.size(), 1u) << recorder_.Dump();
  EXPECT_EQ(next[0].at, At(1993, 4, 3, 7, 0, 20));
  ExpectExported("19930402", 300, 10);
  EXPECT_FALSE(fs::exists(Dat("19930401")));

  clock_.Release();
  EXPECT_EQ(model_->OnStartStop(), WindowModel::StartStop::kStopped);
  ASSERT_TRUE(WaitEnded(1, 20000));
}

TEST_F(WorkerFaultTest, StopDuringAStatementCancelsItOnTheServerAndEndsWorker1) {
  // The statement waits for a lock held by another session, as a long statement would run:
  // it only ends when it is cancelled.
  Database locker;
  ASSERT_EQ(OpenDB(&locker, SandboxConnectString(kSandboxScratchDsn).c_str()), 1);
  {
    Recordset begin(&locker);
    begin.Open("begin");
  }
  {
    Recordset lock(&locker);
    lock.Open("lock table carloc_hst_lst in access exclusive mode");
  }
  const std::string waiting =
      "select count(*) from pg_stat_activity where datname = 'scratch' and state = 'active' "
      "and query like '%UTL_RAW.CAST_TO_RAW(car_no)%' and query not like '%pg_stat_activity%'";
  auto statementsOnServer = [&] { return SandboxQuery(sandbox::kSandboxDsn, waiting)[0][0]; };

  OpenWindow(At(1993, 5, 11, 10, 0, 0));
  model_->SetText(kIdDsn, kSandboxScratchDsn);
  ChooseDay("19930510");
  model_->OnStartStop();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (statementsOnServer() != "1" && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(statementsOnServer(), "1") << recorder_.Dump();

  const auto pressed = std::chrono::steady_clock::now();
  EXPECT_EQ(model_->OnStartStop(), WindowModel::StartStop::kStopped);
  ASSERT_TRUE(WaitEnded(1, 20000));
  const auto took = std::chrono::steady_clock::now() - pressed;
  EXPECT_LT(took, std::chrono::seconds(3));
  // Cancelled on the server, not abandoned there: it is gone while the lock is still held.
  EXPECT_EQ(statementsOnServer(), "0");
  const auto errors =
      recorder_.Starting(1, "s_ThreadWorker Error: open recordset or GetRecordCount[");
  ASSERT_EQ(errors.size(), 1u) << recorder_.Dump();
  EXPECT_NE(errors[0].text.find("canceling statement due to user request"), std::string::npos)
      << errors[0].text;
  ExpectRemoved("19930510");
  EXPECT_EQ(model_->Outcome(1), WorkerOutcome::kFailed);
  EXPECT_TRUE(recorder_.Has(1, "------------------------------- s_ThreadWorker STOP g_bstop[1]"));
  std::printf("stop to worker end: %lld ms\n",
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  locker.Close();
}

// A small tmpfs, mounted only for this process where the kernel allows a private mount
// namespace (it then vanishes with the process, whatever happens), else mounted for the
// machine and always unmounted again. Mounts left by an earlier run that was killed are
// removed first.
class ScopedTmpfs {
 public:
  static constexpr const char* kPrefix = "/tmp/zelvik-fulldisk-";

  explicit ScopedTmpfs(std::size_t bytes) {
    RemoveLeftovers();
    if (::unshare(CLONE_NEWNS) == 0 &&
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) {
      private_ = true;
    }
    std::string tmpl = kPrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr) {
      error_ = std::string("mkdtemp: ") + std::strerror(errno);
      return;
    }
    dir_ = tmpl;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", dir_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
      error_ = std::string("mount tmpfs: ") + std::strerror(errno);
      ::rmdir(dir_.c_str());
      dir_.clear();
      return;
    }
    mounted_ = true;
  }
  ~ScopedTmpfs() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    if (!dir_.empty()) ::rmdir(dir_.c_str());
  }
  ScopedTmpfs(const ScopedTmpfs&) = delete;
  ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Dir() const { return dir_; }
  const std::string& Error() const { return error_; }
  bool Private() const { return private_; }

  // Fills the file system with a filler file until nothing more fits.
  void Fill() const {
    std::FILE* f = std::fopen((dir_ + "/filler").c_str(), "wb");
    if (f == nullptr) return;
    std::setvbuf(f, nullptr, _IONBF, 0);
    const std::string block(4096, 'x');
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size()) {
    }
    while (std::fwrite("x", 1, 1, f) == 1) {
    }
    std::fclose(f);
  }

 private:
  static void RemoveLeftovers() {
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    std::vector<std::string> stale;
    while (std::getline(mounts, line)) {
      std::istringstream fields(line);
      std::string id, parent, dev, root, point;
      fields >> id >> parent >> dev >> root >> point;
      // Named after the process that mounted it: only a mount whose process is gone is stale.
      if (point.rfind(kPrefix, 0) != 0) continue;
      const long pid = std::strtol(point.c_str() + std::strlen(kPrefix), nullptr, 10);
      if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
        stale.push_back(point);
      }
    }
    for (const std::string& point : stale) {
      ::umount2(point.c_str(), MNT_DETACH);
      ::rmdir(point.c_str());
    }
  }

  std::string dir_;
  std::string error_;
  bool mounted_ = false;
  bool private_ = false;
};

#define ZELVIK_REQUIRE_TMPFS(tmpfs)                                                         \
  do {                                                                                      \
    if (::geteuid() != 0) GTEST_SKIP() << "full file system: needs root to mount a tmpfs";  \
    if (!(tmpfs).Mounted()) GTEST_SKIP() << "full file system: " << (tmpfs).Error();        \
  } while (0)

TEST_F(WorkerFaultTest, ExportDirectoryOnAFullFileSystemFailsTheRunAndSaysSo) {
  // 5000 rows make about half a megabyte of export; the file system holds 128 KiB.
  ScopedTmpfs tmpfs(128 * 1024);
  ZELVIK_REQUIRE_TMPFS(tmpfs);
  std::printf("tmpfs at %s (%s mount)\n", tmpfs.Dir().c_str(),
              tmpfs.Private() ? "private" : "machine-wide");
  SeedDay("19930601", 10, 5000, "HF");
  UseProgramDir(tmpfs.Dir());
  OpenWindow(At(1993, 6, 2, 10, 0, 0));
  ChooseDay("19930601");
  model_->OnStartStop();
  ASSERT_TRUE(WaitEnded(1, 60000));

  EXPECT_EQ(model_->Outcome(1), WorkerOutcome::kFailed);
  EXPECT_TRUE(recorder_.Has(1, "s_ThreadWorker write error[" +
                                   RunTempName(Path949("carloc_hst-서울대구-19930601.dat"),
                                               ::getpid(), 1) +
                                   "][No space left on device]"))
      << recorder_.Dump();
  ExpectRemoved("19930601");
  EXPECT_FALSE(recorder_.Has(1, "s_ThreadWorker ncnt[5000] elapsed"));
  // Whatever the run log could write holds whole lines only.
  for (const auto& entry : fs::recursive_directory_iterator(tmpfs.Dir())) {
    if (!entry.is_regular_file() || entry.path().parent_path() == tmpfs.Dir()) continue;
    bool whole = false;
    const auto lines = CrLfLines(ReadBytes(entry.path()), &whole);
    EXPECT_TRUE(whole) << entry.path();
    for (const std::string& l : lines) {
      EXPECT_TRUE(l.size() >= 20 && l[4] == '/' && l[19] == ' ')
          << entry.path() << ": " << Cp949ToUtf8(l);
    }
  }
}

TEST_F(WorkerFaultTest, AppendsOnAFullFileSystemNeverRunIntoTheLineBefore) {
  ScopedTmpfs tmpfs(64 * 1024);
  ZELVIK_REQUIRE_TMPFS(tmpfs);
  UseProgramDir(tmpfs.Dir());
  clock_.SetNow(At(1993, 7, 1, 10, 0, 0));
  sandbox::SandboxExec(sandbox::kSandboxDsn,
                       "insert into carco_mst (coid, co_nm) values ('HFN1', '가득찬운수'), "
                       "('HFN2', '다음운수') on conflict (coid) do nothing");
  // The last page of the company-name file and of the run log has a few bytes free, the file
  // system none: an append writes part of its line and then fails.
  const fs::path cfg = fs::path(tmpfs.Dir()) / "com_nm.cfg";
  const fs::path runLog = fs::path(tmpfs.Dir()) / "19930701" / "1993070110-1.log";
  const std::string cfgHead = "#" + std::string(4085, '-') + "\r\n";
  const std::string logHead = "1993/07/01 10:00:00 " + std::string(4066, '-') + "\r\n";
  ASSERT_EQ(cfgHead.size(), 4088u);
  ASSERT_EQ(logHead.size(), 4088u);
  fs::create_directory(runLog.parent_path());
  std::ofstream(cfg, std::ios::binary) << cfgHead;
  std::ofstream(runLog, std::ios::binary) << logHead;
  tmpfs.Fill();

  LoadMemoryCOM_NM();
  Database db;
  ASSERT_EQ(OpenDB(&db, SandboxConnectString().c_str()), 1);
  char name[128] = {};
  EXPECT_EQ(GetCO_NM(&db, "HFN1", name), 1);
  EXPECT_EQ(std::string(name), Kr("가득찬운수"));  // answered, and kept for this run
  EXPECT_TRUE(recorder_.Has(1, "GetCO_NM write error[" + Path949("com_nm.cfg") +
                                   "][No space left on device]"))
      << recorder_.Dump();
  // What fitted of each cut line is undone: no cut name is read back at the next start.
  EXPECT_EQ(ReadBytes(cfg), cfgHead);
  EXPECT_EQ(ReadBytes(runLog), logHead);

  // With room again, the next pair and the next log lines are lines of their own.
  fs::remove(fs::path(tmpfs.Dir()) / "filler");
  EXPECT_EQ(GetCO_NM(&db, "HFN2", name), 1);
  EXPECT_EQ(ReadBytes(cfg), cfgHead + "HFN2," + Kr("다음운수") + "\r\n");
  bool whole = false;
  const auto lines = CrLfLines(ReadBytes(runLog), &whole);
  EXPECT_TRUE(whole);
  ASSERT_EQ(lines.size(), 4u);  // the head, then START, the statement and END of HFN2
  EXPECT_EQ(lines[1], "1993/07/01 10:00:00 ============== START GetCO_NM(HFN2)");
  EXPECT_EQ(lines[3], "1993/07/01 10:00:00 ============== END GetCO_NM (HFN2) => (" +
                          Kr("다음운수") + ")");
}

}  // namespace
}  // namespace zelvik::testing
