// zelvik-cli: the headless front end. It sets the window model as an operator would set the
// window, presses start, shows the four panes on standard output and turns SIGINT, SIGTERM,
// SIGHUP and SIGQUIT into the stop command (the first) and the teardown (the second).

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>

#include "cli/cli_options.h"
#include "extract/export_format.h"
#include "workers/window_model.h"
#include "workers/worker_backend.h"
#include "log/log_pane.h"
#include "util/codepage.h"
#include "util/process_state.h"

namespace zelvik {
namespace {

constexpr int kExitGood = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// How long a stop waits for workers ended by force before the program ends without them.
constexpr std::int64_t kStopGraceMs = 1000;

// The panes as lines on standard output: "[N] <stamp> <text>" in UTF-8.
class StdoutPanes final : public PaneListener {
 public:
  void OnPaneChange(int pane, Change change, const std::string& line) override {
    if (change == Change::kCleared) return;
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::string out = "[" + std::to_string(pane) + "] " + Cp949ToUtf8(text) + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
  }

 private:
  std::mutex mutex_;
};

// The window's message boxes become error lines.
class CliView final : public WindowView {
 public:
  void OnTextChanged(int, const std::string&) override {}
  void OnCheckChanged(int, int) override {}
  void ShowFieldMessage(const std::string& text, int) override {
    std::fprintf(stderr, "zelvik-cli: %s\n", Cp949ToUtf8(text).c_str());
  }
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "zelvik-cli: %s\n%s", message.c_str(), CliUsage());
  return kExitUsage;
}

// A text from the command line for the model: code page 949, refused when it has
// characters that code page lacks.
bool To949(const std::string& utf8, const char* what, std::string* out, std::string* error) {
  *out = Utf8ToCp949(utf8);
  if (Cp949ToUtf8(*out) == utf8) return true;
  *error = std::string(what) + " has characters that code page 949 cannot hold: " + utf8;
  return false;
}

bool SetupHome(const std::string& home, std::string* error) {
  if (home.empty()) return InitProgramDirFromExecutable(error);
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::absolute(home, ec);
  if (!ec) std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir)) {
    *error = "cannot use " + home + " as the program directory";
    return false;
  }
  std::string text = dir.lexically_normal().string();
  std::string unused;
  if (!To949(text, "--home", &unused, error)) return false;
  return SetProgramDirDirect(text, error);
}

