#include "workers/workers.h"

#include <array>
#include <chrono>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <set>

#include "db/connect_string.h"
#include "extract/export_plan.h"
#include "extract/worker_label.h"
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

struct RangeControls {
  int box, first, last;
  std::int64_t delayMs;  // the first delay: one sleep that no stop request interrupts
};
constexpr RangeControls kRangeControls[] = {
    {kIdRange2, kIdRange2First, kIdRange2Last, 15000},
    {kIdRange3, kIdRange3First, kIdRange3Last, 30000},
    {kIdRange4, kIdRange4First, kIdRange4Last, 45000},
};

// The clock side of the run gate: Monday to Friday, HHMM above "2200" or below "0200".
bool IsQuietHour(int weekday, const char* hhmm) {
  if (weekday < 1 || weekday > 5) return false;
  return std::strncmp(hhmm, "2200", 4) > 0 || std::strncmp(hhmm, "0200", 4) < 0;
}

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

class Worker {
 public:
  Worker(WindowModel* dlg, int n)
      : dlg_(*dlg), n_(n), slot_(dlg->Slot(n)), cancel_(slot_.Cancel()),
        db_(slot_, dlg->Backend().NewSession(n)) {}

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

  // Waits while the run gate is closed. When it opens, the worker's query flag has been set
  // in the same step as the others were found clear. False when a stop ended the wait.
  bool GateWait(int steps) {
    for (;;) {
      char szNow[32] = {};
      int wday = GetTimeString(szNow, 0, 0);
      char szHHMM[8] = {};
      std::memcpy(szHHMM, szNow + 8, 4);
      std::int32_t others[3] = {};
      bool quiet = !dlg_.IgnoreQuietHours() && IsQuietHour(wday, szHHMM);
      if (!quiet && dlg_.TryEnterQuery(n_, others)) return true;
      if (quiet) ReadOthers(others);
      const std::array<int, 3> ids = OtherWorkers(n_);
      Log(Format("Sleep 59 sec => m_bQryThread%d[%d] or m_bQryThread%d[%d] or "
                 "m_bQryThread%d[%d] or (tm_wday (0 < %d < 6) and ((%s > 2200) || ((%s < "
                 "0200)))",
                 ids[0], others[0], ids[1], others[1], ids[2], others[2], wday, szHHMM, szHHMM));
      if (!WaitSteps(steps)) return false;
    }
  }

