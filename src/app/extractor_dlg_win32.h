#pragma once
// The main window on Windows: a native dialog built from the window's template in dialog
// units, a thin view over the window model as the Linux window is. A control event updates
// the model at once; model changes (a preset, the caption set by a worker) and log-pane lines
// reach the controls through messages posted to the window thread. No worker touches a
// control or waits for the window thread.

#include <windows.h>

#include <array>
#include <atomic>
#include <memory>
#include <string>

#include "app/view_queue.h"
#include "log/log_pane.h"
#include "workers/window_model.h"

namespace zelvik {

// Title of every message box of the program (the program file's name).
inline constexpr const wchar_t* kMessageBoxTitle = L"zelvik";

class CExtractorDlg : private QueuedWindowView {
 public:
  // The workers do their database and file work through backend, which must outlive the
  // window.
  explicit CExtractorDlg(WorkerBackend& backend);
  // The teardown: asks the workers to stop, gives them a second, ends those still running
  // and waits until every worker thread is gone.
  ~CExtractorDlg() override;
  CExtractorDlg(const CExtractorDlg&) = delete;
  CExtractorDlg& operator=(const CExtractorDlg&) = delete;

  // Runs the window modally until it is cancelled or closed; false, with the reason, when the
  // window could not be opened at all.
  bool DoModal(std::string* error);
  // Opens the window without a modal loop of its own (tests pump the messages); null on failure.
  HWND Create();

  HWND Window() const { return m_hwnd.load(); }
  HWND Control(int id) const;
  WindowModel& Model() { return m_model; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  // WindowView: a failed field check of the start command.
  void ShowFieldMessage(const std::string& text, int focusId) override;

  void OnInitDialog();
  void OnCommand(int id, int notification);
  void OnSize(int cx, int cy);
  void OnCancel();
  void StartStop();
  void OnFolderButton();
  void ShowAbout();
  void ApplyModelChanges();
  void ApplyPaneChanges();
  void Post(UINT message);

  std::atomic<HWND> m_hwnd{nullptr};
  bool m_modal = false;
  HICON m_hIcon = nullptr;
  HICON m_hIconSmall = nullptr;
  // The run log's panes outlive the model, whose destruction ends the last workers.
  WindowPanes m_logPanes = MakeWindowPanes();
  bool m_panesBound = false;
  PaneQueue m_paneFeed;
  WindowModel m_model;
};

// A text of the program (code page 949) for a control, and back.
std::wstring WideFromCp949(const std::string& text);
std::string Cp949FromWide(const std::wstring& text);

}  // namespace zelvik
