#include "workers/workers.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <set>

#include "db/connect_string.h"
#include "extract/export_plan.h"
#include "extract/worker_label.h"
#include "workers/run_gate.h"
#include "workers/window_model.h"
#include "log/run_log.h"
#include "publish/publish_repair.h"
#include "util/file_io.h"
#include "util/format.h"
#include "util/number_parse.h"
#include "util/platform.h"
#include "util/process_state.h"
#include "util/time_string.h"

namespace zelvik {
namespace {

constexpr const char* kTriggerTime = "0700";  // nhour_check of worker 1
constexpr int kPassWaitSteps = 50;             // worker 1 between two looks at the clock
constexpr int kRetrySteps = 12;                // worker 1 between two connection attempts
constexpr std::size_t kConnectBufferSize = 1024;

// The session of a worker, registered with its slot for the life of the worker so that a
// forced end can cancel its running statement; closed and unregistered before it goes.
class SessionHold {
 public:
  SessionHold(WorkerSlot& slot, std::unique_ptr<WorkerSession> session)
      : slot_(slot), session_(std::move(session)) {
    slot_.AttachSession(session_.get());
  }
  ~SessionHold() {
    session_->Close();
    slot_.AttachSession(nullptr);
  }
  SessionHold(const SessionHold&) = delete;
  SessionHold& operator=(const SessionHold&) = delete;
  WorkerSession& operator*() { return *session_; }
  WorkerSession* operator->() { return session_.get(); }

 private:
  WorkerSlot& slot_;
  std::unique_ptr<WorkerSession> session_;
};

// The missed days worker 1's daily mode catches up: the days of the last `days` before today
// without their final pair, yesterday only once the 07:00 export has had its minute. A day
// tried since the last catch-up point (the start, each new local day, each 07:00 export)
// waits for the next one, so that a day that keeps failing costs one try per point, not one
// per pass.
class CatchUp {
 public:
  // The oldest day to catch up now; empty when there is none. Cheap: it only asks whether
  // the final files exist, so it never delays the 07:00 pass.
  std::string NextDay(std::time_t now, int days) {
    const std::tm tm = LocalTime(now);
    const bool after0700 = tm.tm_hour * 100 + tm.tm_min > 700;
    const std::chrono::sys_days today = std::chrono::year_month_day(
        std::chrono::year(tm.tm_year + 1900), std::chrono::month(static_cast<unsigned>(tm.tm_mon + 1)),
        std::chrono::day(static_cast<unsigned>(tm.tm_mday)));
    // A day that failed while the 07:00 export was missed would otherwise wait for a later
    // 07:00 export that may never come.
    if (today != triedOn_) {
      tried_.clear();
      triedOn_ = today;
    }
    for (int back = days; back >= 1; --back) {
      if (back == 1 && !after0700) break;
      const std::chrono::year_month_day ymd(today - std::chrono::days(back));
      const std::string day = Format("%04d%02u%02u", static_cast<int>(ymd.year()),
                                     static_cast<unsigned>(ymd.month()),
                                     static_cast<unsigned>(ymd.day()));
      if (tried_.count(day) != 0) continue;
      ExportPlan plan;
      std::string refused;
      if (PlanExport(ExportInputs{1, day, "", ""}, g_szExeDir, plan, refused) != PlanResult::kOk) {
        continue;
      }
      if (Exists949(plan.szExportPath) && Exists949(plan.szSummaryPath)) continue;
      // Another live run is writing it: that run publishes it, or fails and leaves it to the
      // next pass.
      if (OutputInProgress(plan.szExportPath) || OutputInProgress(plan.szSummaryPath)) continue;
      return day;
    }
    return std::string();
  }
  void Tried(const std::string& day) { tried_.insert(day); }
  void NewPoint() { tried_.clear(); }

 private:
  static bool Exists949(const char* path949) { return platform::PathExists(SysPath(path949)); }