  // The connect text from the texts captured by the start command; false (logged) when it
  // does not fit its 1024-byte buffer.
  bool ConnectText(std::string* connect) {
    *connect = Format("DSN=%s;UID=%s;PWD=%s", dlg_.DSN().c_str(), dlg_.UID().c_str(),
                      dlg_.PWD().c_str());
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

  // The query flags of the three other workers, as the run gate names them.
  void ReadOthers(std::int32_t others[3]) {
    const std::array<int, 3> ids = OtherWorkers(n_);
    for (std::size_t k = 0; k < ids.size(); ++k) others[k] = dlg_.QryFlag(ids[k]).load();
  }

  std::string Banner(const char* what) {
    return Format("------------------------------- %s %s g_bstop[%d] ---------------------------",
                  Label(), what, g_bstop.load());
  }

  WindowModel& dlg_;
  const int n_;
  WorkerSlot& slot_;
  const CancelToken& cancel_;
  SessionHold db_;
  WorkerOutcome outcome_ = WorkerOutcome::kNone;
};

// The missed days worker 1's daily mode catches up: the days of the last `days` before today
// without their final pair, yesterday only once the 07:00 export has had its minute. A day
// tried since the last catch-up point (the start, each 07:00 export) waits for the next one,
// so that a day that keeps failing costs one try per point, not one per pass.
class CatchUp {
 public:
  // The oldest day to catch up now; empty when there is none. Cheap: it only asks whether
  // the final files exist, so it never delays the 07:00 pass.
  std::string NextDay(std::time_t now, int days) const {
    const std::tm tm = LocalTime(now);
    const bool after0700 = tm.tm_hour * 100 + tm.tm_min > 700;
    const std::chrono::sys_days today = std::chrono::year_month_day(
        std::chrono::year(tm.tm_year + 1900), std::chrono::month(static_cast<unsigned>(tm.tm_mon + 1)),
        std::chrono::day(static_cast<unsigned>(tm.tm_mday)));
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
};

// One pass of worker 1's loop up to its run. Returns kNone to go on with the after-run step,
// or the reason to go to End.
WorkerOutcome Worker1Pass(Worker& w, CatchUp& catchUp) {
  WindowModel& dlg = w.dlg_;
  bool daily = dlg.GetCheck(kIdDay1) == 0;
  std::string missedDay;
  if (daily) {
    const std::time_t now = GetClock().Now();
    char szNow[32] = {};
    FormatTimeString(szNow, 0, now);
    if (std::strncmp(szNow + 8, kTriggerTime, 4) != 0) {
      if (dlg.CatchUpDays() <= 0) return WorkerOutcome::kNone;
      missedDay = catchUp.NextDay(now, dlg.CatchUpDays());
      if (missedDay.empty()) return WorkerOutcome::kNone;
      catchUp.Tried(missedDay);
    }
  }
  std::string firstDay, lastDay;
  if (!CheckDateFields(dlg.GetText(kIdDay1First), dlg.GetText(kIdDay1Last), &firstDay,
                       &lastDay)) {
    return WorkerOutcome::kInvalidDates;
  }
  if (!missedDay.empty()) {
    w.Log(Format("%s catching up a missed day[%s]", w.Label(), missedDay.c_str()));
  }
  std::string connect;
  if (!w.ConnectText(&connect)) return WorkerOutcome::kNoConnection;
  bool failedOnce = false;
  for (;;) {
    if (w.Stopped()) return failedOnce ? WorkerOutcome::kNoConnection : WorkerOutcome::kStopped;
    w.db_->Close();
    if (w.db_->Open(connect)) break;
    w.LogOpenError(connect);
    failedOnce = true;
    if (!w.WaitSteps(kRetrySteps)) return WorkerOutcome::kNoConnection;
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
  if (w.Stopped()) return WorkerOutcome::kStopped;
  if (!w.GateWait(59)) return WorkerOutcome::kStopped;
  w.NoteRun(w.db_->DayRun(day, w.Context()));
  // The 07:00 export is a catch-up point: a missed day that failed may be tried once more.
  if (daily && missedDay.empty()) catchUp.NewPoint();
  return WorkerOutcome::kNone;
}

int Worker1(WindowModel* pDlg) {
  Worker w(pDlg, 1);
  pDlg->m_bQryThread1.store(1);
  std::string path = pDlg->GetText(kIdFolder);
  if (pDlg->GetCheck(kIdOnOff) != 0 && !path.empty()) {
    w.Log(w.Banner("START"));
    w.NoteRun(pDlg->Backend().CleanUp(path, &w.cancel_));
  } else {
    w.Log(w.Banner("START"));
    w.db_->Close();
    CatchUp catchUp;
    while (!w.Stopped()) {
      WorkerOutcome end = Worker1Pass(w, catchUp);
      if (end != WorkerOutcome::kNone) {
        w.NoteEnd(end);
        break;
      }
      // After-run.
      w.db_->Close();
      pDlg->m_bQryThread1.store(0);
      if (pDlg->GetCheck(kIdDay1) != 0) break;
      w.Log(Format("s_ThreadWorker Sleep(%d) nhour_check[%s]", kPassWaitSteps, kTriggerTime));
      if (w.Stopped() || !w.WaitSteps(kPassWaitSteps)) break;
    }
  }
  // End. The flag goes first: a range worker of an earlier start may be waiting for it while
  // this worker waits for that range worker below.
  w.db_->Close();
  pDlg->m_bQryThread1.store(0);
  while (pDlg->m_hThread2.IsTaken()) {
    if (!GetClock().Sleep(1000, &w.cancel_)) break;
  }
  // After a forced end the stop command has set the caption already, and a later start may
  // have set it again: leave it alone.
  if (!w.slot_.ForcedEnd()) pDlg->SetText(kIdStartStop, kCaptionIdle);
  w.Log(w.Banner("STOP"));
  w.Report();
  return 0;
}

int RangeWorker(WindowModel* pDlg, int n) {
  const RangeControls& controls = kRangeControls[n - 2];
  std::string area = pDlg->GetText(kIdArea);
  if (area.size() < 4) area = "00003";
  Worker w(pDlg, n);
  pDlg->QryFlag(n).store(0);
  GetClock().Sleep(controls.delayMs, &w.cancel_);
  w.Log(w.Banner("START"));
  WorkerOutcome end = WorkerOutcome::kNone;
  if (g_bstop.load() == 0) {
    for (;;) {
      std::int32_t others[3] = {};
      w.ReadOthers(others);
      if (others[0] == 0 && others[1] == 0 && others[2] == 0) break;
      const std::array<int, 3> ids = OtherWorkers(n);
      w.Log(Format("Sleep 59 sec => (m_bQryThread%d[%d] || m_bQryThread%d[%d] || "
                   "m_bQryThread%d[%d])",
                   ids[0], others[0], ids[1], others[1], ids[2], others[2]));
      if (!w.WaitSteps(30)) break;
    }
  }
  w.db_->Close();
  std::string firstDay, lastDay, connect;
  if (w.Stopped() || pDlg->GetCheck(controls.box) == 0) {
    end = WorkerOutcome::kStopped;
  } else if (!CheckDateFields(pDlg->GetText(controls.first), pDlg->GetText(controls.last),
                              &firstDay, &lastDay)) {
    end = WorkerOutcome::kInvalidDates;
  } else if (!w.ConnectText(&connect)) {
    end = WorkerOutcome::kNoConnection;
  } else {
    w.db_->Close();
    if (!w.db_->Open(connect)) {
      w.LogOpenError(connect);
      end = WorkerOutcome::kNoConnection;
    } else {
      AppendLogPane(n, std::string(), 1);
      if (w.Stopped() || !w.GateWait(30)) {
        end = WorkerOutcome::kStopped;
      } else {
        w.NoteRun(w.db_->RangeRun(area, firstDay, lastDay, w.Context()));
      }
    }
  }
  if (end != WorkerOutcome::kNone) w.NoteEnd(end);
  w.db_->Close();
  w.Log(w.Banner("STOP"));
  w.Report();
  return 0;
}

}  // namespace

int s_ThreadWorker(WindowModel* pDlg) { return Worker1(pDlg); }
int s_ThreadWorker2(WindowModel* pDlg) { return RangeWorker(pDlg, 2); }
int s_ThreadWorker3(WindowModel* pDlg) { return RangeWorker(pDlg, 3); }
int s_ThreadWorker4(WindowModel* pDlg) { return RangeWorker(pDlg, 4); }

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
