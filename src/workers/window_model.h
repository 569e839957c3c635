#pragma once
// The main window without a toolkit: every control state the commands and the workers read or
// write, the worker-coordination members, and the commands themselves (defaults, presets, the
// conversion switch, the start/stop command and the teardown). The desktop window is a thin
// view over this model and keeps it in step with its controls; the headless front end sets it
// as an operator would set the window. Workers read control states here, never from a
// control, so no worker ever waits for the window thread.
//
// Texts are code page 949. Every member may be read from any thread; the commands
// (OnInitDialog, OnPresetCheck, OnBesselCheck, OnStartStop, OnCancel, Teardown) run on the
// window thread, one at a time.
//
// How a view uses it:
//   1. bind its four panes (BindLogPanes), SetView(this), then OnInitDialog(); fill its controls
//      from GetText/GetCheck (or from the change notifications OnInitDialog sends);
//   2. on every edit of a field or click on a check box, SetText/SetCheck first, then the
//      command of that control: OnPresetCheck for kIdPreset, OnBesselCheck for kIdBessel;
//   3. a click on kIdStartStop and the one-shot start timer: OnStartStop;
//   4. cancel / close box: OnCancel; once the window is gone: Teardown.
// The copy-to-table check box (the view's kIdCopyToTable) and the labels are the view's alone:
// nothing reads them.

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "util/build_pace.h"
#include "workers/run_gate.h"
#include "workers/worker_backend.h"
#include "workers/worker_slot.h"

namespace zelvik {

// Control IDs of the main window that the model holds.
enum ControlId : int {
  kIdStartStop = 1000,   // button: its caption is the run state ("Zelvik" / "DB Close")
  kIdDsn = 1002,         // field: data source name
  kIdUid = 1003,         // field: user id
  kIdPwd = 1004,         // field: password
  kIdArea = 1009,        // field: area text of workers 2 to 4
  kIdPreset = 1011,      // check box: development preset; its caption names the preset
  kIdDay1 = 1012,        // check box: worker 1 exports the day of kIdDay1First once
  kIdDay1First = 1013,
  kIdDay1Last = 1014,
  kIdOnOff = 1015,       // check box: worker 1 runs the occupancy clean-up of kIdFolder
  kIdFolder = 1016,      // field: folder of the clean-up
  kIdRange2 = 1018,      // check box: start worker 2 over kIdRange2First .. kIdRange2Last
  kIdRange2First = 1019,
  kIdRange2Last = 1020,
  kIdRange3 = 1021,      // check box: start worker 3 over kIdRange3First .. kIdRange3Last
  kIdRange3First = 1022,
  kIdRange3Last = 1023,
  kIdRange4 = 1024,      // check box: start worker 4 over kIdRange4First .. kIdRange4Last
  kIdRange4First = 1025,
  kIdRange4Last = 1026,
  kIdBessel = 1027,      // check box: convert positions to WGS84
};

// The controls of range workers 2 to 4, worker 2 first: check box, first and last day field.
struct RangeControls {
  int box, first, last;
};
inline constexpr RangeControls kRangeControls[] = {
    {kIdRange2, kIdRange2First, kIdRange2Last},
    {kIdRange3, kIdRange3First, kIdRange3Last},
    {kIdRange4, kIdRange4First, kIdRange4Last},
};

// Captions of the start/stop button.
inline constexpr std::string_view kCaptionIdle = "Zelvik";
inline constexpr std::string_view kCaptionRunning = "DB Close";

// What the model needs of the window (or of the terminal).
class WindowView {
 public:
  virtual ~WindowView() = default;
  // The model changed the text or caption of control id (code page 949). Called from any
  // thread (worker 1 sets the start/stop caption when it ends) with the model's lock held, in the
  // order of the changes: queue the update to the window thread; do not block, and do not call
  // into the model from here.
  virtual void OnTextChanged(int id, const std::string& text) = 0;
  // The model changed the mark of check box id (1 checked, 0 not). Same rules.
  virtual void OnCheckChanged(int id, int checked) = 0;
  // A field check of the start command failed: show text (code page 949) in a message box
  // with one OK button, then put the focus on control focusId. Called on the thread running
  // the command, which may wait for the box to be closed.
  virtual void ShowFieldMessage(const std::string& text, int focusId) = 0;
};

class WindowModel {
 public:
  // The backend does the workers' database and file work; it must outlive the model.
  explicit WindowModel(WorkerBackend& backend);
  // Ends by force and joins any worker still registered.
  ~WindowModel();
  WindowModel(const WindowModel&) = delete;
  WindowModel& operator=(const WindowModel&) = delete;

  // Attaches the view (null detaches). Attach before the first command.
  void SetView(WindowView* view);

