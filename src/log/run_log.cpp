#include "log/run_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "log/log_pane.h"
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

}  // namespace

void WriteLog(const char* text, int pane) {
  if (text == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(g_logMutex);
    char szNow[32] = {};
    GetTimeString(szNow, 0, 0);
    char szDay[256] = {};
    std::memcpy(szDay, szNow, 8);
    if (std::strncmp(g_szLogDay, szDay, 8) != 0) {
      std::memset(g_szLogDay, 0, sizeof(g_szLogDay));
      std::memcpy(g_szLogDay, szNow, std::strlen(szNow));
      char szDir[1300] = {};
      std::snprintf(szDir, sizeof(szDir), "%s/%s", g_szExeDir, szDay);
      MakeDir949(szDir);
    }
    char szStamp[32] = {};
    GetTimeString(szStamp, 1, 0);
    char szHour[32] = {};
    GetTimeString(szHour, 0, 0);
    // The file path holds at most 255 bytes; a longer one is not written to any file.
    char szPath[1400] = {};
    int n = std::snprintf(szPath, sizeof(szPath), "%s/%s/%10.10s-%d.log", g_szExeDir, szDay,
                          szHour, pane);
    if (n > 0 && n <= 255) {
      // One piece, appended in one write, so that lines of two processes never interleave.
      std::string line;
      line.reserve(std::strlen(szStamp) + 1 + std::strlen(text));
      line.append(szStamp).append(" ").append(text);
      AppendLine949(szPath, line);
    }
  }
  int shown = (pane == 2 || pane == 3 || pane == 4) ? pane : 1;
  AppendLogPane(shown, std::string(text), 0);
}

void AppendLogPane(int pane, std::string text, int clear) {
  LogPane* p = PaneFor(pane);
  if (p == nullptr) return;
  if (clear != 0) {
    p->Clear();
    return;
  }
  char szStamp[32] = {};
  GetTimeString(szStamp, 1, 0);
  std::string line;
  line.reserve(std::strlen(szStamp) + 1 + text.size() + 2);
  line.append(szStamp).append(" ").append(text).append("\r\n");
  p->AppendLine(line);
}

std::string Format(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof(small), format, args);
  va_end(args);
  std::string out;
  if (n < 0) {
    va_end(copy);
    return out;
  }
  if (static_cast<size_t>(n) < sizeof(small)) {
    out.assign(small, static_cast<size_t>(n));
  } else {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, copy);
    out.resize(static_cast<size_t>(n));
  }
  va_end(copy);
  return out;
}

}  // namespace zelvik
