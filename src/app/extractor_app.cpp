// The desktop program: derives the program directory, runs the main window modally and ends
// the process when the window closes. It takes no command-line options.

#include <wx/app.h>
#include <wx/filename.h>
#include <wx/stdpaths.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/extractor_dlg.h"
#include "workers/database_backend.h"
#include "util/process_state.h"
#include "util/program_dir.h"

namespace zelvik {

class CExtractorApp : public wxApp {
 public:
  // Start-up. The base class is not asked to parse the command line: arguments are ignored.
  bool OnInit() override {
    m_dirOk = InitProgramDirFromExecutable(&m_dirError);
    if (!m_dirOk) {
      // Every file of the program, its run log included, is written into its directory:
      // without one it does not run, and says why (OnRun).
      std::fprintf(stderr, "zelvik: %s\n", m_dirError.c_str());
      return true;
    }
    std::memset(g_szLogDay, 0, sizeof(g_szLogDay));
    // Message boxes carry the program file's name without its extension.
    SetAppName(wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetName());
    return true;
  }

  // The modal run of the main window stands in for the application's own message loop.
  int OnRun() override {
    if (!m_dirOk) {
      ShowMessageBox(nullptr, m_dirError, "zelvik");
      return 1;
    }
    std::unique_ptr<WorkerBackend> backend = MakeDatabaseBackend();
    {
      CExtractorDlg dialog(nullptr, *backend);
      SetTopWindow(&dialog);
      dialog.ShowModal();
      SetTopWindow(nullptr);
    }  // the window's teardown has ended every worker here
    return 0;
  }

 private:
  bool m_dirOk = false;
  std::string m_dirError;
};

}  // namespace zelvik

wxIMPLEMENT_APP(zelvik::CExtractorApp);