  std::set<std::string> tried_;
  std::chrono::sys_days triedOn_{};  // the local day tried_ was begun on
};

// One worker's run on its own thread: its pane, its slot, its session and its outcome.
class Worker {
 public:
  Worker(WindowModel* dlg, int n)
      : dlg_(*dlg), n_(n), slot_(dlg->Slot(n)), cancel_(slot_.Cancel()),
        db_(slot_, dlg->Backend().NewSession(n)) {}

  int RunWorker1();  // s_ThreadWorker
  int RunRange();    // s_ThreadWorker2 .. s_ThreadWorker4

 private:
  void Log(const std::string& text) { WriteLog(text, n_); }
  const char* Label() const { return WorkerLabel(n_); }

  // A stop request, or a forced end.
  bool Stopped() const { return g_bstop.load() != 0 || cancel_.IsCancelled(); }

  // Waits steps one-second steps, looking at the stop request after each. False when the
  // wait ended early.
  bool WaitSteps(int steps) {
    for (int i = 0; i < steps; ++i) {
      if (!GetClock().Sleep(1000, &cancel_)) return false;
      if (g_bstop.load() != 0) return false;
    }
    return true;
  }
  RunGate::StepWait Waits() {
    return [this](int steps) { return WaitSteps(steps); };
  }

  // The connect text from the texts captured by the start command; false (logged) when a
  // text cannot be written in it or it does not fit its 1024-byte buffer.
  bool ConnectText(std::string* connect) {
    const char* refused = "";
    if (!BuildConnectString(dlg_.DSN(), dlg_.UID(), dlg_.PWD(), connect, &refused)) {
      Log(Format("%s connect text cannot hold the %s: not connecting", Label(), refused));
      return false;
    }
    if (connect->size() < kConnectBufferSize) return true;
    Log(Format("%s connect text longer than %zu bytes: not connecting", Label(),
               kConnectBufferSize - 1));
    return false;
  }

  void LogOpenError(const std::string& connect) {
    Log(Format("OpenDB error[%s]", MaskPassword(connect).c_str()));
  }

  RunContext Context() { return RunContext{dlg_.QryFlag(n_), dlg_.m_bBessel2WGS84, &cancel_}; }

  // A run's result: the first one that is not good stays the worker's outcome.
  void NoteRun(WorkerOutcome result) {
    if (outcome_ == WorkerOutcome::kNone || outcome_ == WorkerOutcome::kGood) outcome_ = result;
  }
  // Why the worker ended, when it ended for a reason of its own.
  void NoteEnd(WorkerOutcome reason) {
    if (reason == WorkerOutcome::kStopped) {
      if (outcome_ == WorkerOutcome::kNone) outcome_ = reason;
    } else if (outcome_ == WorkerOutcome::kNone || outcome_ == WorkerOutcome::kGood) {
      outcome_ = reason;
    }
  }
  void Report() {
    if (outcome_ == WorkerOutcome::kNone) outcome_ = WorkerOutcome::kStopped;
    dlg_.SetOutcome(n_, outcome_);
  }

  std::string Banner(const char* what) {
    return Format("------------------------------- %s %s g_bstop[%d] ---------------------------",
                  Label(), what, g_bstop.load());
  }

  WorkerOutcome Worker1Pass(CatchUp& catchUp);
  void Worker1Loop();
  void Worker1End();
  WorkerOutcome RangeSteps(const std::string& area);

