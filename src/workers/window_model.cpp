#include "workers/window_model.h"

#include <algorithm>
#include <chrono>

#include "extract/worker_label.h"
#include "workers/workers.h"
#include "log/run_log.h"
#include "util/codepage.h"
#include "util/format.h"
#include "util/process_state.h"
#include "util/time_string.h"

namespace zelvik {
namespace {

// Every control the model keeps, with the template's captions.
constexpr int kControlIds[] = {
    kIdStartStop, kIdDsn,        kIdUid,         kIdPwd,    kIdArea,        kIdPreset,
    kIdDay1,      kIdDay1First,  kIdDay1Last,    kIdOnOff,  kIdFolder,      kIdRange2,
    kIdRange2First, kIdRange2Last, kIdRange3,    kIdRange3First, kIdRange3Last, kIdRange4,
    kIdRange4First, kIdRange4Last, kIdBessel,
};

struct Preset {
  const char* caption;  // UTF-8, converted with Kr
  const char* dsn;
  const char* pwd;
};
constexpr Preset kProduction = {"상용", "dbidc", "mwrtqpzfbnkcye41"};
constexpr Preset kDevelopment = {"개발", "db243", "vdnhxkpqcjrus63"};

}  // namespace

WindowModel::WindowModel(WorkerBackend& backend) : backend_(backend) {
  for (int id : kControlIds) controls_[id];
  controls_[kIdStartStop].text = std::string(kCaptionIdle);
  controls_[kIdPreset].text = Kr(kProduction.caption);
  g_bstop.store(0);
}

WindowModel::~WindowModel() {
  for (int n = 1; n <= 4; ++n) Slot(n).ForceEnd();
  for (int n = 1; n <= 4; ++n) Slot(n).Join();
}

void WindowModel::SetView(WindowView* view) {
  std::lock_guard<std::mutex> lock(mutex_);
  view_ = view;
}

WindowModel::Control* WindowModel::Find(int id) {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

const WindowModel::Control* WindowModel::Find(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

std::string WindowModel::GetText(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Control* c = Find(id);
  return c != nullptr ? c->text : std::string();
}

void WindowModel::SetText(int id, std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Control* c = Find(id);
  if (c == nullptr || c->text == text) return;
  c->text.assign(text);
  if (view_ != nullptr) view_->OnTextChanged(id, c->text);
}

int WindowModel::GetCheck(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Control* c = Find(id);
  return c != nullptr ? c->checked : 0;
}

void WindowModel::SetCheck(int id, int checked) {
  std::lock_guard<std::mutex> lock(mutex_);
  Control* c = Find(id);
  int mark = checked != 0 ? 1 : 0;
  if (c == nullptr || c->checked == mark) return;
  c->checked = mark;
  if (view_ != nullptr) view_->OnCheckChanged(id, mark);
}

void WindowModel::OnInitDialog() {
  SetText(kIdUid, "qarnimel");
  for (int id : {kIdDay1, kIdRange2, kIdRange3, kIdRange4}) SetCheck(id, 0);
  SetCheck(kIdBessel, 1);
  SetCheck(kIdPreset, 0);
  OnPresetCheck();
  m_bBessel2WGS84.store(GetCheck(kIdBessel));
  char szNow[32] = {};
  GetTimeString(szNow, 0, 0);
  std::string today(szNow, 8);
  for (int id : {kIdDay1First, kIdDay1Last, kIdRange2First, kIdRange2Last, kIdRange3First,
                 kIdRange3Last, kIdRange4First, kIdRange4Last}) {
    SetText(id, today);
  }
  SetText(kIdArea, "00003");
  // Once at start: the run log's times are local, and a wrong zone must show in it.
  WriteLog(Format("local time UTC%s", UtcOffsetText().c_str()), 1);
  backend_.LoadCompanyNames();
}

void WindowModel::OnPresetCheck() {
  const Preset& p = GetCheck(kIdPreset) != 0 ? kDevelopment : kProduction;
  SetText(kIdPreset, Kr(p.caption));
  SetText(kIdDsn, p.dsn);
  SetText(kIdPwd, p.pwd);
}

void WindowModel::OnBesselCheck() { m_bBessel2WGS84.store(GetCheck(kIdBessel)); }

WindowModel::StartStop WindowModel::OnStartStop() {
  if (GetText(kIdStartStop) != kCaptionIdle) return Stop();
  g_bstop.store(0);
  SetText(kIdStartStop, kCaptionRunning);
  if (!CaptureFields()) return StartStop::kFieldMissing;
  return StartWorkers();
}

WindowModel::StartStop WindowModel::Stop() {
  g_bstop.store(1);
  SetText(kIdStartStop, kCaptionIdle);
  // Workers 2 to 4 end at their next look at the stop request; worker 1 gets one second.
  GetClock().Sleep(1000, nullptr);
  m_hThread1.ForceEnd();
  return StartStop::kStopped;
}

bool WindowModel::CaptureFields() {
  struct FieldCheck {
    int id;
    std::string WindowModel::*member;
    const char* message;
  };
  const FieldCheck checks[] = {
      {kIdDsn, &WindowModel::m_strDSN, "DSN 입력하시오."},
      {kIdUid, &WindowModel::m_strUID, "UID 입력하시오."},
      {kIdPwd, &WindowModel::m_strPWD, "PWD 입력하시오."},
  };
  {
    std::lock_guard<std::mutex> lock(mutex_);
    m_strDSN.clear();
    m_strUID.clear();
    m_strPWD.clear();
  }
  for (const FieldCheck& check : checks) {
    std::string text = GetText(check.id);
    if (text.empty()) {
      WindowView* view;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        view = view_;
      }
      SetText(kIdStartStop, kCaptionIdle);
      if (view != nullptr) view->ShowFieldMessage(Kr(check.message), check.id);
      return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    this->*check.member = text;
  }
  return true;
}

WindowModel::StartStop WindowModel::StartWorkers() {
  // Each box is looked at once, now.
  int ticked[3] = {};
  for (int k = 0; k < 3; ++k) ticked[k] = GetCheck(kRangeControls[k].box);
  bool started = false;
  if (ticked[0] == 0 && ticked[1] == 0 && ticked[2] == 0) started |= StartWorker(1);
  for (int k = 0; k < 3; ++k) {
    if (ticked[k] != 0) started |= StartWorker(k + 2);
  }
  if (started) return StartStop::kStarted;
  SetText(kIdStartStop, kCaptionIdle);
  return StartStop::kNoneStarted;
}

bool WindowModel::StartWorker(int n) {
  WorkerSlot& slot = Slot(n);
  // Set before the thread exists, so a report never reads the outcome of an earlier start.
  if (!slot.IsTaken()) SetOutcome(n, WorkerOutcome::kNone);
  switch (slot.Start([this, n] { RunWorkerThread(this, n); })) {
    case WorkerSlot::StartResult::kStarted:
      return true;
    case WorkerSlot::StartResult::kTaken:
      WriteLog(Format("%s is still running: not started again", WorkerLabel(n)), n);
      break;
    case WorkerSlot::StartResult::kNoThread:
      WriteLog(Format("%s could not be started: no thread", WorkerLabel(n)), n);
      break;
  }
  return false;
}

void WindowModel::OnCancel() { g_bstop.store(1); }

bool WindowModel::Teardown() {
  g_bstop.store(1);
  GetClock().Sleep(1000, nullptr);
  return EndWorkers(kEndGraceMs);
}

bool WindowModel::EndWorkers(std::int64_t graceMs) {
  for (int n = 1; n <= 4; ++n) Slot(n).ForceEnd();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  bool allEnded = true;
  for (int n = 1; n <= 4; ++n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (Slot(n).JoinFor(std::max<std::int64_t>(left.count(), 0))) continue;
    allEnded = false;
    SetOutcome(n, WorkerOutcome::kAbandoned);
    WriteLog(Format("%s still inside a database call %lld ms after its forced end: the program "
                    "ends without it",
                    WorkerLabel(n), static_cast<long long>(graceMs)),
             n);
  }
  return allEnded;
}

std::atomic<std::int32_t>& WindowModel::QryFlag(int n) {
  switch (n) {
    case 1: return m_bQryThread1;
    case 2: return m_bQryThread2;
    case 3: return m_bQryThread3;
    default: return m_bQryThread4;
  }
}

WorkerSlot& WindowModel::Slot(int n) {
  switch (n) {
    case 1: return m_hThread1;
    case 2: return m_hThread2;
    case 3: return m_hThread3;
    default: return m_hThread4;
  }
}

std::string WindowModel::DSN() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_strDSN;
}

std::string WindowModel::UID() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_strUID;
}

std::string WindowModel::PWD() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_strPWD;
}

WorkerOutcome WindowModel::Outcome(int n) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return (n >= 1 && n <= 4) ? outcomes_[n - 1] : WorkerOutcome::kNone;
}

void WindowModel::SetOutcome(int n, WorkerOutcome outcome) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (n >= 1 && n <= 4) outcomes_[n - 1] = outcome;
}

bool WindowModel::AnyWorkerRunning() const {
  return m_hThread1.IsTaken() || m_hThread2.IsTaken() || m_hThread3.IsTaken() ||
         m_hThread4.IsTaken();
}

}  // namespace zelvik
