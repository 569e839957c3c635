// The desktop program on Windows: derives the program directory, runs the main window modally
// and ends the process when the window closes. It takes no command-line options.

#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <memory>
#include <string>

#include "app/extractor_dlg_win32.h"
#include "util/codepage_windows.h"
#include "util/process_state.h"
#include "util/program_dir.h"
#include "workers/database_backend.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
  using namespace zelvik;
  std::string error;
  if (!InitProgramDirFromExecutable(&error)) {
    // Every file of the program is written into its directory: without one it cannot run.
    MessageBoxW(nullptr, WideFromUtf8(error).c_str(), kMessageBoxTitle, MB_OK | MB_ICONERROR);
    return 1;
  }
  std::memset(g_szLogDay, 0, sizeof(g_szLogDay));
  // The shell's folder browser wants COM on the window thread.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  bool opened = false;
  {
    std::unique_ptr<WorkerBackend> backend = MakeDatabaseBackend();
    CExtractorDlg dialog(*backend);
    opened = dialog.DoModal(&error);
  }  // the window's teardown has ended every worker here
  if (SUCCEEDED(com)) CoUninitialize();
  if (!opened) {
    MessageBoxW(nullptr, WideFromUtf8(error).c_str(), kMessageBoxTitle, MB_OK | MB_ICONERROR);
    return 1;
  }
  return 0;
}