  WindowModel& dlg_;
  const int n_;
  WorkerSlot& slot_;
  const CancelToken& cancel_;
  SessionHold db_;
  WorkerOutcome outcome_ = WorkerOutcome::kNone;
};

// One pass of worker 1's loop up to its run. Returns kNone to go on with the after-run step,
// or the reason to go to End.
WorkerOutcome Worker::Worker1Pass(CatchUp& catchUp) {
  bool daily = dlg_.GetCheck(kIdDay1) == 0;
  std::string missedDay;
  if (daily) {
    const std::time_t now = GetClock().Now();
    char szNow[32] = {};
    FormatTimeString(szNow, 0, now);
    if (std::strncmp(szNow + 8, kTriggerTime, 4) != 0) {
      if (dlg_.CatchUpDays() <= 0) return WorkerOutcome::kNone;
      missedDay = catchUp.NextDay(now, dlg_.CatchUpDays());
      if (missedDay.empty()) return WorkerOutcome::kNone;
      catchUp.Tried(missedDay);
    }
  }
  std::string firstDay, lastDay;
  if (!CheckDateFields(dlg_.GetText(kIdDay1First), dlg_.GetText(kIdDay1Last), &firstDay,
                       &lastDay)) {
    return WorkerOutcome::kInvalidDates;
  }
  if (!missedDay.empty()) {
    Log(Format("%s catching up a missed day[%s]", Label(), missedDay.c_str()));
  }
  std::string connect;
  if (!ConnectText(&connect)) return WorkerOutcome::kNoConnection;
  bool failedOnce = false;
  for (;;) {
    if (Stopped()) return failedOnce ? WorkerOutcome::kNoConnection : WorkerOutcome::kStopped;
    db_->Close();
    if (db_->Open(connect)) break;
    LogOpenError(connect);
    failedOnce = true;
    if (!WaitSteps(kRetrySteps)) return WorkerOutcome::kNoConnection;
  }
  AppendLogPane(1, std::string(), 1);
  std::string day = firstDay;
  if (!missedDay.empty()) {
    day = missedDay;
  } else if (daily) {
    char szYesterday[32] = {};
    GetTimeString(szYesterday, 0, 1);
    day.assign(szYesterday, 8);
  }
  if (Stopped()) return WorkerOutcome::kStopped;
  if (!dlg_.Gate().Wait(n_, 59, Waits())) return WorkerOutcome::kStopped;
  NoteRun(db_->DayRun(day, Context()));
  // The 07:00 export is a catch-up point: a missed day that failed may be tried once more.
  if (daily && missedDay.empty()) catchUp.NewPoint();
  return WorkerOutcome::kNone;
}

// Worker 1's passes until a stop, an end of its own, or the one run of the specific day.
void Worker::Worker1Loop() {
  CatchUp catchUp;
  while (!Stopped()) {
    WorkerOutcome end = Worker1Pass(catchUp);
    if (end != WorkerOutcome::kNone) {
      NoteEnd(end);
      break;
    }
    // After-run.
    db_->Close();
    dlg_.m_bQryThread1.store(0);
    if (dlg_.GetCheck(kIdDay1) != 0) break;
    Log(Format("s_ThreadWorker Sleep(%d) nhour_check[%s]", kPassWaitSteps, kTriggerTime));
    if (Stopped() || !WaitSteps(kPassWaitSteps)) break;
  }
}

// Worker 1's End. The flag goes first: a range worker of an earlier start may be waiting for
// it while this worker waits for that range worker below.
void Worker::Worker1End() {
  db_->Close();
  dlg_.m_bQryThread1.store(0);
  // Not a wait that the stop request ends: only a forced end does.
  while (dlg_.m_hThread2.IsTaken()) {
    if (!GetClock().Sleep(1000, &cancel_)) break;
  }
  // After a forced end the stop command has set the caption already, and a later start may
  // have set it again: leave it alone.
  if (!slot_.ForcedEnd()) dlg_.SetText(kIdStartStop, kCaptionIdle);
  Log(Banner("STOP"));
  Report();
}

int Worker::RunWorker1() {
  dlg_.m_bQryThread1.store(1);
  std::string path = dlg_.GetText(kIdFolder);
  if (dlg_.GetCheck(kIdOnOff) != 0 && !path.empty()) {
    Log(Banner("START"));
    NoteRun(dlg_.Backend().CleanUp(path, &cancel_));
  } else {
    Log(Banner("START"));
    db_->Close();
    Worker1Loop();
  }
  Worker1End();
  return 0;
}

// A range worker's steps from its box and field checks to its run. Returns kNone once it has
// run, or the reason it went to End.
WorkerOutcome Worker::RangeSteps(const std::string& area) {
  const RangeControls& controls = kRangeControls[n_ - 2];
  std::string firstDay, lastDay, connect;
  if (Stopped() || dlg_.GetCheck(controls.box) == 0) return WorkerOutcome::kStopped;
  if (!CheckDateFields(dlg_.GetText(controls.first), dlg_.GetText(controls.last), &firstDay,
                       &lastDay)) {
    return WorkerOutcome::kInvalidDates;
  }
  if (!ConnectText(&connect)) return WorkerOutcome::kNoConnection;
  db_->Close();
  if (!db_->Open(connect)) {
    LogOpenError(connect);
    return WorkerOutcome::kNoConnection;
  }
  AppendLogPane(n_, std::string(), 1);
  if (Stopped() || !dlg_.Gate().Wait(n_, 30, Waits())) return WorkerOutcome::kStopped;
  NoteRun(db_->RangeRun(area, firstDay, lastDay, Context()));
  return WorkerOutcome::kNone;
}

int Worker::RunRange() {
  std::string area = dlg_.GetText(kIdArea);
  if (area.size() < 4) area = "00003";
  dlg_.QryFlag(n_).store(0);
  RunGate::FirstDelay(n_, &cancel_);
  Log(Banner("START"));
  if (g_bstop.load() == 0) dlg_.Gate().WaitOthersIdle(n_, Waits());
  db_->Close();
  const WorkerOutcome end = RangeSteps(area);
  if (end != WorkerOutcome::kNone) NoteEnd(end);
  db_->Close();
  Log(Banner("STOP"));
  Report();
  return 0;
}
}  // namespace

int s_ThreadWorker(WindowModel* pDlg) { return Worker(pDlg, 1).RunWorker1(); }
int s_ThreadWorker2(WindowModel* pDlg) { return Worker(pDlg, 2).RunRange(); }
int s_ThreadWorker3(WindowModel* pDlg) { return Worker(pDlg, 3).RunRange(); }
int s_ThreadWorker4(WindowModel* pDlg) { return Worker(pDlg, 4).RunRange(); }

void RunWorkerThread(WindowModel* pDlg, int n) {
  try {
    switch (n) {
      case 1: s_ThreadWorker(pDlg); break;
      case 2: s_ThreadWorker2(pDlg); break;
      case 3: s_ThreadWorker3(pDlg); break;
      default: s_ThreadWorker4(pDlg); break;
    }
  } catch (const std::exception& e) {
    WriteLog(Format("%s ended by an unexpected error[%s]", WorkerLabel(n), e.what()), n);
    pDlg->SetOutcome(n, WorkerOutcome::kFailed);
    if (n == 1 && !pDlg->Slot(1).ForcedEnd()) pDlg->SetText(kIdStartStop, kCaptionIdle);
  } catch (...) {
    WriteLog(Format("%s ended by an unexpected error", WorkerLabel(n)), n);
    pDlg->SetOutcome(n, WorkerOutcome::kFailed);
    if (n == 1 && !pDlg->Slot(1).ForcedEnd()) pDlg->SetText(kIdStartStop, kCaptionIdle);
  }
  pDlg->QryFlag(n).store(0);
  pDlg->Slot(n).MarkEnded();
}

bool CheckDateFields(const std::string& first, const std::string& last, std::string* firstDay,
                     std::string* lastDay) {
  struct Ymd {
    std::int32_t y, m, d;
  };
  auto split = [](const std::string& text) {
    auto piece = [&](std::size_t pos, std::size_t len) {
      std::string p = pos < text.size() ? text.substr(pos, len) : std::string();
      return ParseLong32(p.c_str());
    };
    return Ymd{piece(0, 4), piece(4, 2), piece(6, 2)};
  };
  Ymd a = split(first);
  Ymd b = split(last);
  if (a.y != b.y || a.m != b.m || a.d < 1 || b.d < 1 || a.d > b.d) return false;
  *firstDay = Format("%04d%02d%02d", a.y, a.m, a.d);
  *lastDay = Format("%04d%02d%02d", b.y, b.m, b.d);
  return true;
}

}  // namespace zelvik
