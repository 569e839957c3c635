#pragma once
// Test support for the model and the workers: a backend whose sessions record what the
// workers ask of them, a recorder of pane lines, and a fixture with a fake clock and a
// program directory of its own.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "workers/window_model.h"
#include "extract/worker_label.h"
#include "workers/workers.h"
#include "log/log_pane.h"
#include "util/testing/fake_clock.h"
#include "util/process_state.h"
#include "util/time_string.h"

namespace zelvik::testing {

// Waits in real time until pred holds; false after timeoutMs.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

struct PaneLine {
  int pane;
  std::string text;  // without stamp and line end
  std::time_t at;    // the clock when the line was shown
};

class PaneRecorder : public PaneListener {
 public:
  void OnPaneChange(int pane, Change change, const std::string& line) override {
    if (change == Change::kCleared) return;
    std::string text = line.size() >= 22 ? line.substr(20, line.size() - 22) : line;
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(PaneLine{pane, text, GetClock().Now()});
  }
  std::vector<PaneLine> Lines(int pane) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<PaneLine> out;
    for (const PaneLine& l : lines_) {
      if (l.pane == pane) out.push_back(l);
    }
    return out;
  }
  std::vector<std::string> Texts(int pane) {
    std::vector<std::string> out;
    for (const PaneLine& l : Lines(pane)) out.push_back(l.text);
    return out;
  }
  int Count(int pane, const std::string& prefix) {
    int n = 0;
    for (const PaneLine& l : Lines(pane)) n += l.text.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
  bool Has(int pane, const std::string& prefix) { return Count(pane, prefix) > 0; }

 private:
  std::mutex mutex_;
  std::vector<PaneLine> lines_;
};

class FakeBackend;

// A session that records its calls. A blocking run waits (in real time) for a cancel of its
// statement or its token, the way a long statement on the server does.
class FakeSession : public WorkerSession {
 public:
  FakeSession(FakeBackend& backend, int worker);
  ~FakeSession() override;
  void Close() override {}
  bool Open(const std::string& connect) override;
  void CancelRunning() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancelled_ = true;
    }
    cv_.notify_all();
  }
  WorkerOutcome DayRun(const std::string& day, const RunContext& run) override;
  WorkerOutcome RangeRun(const std::string& area, const std::string& firstDay,
                         const std::string& lastDay, const RunContext& run) override;

  // Blocks until the statement is cancelled (or 20 s of real time pass).
  WorkerOutcome BlockUntilCancelled(const RunContext& run) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::seconds(20),
                 [&] { return cancelled_ || run.cancel->IsCancelled(); });
    run.queryFlag.store(0);
    return WorkerOutcome::kFailed;
  }

 private:
  FakeBackend& backend_;
  int worker_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool cancelled_ = false;
};

struct RunCall {
  int worker;
  std::string day, area, first, last;
  std::time_t at;
  std::int32_t flagAtStart;
};

class FakeBackend : public WorkerBackend {
 public:
  std::unique_ptr<WorkerSession> NewSession(int worker) override {
    return std::make_unique<FakeSession>(*this, worker);
  }
  WorkerOutcome CleanUp(const std::string& folder, const CancelToken*) override {
    std::lock_guard<std::mutex> lock(mutex);
    cleanups.push_back(folder);
    return WorkerOutcome::kGood;
  }
  void LoadCompanyNames() override { ++loads; }

  // Configuration: Open fails this many times for worker n (-1: always).
  int openFailures[5] = {0, 0, 0, 0, 0};
  bool blockRuns = false;  // runs wait until their statement is cancelled
  // Opens hang, deaf to any cancel, until ReleaseOpens: a server that never answers.
  bool hangOpens = false;
  std::condition_variable openCv;
  void ReleaseOpens() {
    std::lock_guard<std::mutex> lock(mutex);
    hangOpens = false;
    openCv.notify_all();
  }
  WorkerOutcome runResult = WorkerOutcome::kGood;
  // When set, a run's result comes from here (called outside the lock).
  std::function<WorkerOutcome(const RunCall&)> runWith;

  // Records.
  std::mutex mutex;
  std::vector<RunCall> runs;
  std::vector<std::string> cleanups;
  std::vector<std::string> connects;
  int opens[5] = {};
  int sessions[5] = {};
  int active[5] = {};
  int maxActive[5] = {};
  std::atomic<int> loads{0};