int Main(int argc, char** argv) {
  CliOptions options;
  std::string error;
  if (!ParseCliOptions(argc, argv, &options, &error)) return UsageError(error);
  if (options.help) {
    std::fputs(CliUsage(), stdout);
    return kExitGood;
  }
  if (!options.hasPwd) {
    if (const char* env = std::getenv("ZELVIK_PWD"); env != nullptr) {
      options.pwd = env;
      options.hasPwd = true;
    }
  }
  std::string dsn, uid, pwd, area, folder;
  if ((options.hasDsn && !To949(options.dsn, "--dsn", &dsn, &error)) ||
      (options.hasUid && !To949(options.uid, "--uid", &uid, &error)) ||
      (options.hasPwd && !To949(options.pwd, "the password", &pwd, &error)) ||
      (options.hasArea && !To949(options.area, "--area", &area, &error))) {
    return UsageError(error);
  }
  if (options.command == CliOptions::Command::kClean) {
    if (!To949(options.folder, "FOLDER", &folder, &error)) return UsageError(error);
    std::error_code ec;
    if (!std::filesystem::is_directory(options.folder, ec)) {
      return UsageError("no such folder: " + options.folder);
    }
  }
  if (!SetupHome(options.home, &error)) return UsageError(error);

  // Signals are taken by this thread alone; the workers started below inherit the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  // A closed terminal or a quit key ends the run as cleanly as a stop: never a partial file.
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGQUIT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  StdoutPanes printer;
  LogPane panes[4] = {LogPane(1), LogPane(2), LogPane(3), LogPane(4)};
  for (LogPane& pane : panes) pane.SetListener(&printer);
  BindLogPanes(&panes[0], &panes[1], &panes[2], &panes[3]);

  std::unique_ptr<WorkerBackend> backend = MakeDatabaseBackend();
  CliView view;
  int exitCode = kExitGood;
  {
    WindowModel model(*backend);
    model.SetView(&view);
    model.OnInitDialog();

    if (options.dev) {
      model.SetCheck(kIdPreset, 1);
      model.OnPresetCheck();
    }
    if (options.hasDsn) model.SetText(kIdDsn, dsn);
    if (options.hasUid) model.SetText(kIdUid, uid);
    if (options.hasPwd) model.SetText(kIdPwd, pwd);
    if (options.hasArea) model.SetText(kIdArea, area);
    if (options.noWgs84) {
      model.SetCheck(kIdBessel, 0);
      model.OnBesselCheck();
    }
    model.SetIgnoreQuietHours(options.ignoreQuietHours);

    std::vector<int> workers;
    switch (options.command) {
      case CliOptions::Command::kRun:
        workers = {1};
        break;
      case CliOptions::Command::kDay:
        model.SetCheck(kIdDay1, 1);
        model.SetText(kIdDay1First, options.day);
        model.SetText(kIdDay1Last, options.day);
        workers = {1};
        break;
      case CliOptions::Command::kClean:
        model.SetCheck(kIdOnOff, 1);
        model.SetText(kIdFolder, folder);
        workers = {1};
        break;
      case CliOptions::Command::kRange: {
        const int boxes[3][3] = {{kIdRange2, kIdRange2First, kIdRange2Last},
                                 {kIdRange3, kIdRange3First, kIdRange3Last},
                                 {kIdRange4, kIdRange4First, kIdRange4Last}};
        for (size_t k = 0; k < options.ranges.size(); ++k) {
          model.SetCheck(boxes[k][0], 1);
          model.SetText(boxes[k][1], options.ranges[k].first);
          model.SetText(boxes[k][2], options.ranges[k].second);
          workers.push_back(static_cast<int>(k) + 2);
        }
        break;
      }
      case CliOptions::Command::kNone:
        break;
    }

    const WindowModel::StartStop start = model.OnStartStop();
    if (start == WindowModel::StartStop::kFieldMissing) {
      exitCode = kExitUsage;
    } else if (start != WindowModel::StartStop::kStarted) {
      exitCode = kExitFailed;
    } else {
      bool allEnded = true;
      while (model.AnyWorkerRunning()) {
        timespec wait = {0, 200 * 1000 * 1000};
        if (sigtimedwait(&signals, nullptr, &wait) < 0) continue;
        std::fprintf(stderr, "zelvik-cli: stopping\n");
        // As a click on "DB Close" (worker 1 is ended by force after one second); a worker 1
        // that has ended by itself left "Zelvik". Whatever still runs a second later, in a
        // wait, a run or a connect, is ended by force, so that the program ends within about
        // two seconds.
        if (model.GetText(kIdStartStop) == kCaptionRunning) {
          model.OnStartStop();
        } else {
          model.OnCancel();
          for (int i = 0; i < 10 && model.AnyWorkerRunning(); ++i) {
            timespec step = {0, 100 * 1000 * 1000};
            nanosleep(&step, nullptr);
          }
        }
        allEnded = model.EndWorkers(kStopGraceMs);
        break;
      }
      if (allEnded) {
        for (int n = 1; n <= 4; ++n) model.Slot(n).Join();
      }

      for (int n : workers) {
        WorkerOutcome outcome = model.Outcome(n);
        bool good = outcome == WorkerOutcome::kGood ||
                    (options.command == CliOptions::Command::kRun &&
                     outcome == WorkerOutcome::kStopped);
        std::fprintf(stderr, "zelvik-cli: %s: %s\n", WorkerLabel(n), OutcomeName(outcome));
        if (!good) exitCode = kExitFailed;
      }
      // A worker stuck in a database call holds no file; the model must not go away under it.
      if (!allEnded) EndProcessNow(exitCode);
    }
    model.SetView(nullptr);
  }
  BindLogPanes(nullptr, nullptr, nullptr, nullptr);
  return exitCode;
}

}  // namespace
}  // namespace zelvik

int main(int argc, char** argv) { return zelvik::Main(argc, argv); }
