#pragma once
// A worker backend for tests of the model and the workers: its sessions record what the
// workers ask of them (connects, runs with the clock and the query flag at their start,
// clean-ups), and answer as the test configures them.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "util/clock.h"
#include "workers/worker_backend.h"

namespace zelvik::testing {

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

}  // namespace zelvik::testing
