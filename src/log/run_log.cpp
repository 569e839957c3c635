#include "log/run_log.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "log/log_pane.h"
#include "util/clock.h"
#include "util/file_io.h"
#include "util/path_limit.h"
#include "util/platform.h"
#include "util/process_state.h"
#include "util/time_string.h"

namespace zelvik {
namespace {

// An hourly file held open across a burst of lines: an open, a lock and a close per line cost
// more than the line itself on Windows (and a virus scanner checks a file at each close after a
// write). Each line is still written, whole, before WriteLog returns, so nothing waits in here.
struct OpenLogFile {
  int fd = -1;
  std::string path;      // code page 949
  char hour[11] = {};    // YYYYMMDDhh of the lines it takes
  std::time_t opened = 0;
  std::time_t lastLine = 0;
  std::int64_t end = -1;  // the size this process last left it at
};

// A file is closed after this many seconds of the clock without a line (one whole second at
// least: the clock counts whole seconds) ...
constexpr std::time_t kQuietSeconds = 2;
// ... and at the latest this long after it was opened: a reader on Windows that does not share
// write access is held off no longer, and a file moved away is followed no longer.
constexpr std::time_t kOpenSeconds = 10;
// How often, in real time, the closer looks at the clock while a file is open.
constexpr auto kCloserPeriod = std::chrono::milliseconds(200);

struct RunLogState {
  // Guards g_szLogDay, the open files and the appends, so that lines of several threads never
  // split or interleave in a file. Never held while a pane is updated.
  std::mutex mutex;
  std::condition_variable fileOpened;
  std::map<int, OpenLogFile> files;  // by pane number: each pane has one hour's file at a time
  bool closerRunning = false;
  bool closerFailed = false;
};

// Never destroyed: the closer thread and the exit handler may use it during the process's end.
RunLogState& State() {
  static RunLogState* state = new RunLogState;
  return *state;
}

void CloseFile(OpenLogFile& file) {
  if (file.fd >= 0) platform::CloseFd(file.fd);
  file.fd = -1;
}

bool Due(const OpenLogFile& file, std::time_t now, const char* szNow) {
  return now - file.lastLine >= kQuietSeconds || now - file.opened >= kOpenSeconds ||
         now < file.opened || std::strncmp(file.hour, szNow, 10) != 0;
}

// Closes the files whose time is up, also when no further line comes. It waits in real time and
// reads the program's clock, so that a test's clock that stands still keeps a file open until
// the test moves it on.
void CloserLoop() {
  RunLogState& state = State();
  std::unique_lock<std::mutex> lock(state.mutex);
  for (;;) {
    if (state.files.empty()) {
      state.fileOpened.wait(lock);
      continue;
    }
    state.fileOpened.wait_for(lock, kCloserPeriod);
    if (state.files.empty()) continue;
    const std::time_t now = GetClock().Now();
    char szNow[32] = {};
    FormatTimeString(szNow, 0, now);
    for (auto it = state.files.begin(); it != state.files.end();) {
      if (Due(it->second, now, szNow)) {
        CloseFile(it->second);
        it = state.files.erase(it);
      } else {
        ++it;
      }
    }
  }
}

void CloseAtExit() { CloseRunLogFiles(); }

// Starts the closer once. Where no thread can be started, files are closed after each line, as
// they were before files were kept open.
bool CloserReady(RunLogState& state) {
  if (state.closerRunning) return true;
  if (state.closerFailed) return false;
  try {
    std::thread(CloserLoop).detach();
  } catch (const std::system_error&) {
    state.closerFailed = true;
    return false;
  }
  state.closerRunning = true;
  std::atexit(CloseAtExit);
  return true;
}

// Appends the line to the pane's file of the hour; called with the lock held.
void AppendToFile(RunLogState& state, int pane, const char* szPath, const char* szNow,
                  std::time_t now, const std::string& line) {
  auto it = state.files.find(pane);
  if (it != state.files.end()) {
    OpenLogFile& held = it->second;
    // A file deleted since its last line is never written to again: the line goes to a new
    // file of that name.
    if (held.path != szPath || Due(held, now, szNow) || !platform::StillLinkedFd(held.fd)) {
      CloseFile(held);
      state.files.erase(it);
      it = state.files.end();
    }
  }
  if (it == state.files.end()) {
    OpenLogFile file;
    file.fd = platform::OpenAppendFd(SysPath(szPath));
    if (file.fd < 0) return;
    file.path = szPath;
    std::memcpy(file.hour, szNow, 10);
    file.opened = now;
    it = state.files.emplace(pane, std::move(file)).first;
    state.fileOpened.notify_one();
  }
  OpenLogFile& file = it->second;
  file.lastLine = now;
  if (AppendLineFd(file.fd, line, &file.end) != AppendResult::kDone || !CloserReady(state)) {
    CloseFile(file);
    state.files.erase(it);
  }
}

LogPane* PaneFor(int pane) {
  switch (pane) {
    case 2: return g_pLogPane2.load();
    case 3: return g_pLogPane3.load();
    case 4: return g_pLogPane4.load();
    default: return g_pLogPane1.load();
  }
}

// A stamped pane line: "<stamp> <text>\r\n".
void ShowOnPane(int pane, const std::string& text, const char* szStamp) {
  LogPane* p = PaneFor(pane);
  if (p == nullptr) return;
  std::string line;
  line.reserve(std::strlen(szStamp) + 1 + text.size() + 2);
  line.append(szStamp).append(" ").append(text).append("\r\n");
  p->AppendLine(line);
}

}  // namespace

void WriteLog(const char* text, int pane) {
  if (text == nullptr) return;
  // One clock read per line: its day folder, hour file and stamp all name one moment, so a
  // line written across an hour or a midnight never lands in another hour's file or day's
  // folder than its stamp says. It is read under the lock, so that each file's lines stay in
  // the order of their stamps.
  char szNow[32] = {};
  char szStamp[32] = {};
  {
    RunLogState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    const std::time_t now = GetClock().Now();
    FormatTimeString(szNow, 0, now);
    FormatTimeString(szStamp, 1, now);
    char szDay[256] = {};
    std::memcpy(szDay, szNow, 8);
    if (std::strncmp(g_szLogDay, szDay, 8) != 0) {
      std::memset(g_szLogDay, 0, sizeof(g_szLogDay));
      std::memcpy(g_szLogDay, szNow, std::strlen(szNow));
      char szDir[1300] = {};
      std::snprintf(szDir, sizeof(szDir), "%s/%s", g_szExeDir, szDay);
      MakeDir949(szDir);
    }
    // The file path holds at most kFileNameMax bytes; a longer one is not written to any file
    // (the program refuses at start-up a folder where it would not fit).
    char szPath[1400] = {};
    int n = std::snprintf(szPath, sizeof(szPath), "%s/%s/%10.10s-%d.log", g_szExeDir, szDay,
                          szNow, pane);
    if (n > 0 && static_cast<std::size_t>(n) <= kFileNameMax) {
      // One piece, appended in one write, so that lines of two processes never interleave.
      std::string line;
      line.reserve(std::strlen(szStamp) + 1 + std::strlen(text));
      line.append(szStamp).append(" ").append(text);
      AppendToFile(state, pane, szPath, szNow, now, line);
    }
  }
  int shown = (pane == 2 || pane == 3 || pane == 4) ? pane : 1;
  ShowOnPane(shown, std::string(text), szStamp);
}

void CloseRunLogFiles() {
  RunLogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  for (auto& [pane, file] : state.files) CloseFile(file);
  state.files.clear();
}

void AppendLogPane(int pane, std::string text, int clear) {
  if (clear != 0) {
    if (LogPane* p = PaneFor(pane)) p->Clear();
    return;
  }
  if (PaneFor(pane) == nullptr) return;
  char szStamp[32] = {};
  GetTimeString(szStamp, 1, 0);
  ShowOnPane(pane, text, szStamp);
}

}  // namespace zelvik