  // ---- Control states. Unknown IDs read as empty / unchecked and are not stored.
  std::string GetText(int id) const;
  // Stores a text; the view is told when the value changed.
  void SetText(int id, std::string_view text);
  int GetCheck(int id) const;
  void SetCheck(int id, int checked);

  // ---- Commands (window thread).
  // The defaults of a newly opened window: user id "qarnimel", range and preset boxes
  // cleared, conversion on, the production preset, today's date in the eight date fields,
  // area "00003"; then the company-name cache is loaded. The view binds its log panes before
  // and starts its one-shot start timer after.
  void OnInitDialog();
  // Applies the preset that the preset check box (kIdPreset) names: its caption, the data
  // source and password fields (kIdDsn, kIdPwd).
  void OnPresetCheck();
  // m_bBessel2WGS84 follows the conversion check box (kIdBessel).
  void OnBesselCheck();

  enum class StartStop {
    kStarted,        // the caption was "Zelvik": workers started (those whose slot was free)
    kFieldMissing,   // a start whose field check failed: no worker started, caption "Zelvik"
    kNoneStarted,    // every slot asked for was still taken or had no thread: caption "Zelvik"
    kStopped,        // the caption was "DB Close": stop requested, worker 1 ended by force
  };
  // The start/stop command (click on kIdStartStop or the start timer). A stop waits 1000 ms
  // through the clock on the calling thread before it ends worker 1 by force. A start that
  // starts nothing puts the caption back, so that it never says "DB Close" with nothing running.
  StartStop OnStartStop();
  // The cancel command: asks every worker to stop.
  void OnCancel();
  // The teardown after the window is gone: stop request, 1000 ms wait, then EndWorkers with
  // kEndGraceMs. False when a worker was left (the caller then ends the process with
  // EndProcessNow instead of destroying the model under a running thread).
  bool Teardown();
  // How long a stop gives workers ended by force to clean up (a cancelled run removes its
  // temporary files, a session closes) before the program ends without them: one second,
  // scaled in a sanitizer build.
  static constexpr std::int64_t kEndGraceMs = 1000 * kBuildSlowdown;
  // Ends every registered worker by force and waits up to graceMs of real time for them. A
  // worker still inside a database call that cannot be cancelled then (a connect to a server
  // that never answers) holds no file: it is logged, counted as stopped and left. True when
  // every worker has ended and been joined.
  bool EndWorkers(std::int64_t graceMs);

  // ---- What the workers share.
  std::atomic<std::int32_t> m_bQryThread1{0};
  std::atomic<std::int32_t> m_bQryThread2{0};
  std::atomic<std::int32_t> m_bQryThread3{0};
  std::atomic<std::int32_t> m_bQryThread4{0};
  std::atomic<std::int32_t> m_bBessel2WGS84{0};
  WorkerSlot m_hThread1;
  WorkerSlot m_hThread2;
  WorkerSlot m_hThread3;
  WorkerSlot m_hThread4;

  // Worker n (1 to 4): its query flag and its slot.
  std::atomic<std::int32_t>& QryFlag(int n);
  WorkerSlot& Slot(int n);

  // The run gate over the four query flags.
  RunGate& Gate() { return gate_; }

  // The connection texts captured by the last start (m_strDSN, m_strUID, m_strPWD).
  std::string DSN() const;
  std::string UID() const;
  std::string PWD() const;

  // Worker 1's daily mode also exports each missed day of the last `days` days before today
  // that has no export pair (headless front end only; 0, the window's, exports none).
  void SetCatchUpDays(int days) { catchUpDays_.store(days); }
  int CatchUpDays() const { return catchUpDays_.load(); }

  // How worker n's last start ended, for reports; kNone while it runs or before it ran.
  WorkerOutcome Outcome(int n) const;
  void SetOutcome(int n, WorkerOutcome outcome);

  // True while any worker slot is taken.
  bool AnyWorkerRunning() const;

  WorkerBackend& Backend() { return backend_; }

 private:
  struct Control {
    std::string text;
    int checked = 0;
  };
  Control* Find(int id);
  const Control* Find(int id) const;
  // OnStartStop's three parts: the stop, the start's field check (false, the message shown,
  // when a field is empty; else the connection texts captured) and the start of the workers.
  StartStop Stop();
  bool CaptureFields();
  StartStop StartWorkers();
  bool StartWorker(int n);  // true when its thread started

  WorkerBackend& backend_;
  WindowView* view_ = nullptr;
  mutable std::mutex mutex_;        // controls, connection texts, outcomes, view
  std::map<int, Control> controls_;
  std::string m_strDSN;
  std::string m_strUID;
  std::string m_strPWD;
  std::array<WorkerOutcome, 4> outcomes_{};
  RunGate gate_{{&m_bQryThread1, &m_bQryThread2, &m_bQryThread3, &m_bQryThread4}};
  std::atomic<int> catchUpDays_{0};
};

}  // namespace zelvik
