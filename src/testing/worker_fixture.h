#pragma once
// The fixture of the model and the workers: the program's test home (program_home.h) with
// the clock on Monday 7 November 2022, 10:00, its four panes bound and recorded, and the
// window model opened over a fake backend.

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>

#include "extract/worker_label.h"
#include "log/log_pane.h"
#include "log/run_log.h"
#include "testing/fake_backend.h"
#include "testing/pane_recorder.h"
#include "testing/program_home.h"
#include "testing/wait_until.h"
#include "util/process_state.h"
#include "util/time_string.h"
#include "workers/window_model.h"
#include "workers/workers.h"

namespace zelvik::testing {

class WorkerFixture : public ProgramHomeTest {
 protected:
  void SetUp() override {
    ProgramHomeTest::SetUp();
    BindPanes();
    clock_.SetNow(At(2022, 11, 7, 10, 0, 0));
    model_ = std::make_unique<WindowModel>(backend_);
    model_->OnInitDialog();
  }
  void TearDown() override {
    clock_.Release();
    model_.reset();
    ProgramHomeTest::TearDown();
  }

  // Waits until worker n's slot is free again.
  bool WaitEnded(int n, int timeoutMs = 10000) {
    return WaitUntil([&] { return !model_->Slot(n).IsTaken(); }, timeoutMs);
  }
  // The start command with the clock held at hold: true once a worker is held there.
  bool StartHeldAt(std::time_t hold) {
    clock_.HoldAt(hold);
    model_->OnStartStop();
    return clock_.WaitForHeld(1, 10000);
  }
  // The stop flag raised and the clock let go: true once worker n has ended.
  bool StopAndWaitEnded(int n) {
    g_bstop.store(1);
    clock_.Release();
    return WaitEnded(n);
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

  FakeBackend backend_;
  std::unique_ptr<WindowModel> model_;
};

}  // namespace zelvik::testing
