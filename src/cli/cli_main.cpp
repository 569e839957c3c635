#include "cli/cli_main.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "cli/buffered_console.h"
#include "cli/cli_options.h"
#include "cli/console.h"
#include "extract/worker_label.h"
#include "publish/publish_repair.h"
#include "workers/window_model.h"
#include "workers/database_backend.h"
#include "log/log_pane.h"
#include "util/codepage.h"
#include "util/file_io.h"
#include "util/format.h"
#include "util/platform.h"
#include "util/end_process.h"
#include "util/process_state.h"
#include "util/program_dir.h"
#include "verify/verify.h"

namespace zelvik {
namespace {

constexpr int kExitGood = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The pane lines waiting for standard output, while a worker command runs.
std::atomic<BufferedConsole*> g_paneOutput{nullptr};

void FlushPaneOutput() {
  if (BufferedConsole* out = g_paneOutput.load()) out->Flush();
}

// A line for standard error: the pane lines before it go out first.
void ErrorLine(const std::string& utf8) {
  FlushPaneOutput();
  WriteConsoleText(stderr, utf8);
}

// The panes as lines on standard output: "[N] <stamp> <text>" in UTF-8, in batches.
class StdoutPanes final : public PaneListener {
 public:
  StdoutPanes() {
    g_paneOutput.store(&out_);
    SetEndProcessFlush(FlushPaneOutput);
  }
  ~StdoutPanes() override {
    SetEndProcessFlush(nullptr);
    g_paneOutput.store(nullptr);
  }
  StdoutPanes(const StdoutPanes&) = delete;
  StdoutPanes& operator=(const StdoutPanes&) = delete;

  void OnPaneChange(int pane, Change change, const std::string& line) override {
    if (change == Change::kCleared) return;
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    out_.Add("[" + std::to_string(pane) + "] " + Cp949ToUtf8(text) + "\n");
  }

