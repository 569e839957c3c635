#pragma once
// The fixture of the workers against the sandbox database: the program's test home
// (program_home.h) with the real backend, the pane lines recorded (with a hook to act at a
// line), rows of hand-made days, and the sandbox server stopped, killed and started again
// through scripts/dispatch-db.

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/log_pane.h"
#include "log/run_log.h"
#include "testing/file_bytes.h"
#include "testing/pane_recorder.h"
#include "testing/program_home.h"
#include "testing/sandbox.h"
#include "testing/wait_until.h"
#include "util/codepage.h"
#include "util/file_io.h"
#include "util/process_state.h"
#include "workers/database_backend.h"
#include "workers/window_model.h"

namespace zelvik::testing {

// Runs "scripts/dispatch-db ARGS" of the sandbox the environment names (the script sits beside
// the sandbox folder). True when it succeeded.
inline bool DispatchDb(const std::string& args) {
  const char* dir = std::getenv("ZELVIK_SANDBOX_DIR");
  if (dir == nullptr) return false;
  const std::string command =
      "'" + std::filesystem::path(dir).parent_path().string() + "/scripts/dispatch-db' " + args;
  return std::system(command.c_str()) == 0;
}

// The lines of a file without their CR LF; false in *whole when a line lacks it.
inline std::vector<std::string> CrLfLines(const std::string& bytes, bool* whole) {
  std::vector<std::string> lines;
  *whole = true;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos || bytes.find('\n', start) < end) {
      *whole = false;
      end = bytes.find('\n', start);
      if (end == std::string::npos) end = bytes.size();
      lines.push_back(bytes.substr(start, end - start));
      start = end + 1;
      continue;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

class SandboxWorkerTest : public ProgramHomeTest {
 protected:
  void SetUp() override {
    ZELVIK_REQUIRE_SANDBOX();
    ProgramHomeTest::SetUp();
    BindPanes();
  }

  void TearDown() override {
    clock_.Release();
    model_.reset();  // ends by force and joins a worker still running
    ProgramHomeTest::TearDown();
    if (serverDown_) {
      EXPECT_TRUE(DispatchDb("start")) << "the sandbox server did not start again";
    }
    for (const std::string& day : days_) {
      sandbox::SandboxExec(sandbox::kSandboxDsn,
                           "delete from carloc_hst_lst where cre_day = '" + day + "'");
    }
  }

  // The window as it opens at the given time (its date fields hold that day), over the real
  // database backend.
  void OpenWindow(std::time_t now) {
    clock_.SetNow(now);
    backend_ = MakeDatabaseBackend();
    model_ = std::make_unique<WindowModel>(*backend_);
    model_->OnInitDialog();
  }
  // Worker 1 in specific-day mode for one day.
  void ChooseDay(const std::string& day) {
    model_->SetCheck(kIdDay1, 1);
    model_->SetText(kIdDay1First, day);
    model_->SetText(kIdDay1Last, day);
  }

  // Hand-made rows of a day in "dispatch": rows rows spread over vehicles vehicles (each in
  // area 00001 or 00003, one of three companies of prefix coid), removed again at the end.
  void SeedDay(const std::string& day, int vehicles, int rows, const std::string& coid) {
    days_.push_back(day);
    const std::string v = std::to_string(vehicles);
    sandbox::SandboxExec(sandbox::kSandboxDsn,
                         "delete from carloc_hst_lst where cre_day = '" + day + "'");
    sandbox::SandboxExec(
        sandbox::kSandboxDsn,
        "insert into carco_mst (coid, co_nm) select '" + coid + "' || k, '시험' || k || '운수' "
        "from generate_series(0, 2) k on conflict (coid) do nothing");
    sandbox::SandboxExec(
        sandbox::kSandboxDsn,
        "insert into carloc_hst_lst (car_no, cre_dt, cre_day, area_cd, car_x, car_y, onc_cd, "
        "tax_coid, drv_uid) select '시험' || lpad((g % " + v + ")::text, 4, '0'), '" + day +
        "' || lpad((((g / " + v + ") / 3600) * 10000 + ((g / " + v + ") / 60 % 60) * 100 + "
        "(g / " + v + ") % 60)::text, 6, '0'), '" + day + "', case when g % " + v +
        " % 2 = 0 then '00001' else '00003' end, (4571208 + g % 1000)::text, "
        "(1352394 + g % 700)::text, ((g / " + v + " / 7) % 4)::text, '" + coid +
        "' || (g % " + v + " % 3), '" + coid + "' || (g % " + v + " % 3) || lpad(g::text, 6, "
        "'0') from generate_series(0, " + std::to_string(rows - 1) + ") g");
  }

  // Moves the clock's hold from `from` on to `to` and waits until the worker is held there.
  bool MoveHold(std::time_t from, std::time_t to, int timeoutMs) {
    clock_.HoldAt(to);
    // The worker leaves the earlier hold before it can be held again.
    return WaitUntil([&] { return clock_.Now() > from; }, timeoutMs) &&
           clock_.WaitForHeld(1, timeoutMs);
  }

  bool StopServer() {
    serverDown_ = true;
    return DispatchDb("stop");
  }
  bool KillServer() {
    serverDown_ = true;
    return DispatchDb("kill");
  }
  bool StartServer() {
    const bool ok = DispatchDb("start");
    serverDown_ = !ok;
    return ok;
  }

  // Waits (real time) until worker n's slot is free.
  bool WaitEnded(int n, int timeoutMs) {
    return WaitUntil([&] { return !model_->Slot(n).IsTaken(); }, timeoutMs);
  }

  // The program directory's path of a file name given in UTF-8, as code page 949 text (the
  // way the run logs it), and on the file system.
  std::string Path949(const std::string& nameUtf8) const {
    return Utf8ToCp949(home_.string() + "/" + nameUtf8);
  }
  std::filesystem::path SysFile(const std::string& nameUtf8) const {
    return home_ / std::filesystem::u8path(nameUtf8);
  }

  std::unique_ptr<WorkerBackend> backend_;
  std::unique_ptr<WindowModel> model_;
  std::vector<std::string> days_;
  std::atomic<bool> serverDown_{false};
};

}  // namespace zelvik::testing
