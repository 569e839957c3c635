#pragma once
// The main window on Windows: a native dialog built in memory from the window's template, laid
// out by the system's dialog manager in its own dialog units. A view over the window model as
// view_queue.h describes; its queued changes reach the window thread as posted messages.

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
  // backend, the window model's, must outlive the window.
  explicit CExtractorDlg(WorkerBackend& backend);
  // The window's end (EndWindow).
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
  WindowPanes m_logPanes = MakeWindowPanes();
  bool m_panesBound = false;
  PaneQueue m_paneFeed;
  WindowModel m_model;
};

}  // namespace zelvik
