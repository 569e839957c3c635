// The headless front end's console on Windows: wide arguments (wmain), wide console output,
// and a console control handler for the stop.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>

#include "cli/cli_main.h"
#include "cli/console.h"
#include "util/codepage_windows.h"

namespace zelvik {
namespace {

// Set by the control handler, read by the main thread.
std::atomic<bool> g_stop{false};
HANDLE g_wake = nullptr;      // auto-reset: an event arrived
HANDLE g_finished = nullptr;  // manual-reset: the teardown is complete

// A console program receives Ctrl+C, Ctrl+Break and the close of its console. Logoff and
// shutdown events reach services only: at a logoff or shutdown Windows simply ends this
// program, and the temporary names keep every finished file whole (the next start removes
// the leftovers).
BOOL WINAPI OnControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_stop.store(true);
      SetEvent(g_wake);
      return TRUE;
    case CTRL_CLOSE_EVENT:
      // The process ends when this returns: the main thread ends the workers and closes the
      // files first (within about two seconds; Windows allows five).
      g_stop.store(true);
      SetEvent(g_wake);
      if (g_finished != nullptr) WaitForSingleObject(g_finished, INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

// Why a call of the stop's set-up failed, for the operator.
void WarnStopSetup(const char* call) {
  WriteConsoleText(stderr, "zelvik-cli: " + std::string(call) + " failed (error " +
                               std::to_string(GetLastError()) +
                               "): Ctrl+C and the console's close end the program without "
                               "its stop\n");
}

}  // namespace

const char* StopUsage() {
  return "Ctrl+C, Ctrl+Break or closing the console window stops the workers; the program "
         "ends within about two seconds.\n";
}

void WriteConsoleText(std::FILE* stream, const std::string& utf8) {
  HANDLE h = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
    std::fflush(stream);
    const std::wstring wide = WideFromUtf8(utf8);
    // A batch of many lines goes in pieces: older consoles refuse one call of much more
    // than 64 KB. A piece never ends inside a surrogate pair.
    constexpr std::size_t kPiece = 8192;
    std::size_t at = 0;
    while (at < wide.size()) {
      std::size_t n = std::min(kPiece, wide.size() - at);
      if (at + n < wide.size() && n > 1 && IS_HIGH_SURROGATE(wide[at + n - 1])) --n;
      DWORD written = 0;
      if (!WriteConsoleW(h, wide.data() + at, static_cast<DWORD>(n), &written, nullptr) ||
          written == 0) {
        return;
      }
      at += written;
    }
    return;
  }
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
  std::fflush(stream);
}

bool GetEnvUtf8(const char* name, std::string* value) {
  const wchar_t* env = _wgetenv(WideFromUtf8(name).c_str());
  if (env == nullptr) return false;
  *value = Utf8FromWide(env);
  return true;
}

ConsoleStop::ConsoleStop() {
  g_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_wake == nullptr || g_finished == nullptr) {
    WarnStopSetup("CreateEventW");
  } else if (!SetConsoleCtrlHandler(OnControl, TRUE)) {
    WarnStopSetup("SetConsoleCtrlHandler");
  }
}

ConsoleStop::~ConsoleStop() {
  Finished();
  // A close that arrives from now on ends the process at once: nothing is running.
  SetConsoleCtrlHandler(OnControl, FALSE);
}

bool ConsoleStop::Wait(int ms) {
  const DWORD wait = static_cast<DWORD>(ms < 0 ? 0 : ms);
  if (g_wake == nullptr || WaitForSingleObject(g_wake, wait) == WAIT_FAILED) Sleep(wait);
  return g_stop.exchange(false);
}

void ConsoleStop::Finished() {
  if (g_finished != nullptr) SetEvent(g_finished);
}

}  // namespace zelvik

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(zelvik::Utf8FromWide(argv[i]));
  return zelvik::CliMain(args);
}