 private:
  BufferedConsole out_{[](const std::string& text) { WriteConsoleText(stdout, text); }};
};

// The window's message boxes become error lines.
class CliView final : public WindowView {
 public:
  void OnTextChanged(int, const std::string&) override {}
  void OnCheckChanged(int, int) override {}
  void ShowFieldMessage(const std::string& text, int) override {
    ErrorLine("zelvik-cli: " + Cp949ToUtf8(text) + "\n");
  }
};

int UsageError(const std::string& message) {
  WriteConsoleText(stderr, "zelvik-cli: " + message + "\n" + CliUsage() + StopUsage());
  return kExitUsage;
}

// A text from the command line for the model: code page 949, refused when it has
// characters that code page lacks.
bool To949(const std::string& utf8, const char* what, std::string* out, std::string* error) {
  if (Cp949Holds(utf8, out)) return true;
  *error = std::string(what) + " has characters that code page 949 cannot hold: " + utf8;
  return false;
}

// A folder of the command line as the program names it: relative to the current folder
// (the clean-up's own minimum of 4 bytes is meant for the window's absolute paths, and "."
// would pass as a clean-up of nothing), normal form (worked out on the text alone), UTF-8.
bool AbsoluteFolder(const std::string& folder, std::string* dir) {
  std::string absolute;
  if (!platform::AbsolutePath(folder, &absolute)) return false;
  std::filesystem::path normal = FsPath(absolute).lexically_normal();
  if (normal.has_relative_path() && !normal.has_filename()) normal = normal.parent_path();
  *dir = FsText(normal);
  return true;
}

// The program directory; made when missing unless the command must change nothing.
bool SetupHome(const std::string& home, bool make, std::string* error) {
  if (home.empty()) return InitProgramDirFromExecutable(error);
  std::string dir;
  if (!AbsoluteFolder(home, &dir) || (make && !platform::MakeDirs(dir)) || !platform::IsDir(dir)) {
    *error = "cannot use " + home + " as the program directory";
    return false;
  }
  std::string unused;
  if (!To949(dir, "--home", &unused, error)) return false;
  return SetProgramDirDirect(dir, error);
}

// verify: reads the program folder's export pairs and changes nothing (no start-up repair,
// no run log); its lines go to standard output.
int VerifyCommand(const CliOptions& options) {
  const VerifyCounts counts =
      VerifyExports(g_szExeDir, options.verifyFrom, options.verifyTo, [](const std::string& line) {
        WriteConsoleText(stdout, Cp949ToUtf8(line) + "\n");
      });
  return counts.AllWhole() ? kExitGood : kExitFailed;
}

// The field texts of the command line in code page 949, as the model takes them.
struct FieldTexts {
  std::string dsn, uid, pwd, area, folder;
};

// Converts the field texts; for clean, the folder must exist and is made absolute. False with
// the usage error's message.
bool ToFieldTexts(const CliOptions& options, FieldTexts* texts, std::string* error) {
  if ((options.hasDsn && !To949(options.dsn, "--dsn", &texts->dsn, error)) ||
      (options.hasUid && !To949(options.uid, "--uid", &texts->uid, error)) ||
      (options.hasPwd && !To949(options.pwd, "the password", &texts->pwd, error)) ||
      (options.hasArea && !To949(options.area, "--area", &texts->area, error))) {
    return false;
  }
  if (options.command != CliOptions::Command::kClean) return true;
  std::string dir;
  if (!AbsoluteFolder(options.folder, &dir) || !platform::IsDir(dir)) {
    *error = "no such folder: " + options.folder;
    return false;
  }
  return To949(dir, "FOLDER", &texts->folder, error);
}

// Sets the window's fields and boxes as an operator would for the options.
void SetFields(WindowModel& model, const CliOptions& options, const FieldTexts& texts) {
  if (options.dev) {
    model.SetCheck(kIdPreset, 1);
    model.OnPresetCheck();
  }
  if (options.hasDsn) model.SetText(kIdDsn, texts.dsn);
  if (options.hasUid) model.SetText(kIdUid, texts.uid);
  if (options.hasPwd) model.SetText(kIdPwd, texts.pwd);
  if (options.hasArea) model.SetText(kIdArea, texts.area);
  if (options.noWgs84) {
    model.SetCheck(kIdBessel, 0);
    model.OnBesselCheck();
  }
  model.Gate().SetIgnoreQuietHours(options.ignoreQuietHours);
  model.SetCatchUpDays(options.catchUpDays);
}

// Sets the boxes and fields of the command; the workers it starts.
std::vector<int> SetCommand(WindowModel& model, const CliOptions& options,
                            const FieldTexts& texts) {
  switch (options.command) {
    case CliOptions::Command::kRun:
      return {1};
    case CliOptions::Command::kDay:
      model.SetCheck(kIdDay1, 1);
      model.SetText(kIdDay1First, options.day);
      model.SetText(kIdDay1Last, options.day);
      return {1};
    case CliOptions::Command::kClean:
      model.SetCheck(kIdOnOff, 1);
      model.SetText(kIdFolder, texts.folder);
      return {1};
    case CliOptions::Command::kRange: {
      std::vector<int> workers;
      for (size_t k = 0; k < options.ranges.size(); ++k) {
        model.SetCheck(kRangeControls[k].box, 1);
        model.SetText(kRangeControls[k].first, options.ranges[k].first);
        model.SetText(kRangeControls[k].last, options.ranges[k].second);
        workers.push_back(static_cast<int>(k) + 2);
      }
      return workers;
    }
    case CliOptions::Command::kNone:
    case CliOptions::Command::kVerify:
      break;
  }
  return {};
}

// Waits until no worker runs, or until the operator's stop has ended them. False when a
// worker was left inside a database call.
bool WaitForWorkers(WindowModel& model, ConsoleStop& stop) {
  while (model.AnyWorkerRunning()) {
    if (!stop.Wait(200)) continue;
    ErrorLine("zelvik-cli: stopping\n");
    // As a click on "DB Close" (worker 1 is ended by force after one second); a worker 1
    // that has ended by itself left "Zelvik". Whatever still runs a second later, in a
    // wait, a run or a connect, is ended by force, so that the program ends within about
    // two seconds.
    if (model.GetText(kIdStartStop) == kCaptionRunning) {
      model.OnStartStop();
    } else {
      model.OnCancel();
      for (int i = 0; i < 10 && model.AnyWorkerRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
    return model.EndWorkers(WindowModel::kEndGraceMs);
  }
  return true;
}

// Reports how each worker of the command ended; the exit status they make. run ends only at
// a stop, so there a worker stopped before its run is good too.
int ReportOutcomes(const WindowModel& model, CliOptions::Command command,
                   const std::vector<int>& workers) {
  int exitCode = kExitGood;
  for (int n : workers) {
    WorkerOutcome outcome = model.Outcome(n);
    bool good = outcome == WorkerOutcome::kGood ||
                (command == CliOptions::Command::kRun && outcome == WorkerOutcome::kStopped);
    ErrorLine(Format("zelvik-cli: %s: %s\n", WorkerLabel(n), OutcomeName(outcome)));
    if (!good) exitCode = kExitFailed;
  }
  return exitCode;
}

// Presses start and waits for the workers to end; the exit status.
int StartAndWait(WindowModel& model, const CliOptions& options, const std::vector<int>& workers,
                 ConsoleStop& stop) {
  const WindowModel::StartStop start = model.OnStartStop();
  if (start == WindowModel::StartStop::kFieldMissing) return kExitUsage;
  if (start != WindowModel::StartStop::kStarted) return kExitFailed;
  const bool allEnded = WaitForWorkers(model, stop);
  if (allEnded) {
    for (int n = 1; n <= 4; ++n) model.Slot(n).Join();
  }
  const int exitCode = ReportOutcomes(model, options.command, workers);
  // A worker stuck in a database call holds no file; the model must not go away under it.
  // Whatever it was doing did not finish: never a good status.
  if (!allEnded) EndProcessNow(kExitFailed);
  return exitCode;
}

// run, day, range and clean: the window model with the panes on standard output.
int WorkerCommand(const CliOptions& options, const FieldTexts& texts) {
  ConsoleStop stop;

  StdoutPanes printer;
  LogPane panes[4] = {LogPane(1), LogPane(2), LogPane(3), LogPane(4)};
  for (LogPane& pane : panes) pane.SetListener(&printer);
  BindLogPanes(&panes[0], &panes[1], &panes[2], &panes[3]);
  // Publishes that ended runs cut short are finished or undone before any worker writes.
  RepairFolder(g_szExeDir, 1);

  std::unique_ptr<WorkerBackend> backend = MakeDatabaseBackend();
  CliView view;
  int exitCode = kExitGood;
  {
    WindowModel model(*backend);
    model.SetView(&view);
    model.OnInitDialog();
    SetFields(model, options, texts);
    const std::vector<int> workers = SetCommand(model, options, texts);
    exitCode = StartAndWait(model, options, workers, stop);
    model.SetView(nullptr);
  }
  BindLogPanes(nullptr, nullptr, nullptr, nullptr);
  FlushPaneOutput();
  stop.Finished();
  return exitCode;
}

}  // namespace

int CliMain(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  CliOptions options;
  std::string error;
  if (!ParseCliOptions(static_cast<int>(argv.size()), argv.data(), &options, &error)) {
    return UsageError(error);
  }
  if (options.help) {
    std::fputs(CliUsage(), stdout);
    std::fputs(StopUsage(), stdout);
    return kExitGood;
  }
  if (!options.hasPwd) {
    options.hasPwd = GetEnvUtf8("ZELVIK_PWD", &options.pwd);
  }
  FieldTexts texts;
  if (!ToFieldTexts(options, &texts, &error)) return UsageError(error);
  const bool verify = options.command == CliOptions::Command::kVerify;
  if (!SetupHome(options.home, !verify, &error)) return UsageError(error);
  if (verify) return VerifyCommand(options);
  return WorkerCommand(options, texts);
}

}  // namespace zelvik
