#pragma once
// The main window on Linux (wxWidgets): the connection fields with their two presets, the four
// date ranges, the option check boxes, the folder path, the start/stop command and the four
// log panes, laid out from the window's template in dialog units with the toolkit's own
// dialog-unit support. A view over the window model as view_queue.h describes; its queued
// changes reach the window thread through CallAfter.

#include <wx/dialog.h>
#include <wx/icon.h>
#include <wx/timer.h>

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "app/dialog_layout.h"
#include "app/view_queue.h"
#include "workers/window_model.h"
#include "log/log_pane.h"

class wxButton;
class wxTextCtrl;

namespace zelvik {

// The 9-point font of the window's template: its face where installed, else a Korean face
// that is (NanumGothic), else the toolkit's own face at 9 points.
wxFont TemplateFont();

// The size of a dialog unit's base for a window with the template font: the font's average
// letter width, and its height in pixels (the em, without the line gap the toolkit adds).
DialogUnitBase TemplateDialogUnitBase(const wxWindow& window);

// The about box, as the window's menu shows it.
std::unique_ptr<wxDialog> MakeAboutBox(wxWindow* parent);

// A modal message box with text (UTF-8), titled title, and one button "확인".
void ShowMessageBox(wxWindow* parent, const std::string& textUtf8, const wxString& title);

class CExtractorDlg : public wxDialog, private QueuedWindowView {
 public:
  // Shows text in a message box with one OK button, titled title.
  using MessageBoxFn = std::function<void(const wxString& text, const wxString& title)>;

  // backend, the window model's, must outlive the window.
  CExtractorDlg(wxWindow* parent, WorkerBackend& backend);
  // The window's end (EndWindow).
  ~CExtractorDlg() override;

  // Replaces the message box (tests see the text without a box that blocks).
  void SetMessageBox(MessageBoxFn messageBox) { m_messageBox = std::move(messageBox); }
  // Replaces the delay of the start timer, before the window opens (a test whose click must
  // come before the timer, on a machine too busy to click within a second).
  void SetStartDelay(int ms) { m_startDelayMs = ms; }

  // The control with a template ID, or null.
  wxWindow* Control(int id) const;
  wxTextCtrl* Pane(int pane) const;  // pane 1 to 4
  // The dialog-unit base the template was laid out with.
  DialogUnitBase UnitBase() const { return m_unitBase; }
  // What the workers read.
  WindowModel& Model() { return m_model; }

  // Handlers, as the controls' events call them.
  void OnInitDialog(wxInitDialogEvent& event);
  void OnTimer(wxTimerEvent& event);
  void OnStartStop(wxCommandEvent& event);
  void OnPresetCheck(wxCommandEvent& event);
  void OnBesselCheck(wxCommandEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnFolderButton(wxCommandEvent& event);
  void OnCancel(wxCommandEvent& event);

 private:
  void ShowFieldMessage(const std::string& text, int focusId) override;

  void CreateControls();
  void BindModelEvents();
  // On the window thread: brings the controls the model changed in step with it.
  void ApplyModelChanges();
  void ApplyPaneChanges();
  void StartStop();
  void OnContextMenu(wxContextMenuEvent& event);
  void ShowAbout();

  DialogUnitBase m_unitBase{};
  std::array<wxTextCtrl*, 4> m_panes{};
  WindowPanes m_logPanes = MakeWindowPanes();
  // Pane lines and model changes, queued from any thread to the window thread.
  PaneQueue m_paneFeed{[this] { CallAfter(&CExtractorDlg::ApplyPaneChanges); }};
  bool m_panesBound = false;
  wxIconBundle m_hIcon;
  MessageBoxFn m_messageBox;
  wxTimer m_timer;
  int m_startDelayMs = kStartDelayMs;
  WindowModel m_model;
};

}  // namespace zelvik