  int RunCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(runs.size());
  }
  std::vector<RunCall> Runs() {
    std::lock_guard<std::mutex> lock(mutex);
    return runs;
  }
  std::vector<std::string> Cleanups() {
    std::lock_guard<std::mutex> lock(mutex);
    return cleanups;
  }
  std::vector<std::string> Connects() {
    std::lock_guard<std::mutex> lock(mutex);
    return connects;
  }
  int Opens(int n) {
    std::lock_guard<std::mutex> lock(mutex);
    return opens[n];
  }

  WorkerOutcome Run(FakeSession& s, RunCall call, const RunContext& run) {
    call.at = GetClock().Now();
    call.flagAtStart = run.queryFlag.load();
    {
      std::lock_guard<std::mutex> lock(mutex);
      runs.push_back(call);
    }
    if (blockRuns) return s.BlockUntilCancelled(run);
    run.queryFlag.store(0);
    return runWith ? runWith(call) : runResult;
  }
};

inline FakeSession::FakeSession(FakeBackend& backend, int worker)
    : backend_(backend), worker_(worker) {
  std::lock_guard<std::mutex> lock(backend_.mutex);
  ++backend_.sessions[worker_];
  ++backend_.active[worker_];
  backend_.maxActive[worker_] = std::max(backend_.maxActive[worker_], backend_.active[worker_]);
}

inline FakeSession::~FakeSession() {
  std::lock_guard<std::mutex> lock(backend_.mutex);
  --backend_.active[worker_];
}

inline bool FakeSession::Open(const std::string& connect) {
  std::unique_lock<std::mutex> lock(backend_.mutex);
  backend_.connects.push_back(connect);
  backend_.openCv.wait(lock, [this] { return !backend_.hangOpens; });
  int failures = backend_.openFailures[worker_];
  int done = backend_.opens[worker_]++;
  return failures >= 0 && done >= failures;
}

inline WorkerOutcome FakeSession::DayRun(const std::string& day, const RunContext& run) {
  return backend_.Run(*this, RunCall{worker_, day, "", "", "", 0, 0}, run);
}

inline WorkerOutcome FakeSession::RangeRun(const std::string& area, const std::string& first,
                                           const std::string& last, const RunContext& run) {
  return backend_.Run(*this, RunCall{worker_, "", area, first, last, 0, 0}, run);
}

class WorkerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("zelvik-workers-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::string error;
    ASSERT_TRUE(SetProgramDirDirect(dir_.string(), &error));
    std::memset(g_szLogDay, 0, sizeof(g_szLogDay));
    for (int i = 0; i < 4; ++i) panes_[i].SetListener(&recorder_);
    BindLogPanes(&panes_[0], &panes_[1], &panes_[2], &panes_[3]);
    // Monday 7 November 2022, 10:00.
    clock_.SetNow(FakeClock::MakeLocal(2022, 11, 7, 10, 0, 0));
    SetClock(&clock_);
    model_ = std::make_unique<WindowModel>(backend_);
    model_->OnInitDialog();
  }
  void TearDown() override {
    clock_.Release();
    model_.reset();
    SetClock(nullptr);
    BindLogPanes(nullptr, nullptr, nullptr, nullptr);
    g_bstop.store(0);
    std::filesystem::remove_all(dir_);
  }

  static std::time_t At(int y, int mo, int d, int h, int mi, int s) {
    return FakeClock::MakeLocal(y, mo, d, h, mi, s);
  }
  // Waits until worker n's slot is free again.
  bool WaitEnded(int n, int timeoutMs = 10000) {
    return WaitUntil([&] { return !model_->Slot(n).IsTaken(); }, timeoutMs);
  }
  static std::string Start(const char* label) {
    return std::string("------------------------------- ") + label + " START";
  }
  static std::string Stop(const char* label) {
    return std::string("------------------------------- ") + label + " STOP";
  }
  // The clock when worker n's STOP line was shown; 0 when there is none.
  std::time_t StopTime(int n) {
    for (const PaneLine& l : recorder_.Lines(n)) {
      if (l.text.rfind(Stop(WorkerLabel(n)), 0) == 0) return l.at;
    }
    return 0;
  }

  std::filesystem::path dir_;
  FakeClock clock_;
  PaneRecorder recorder_;
  LogPane panes_[4] = {LogPane(1), LogPane(2), LogPane(3), LogPane(4)};
  FakeBackend backend_;
  std::unique_ptr<WindowModel> model_;
};

}  // namespace zelvik::testing
