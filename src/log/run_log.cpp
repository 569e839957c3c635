#include "log/run_log.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "log/log_pane.h"
#include "util/clock.h"
#include "util/file_io.h"
#include "util/process_state.h"
#include "util/time_string.h"

namespace zelvik {
namespace {

// Guards g_szLogDay and the file appends, so that lines of several threads never split or
// interleave in a file. Never held while a pane is updated.
std::mutex g_logMutex;

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
    std::lock_guard<std::mutex> lock(g_logMutex);
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
    // The file path holds at most 255 bytes; a longer one is not written to any file (the
    // program refuses at start-up a folder where it would not fit).
    char szPath[1400] = {};
    int n = std::snprintf(szPath, sizeof(szPath), "%s/%s/%10.10s-%d.log", g_szExeDir, szDay,
                          szNow, pane);
    if (n > 0 && n <= 255) {
      // One piece, appended in one write, so that lines of two processes never interleave.
      std::string line;
      line.reserve(std::strlen(szStamp) + 1 + std::strlen(text));
      line.append(szStamp).append(" ").append(text);
      AppendLine949(szPath, line);
    }
  }
  int shown = (pane == 2 || pane == 3 || pane == 4) ? pane : 1;
  ShowOnPane(shown, std::string(text), szStamp);
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
