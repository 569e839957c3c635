#include "app/extractor_dlg.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dcclient.h>
#include <wx/fontenum.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cmath>

#include "app/app_icon.xpm.h"
#include "app/folder_browser.h"
#include "publish/publish_repair.h"
#include "util/codepage.h"
#include "util/process_state.h"

namespace zelvik {
namespace {

wxString FromUtf8(const char* text) { return wxString::FromUTF8(text); }
wxString FromCp949(const std::string& text) { return wxString::FromUTF8(Cp949ToUtf8(text)); }

wxRect ToWx(const Rect& r) { return wxRect(r.x, r.y, r.width, r.height); }

// The application icon (32 x 32 and 16 x 16).
wxIconBundle ApplicationIcons() {
  wxIconBundle icons;
  icons.AddIcon(wxIcon(kZelvikIcon32));
  icons.AddIcon(wxIcon(kZelvikIcon16));
  return icons;
}

// The template gives fields 12 dialog units (18 pixels), check boxes 10 and buttons 14; the
// theme's minimum heights and padding do not fit there (GTK then warns and cuts the text).
// Each control of the template gets a compact style of its own; other windows keep the theme.
// wxWidgets offers a control's own style sheet to its classes only, hence the detour.
struct CompactStyle : wxWindow {
  static void Apply(wxWindow* window, ControlKind kind) {
    const char* css = nullptr;
    switch (kind) {
      case ControlKind::kButton:
        css = "* { min-height: 0; min-width: 0; padding: 0 4px; }";
        break;
      case ControlKind::kEdit:
        css = "* { min-height: 0; padding: 0 2px; }";
        break;
      case ControlKind::kCheckBox:
        css = "* { min-height: 0; padding: 0; }"
              " check { min-height: 11px; min-width: 11px; margin: 0 3px 0 0; }";
        break;
      case ControlKind::kPane:
      case ControlKind::kLabel:
      case ControlKind::kIcon: return;
    }
    void (wxWindow::*apply)(const char*) = &CompactStyle::GTKApplyCssStyle;
    (window->*apply)(css);
  }
};

// The about box: 235 x 55 dialog units, the icon, the version and what the program does.
class CAboutDlg : public wxDialog {
 public:
  explicit CAboutDlg(wxWindow* parent)
      : wxDialog(parent, wxID_ANY, FromUtf8("Zelvik 정보"), wxDefaultPosition, wxDefaultSize,
                 wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    SetFont(TemplateFont());
    DialogUnitBase base = TemplateDialogUnitBase(*this);
    auto place = [&](Rect units) { return ToWx(DialogUnitsToPixels(units, base)); };
    wxRect icon = place({11, 17, 20, 20});
    new wxStaticBitmap(this, wxID_ANY, wxBitmap(kZelvikIcon32), icon.GetPosition(),
                       icon.GetSize());
    AddLine(FromUtf8("Zelvik 버전 1.0"), place({40, 10, 119, 8}));
    AddLine(FromUtf8("택시 위치 이력 추출"), place({40, 25, 119, 8}));
    wxRect ok = place({178, 7, 50, 14});
    auto* button = new wxButton(this, wxID_OK, FromUtf8("확인"), ok.GetPosition(), ok.GetSize());
    button->SetDefault();
    SetClientSize(DialogUnitsToPixelsX(235, base), DialogUnitsToPixelsY(55, base));
    CentreOnParent();
  }

 private:
  // A line of text in its template place. Eight units are the font's em, less than the
  // toolkit's line with its gap: such a label would lose the bottom of its letters, so it
  // keeps its own height, centred on the template's line.
  void AddLine(const wxString& text, wxRect r) {
    auto* label = new wxStaticText(this, wxID_ANY, text, r.GetPosition(), r.GetSize(),
                                   wxST_NO_AUTORESIZE);
    const int height = label->GetBestSize().y;
    if (height > r.height) {
      r.y -= (height - r.height) / 2;
      r.height = height;
      label->SetSize(r);
    }
  }
};

}  // namespace

wxFont TemplateFont() {
  for (const char* face : {"굴림", "NanumGothic"}) {
    wxString name = FromUtf8(face);
    if (wxFontEnumerator::IsValidFacename(name)) {
      return wxFont(wxFontInfo(kTemplateFontPoints).FaceName(name));
    }
  }
  wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
  font.SetPointSize(kTemplateFontPoints);
  return font;
}

DialogUnitBase TemplateDialogUnitBase(const wxWindow& window) {
  wxClientDC dc(const_cast<wxWindow*>(&window));
  dc.SetFont(window.GetFont());
  // The average width of the 52 letters, rounded, as dialog units are defined.
  wxCoord width = 0;
  wxCoord height = 0;
  dc.GetTextExtent("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", &width, &height);
  int charWidth = (width / 26 + 1) / 2;
  // The em of the font in pixels. The toolkit's text height adds the face's line gap (15
  // pixels instead of 12 for a 9-point NanumGothic); with it the template's 39 units of
  // controls would reach below the panes, which the window puts at 60 pixels.
  double points = window.GetFont().GetFractionalPointSize();
  int charHeight = static_cast<int>(std::lround(points * window.GetDPI().y / 72.0));
  if (charWidth <= 0) charWidth = 1;
  if (charHeight <= 0) charHeight = height > 0 ? height : 1;
  return {charWidth, charHeight};
}

std::unique_ptr<wxDialog> MakeAboutBox(wxWindow* parent) {
  return std::make_unique<CAboutDlg>(parent);
}

void ShowMessageBox(wxWindow* parent, const std::string& textUtf8, const wxString& title) {
  wxString text = wxString::FromUTF8(textUtf8);
  if (text.empty()) text = wxString::From8BitData(textUtf8.c_str());  // not UTF-8: as bytes
  wxMessageDialog box(parent, text, title, wxOK);
  box.SetOKLabel(FromUtf8("확인"));
  box.ShowModal();
}

// ---- Log panes

void CExtractorDlg::ApplyPaneChanges() {
  std::array<std::deque<PaneQueue::Entry>, 4> changes = m_paneFeed.Take();
  for (std::size_t k = 0; k < changes.size(); ++k) {
    wxTextCtrl* pane = m_panes[k];
    if (pane == nullptr || changes[k].empty()) continue;
    for (const PaneQueue::Entry& entry : changes[k]) {
      // The pane's lines end in CR LF; the toolkit's text ends lines with LF alone.
      wxString text = FromCp949(entry.line);
      text.Replace("\r\n", "\n");
      switch (entry.change) {
        case PaneListener::Change::kAppended: pane->AppendText(text); break;
        case PaneListener::Change::kReplaced: pane->ChangeValue(text); break;
        case PaneListener::Change::kCleared: pane->Clear(); break;
      }
    }
    pane->ShowPosition(pane->GetLastPosition());
  }
}

// ---- The window

CExtractorDlg::CExtractorDlg(wxWindow* parent, WorkerBackend& backend)
    : wxDialog(parent, wxID_ANY, FromUtf8(kWindowCaption), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER | wxMINIMIZE_BOX | wxMAXIMIZE_BOX),
      QueuedWindowView([this] { CallAfter(&CExtractorDlg::ApplyModelChanges); }),
      m_hIcon(ApplicationIcons()),
      m_timer(this, kStartTimerId),
      m_model(backend) {
  SetFont(TemplateFont());
  m_unitBase = TemplateDialogUnitBase(*this);
  m_messageBox = [this](const wxString& text, const wxString& title) {
    ShowMessageBox(this, std::string(text.utf8_str()), title);
  };
  CreateControls();
  SetClientSize(DialogUnitsToPixelsX(kTemplateWidth, m_unitBase),
                DialogUnitsToPixelsY(kTemplateHeight, m_unitBase));
  Centre();
  // Escape and the close box end the window through the cancel button, as its click does.
  SetEscapeId(kIdCancel);

  m_model.SetView(this);

  Bind(wxEVT_INIT_DIALOG, &CExtractorDlg::OnInitDialog, this);
  Bind(wxEVT_BUTTON, &CExtractorDlg::OnStartStop, this, kIdStartStop);
  Bind(wxEVT_SIZE, &CExtractorDlg::OnSize, this);
  Bind(wxEVT_CHECKBOX, &CExtractorDlg::OnPresetCheck, this, kIdPreset);
  Bind(wxEVT_BUTTON, &CExtractorDlg::OnFolderButton, this, kIdFolderButton);
  Bind(wxEVT_CHECKBOX, &CExtractorDlg::OnBesselCheck, this, kIdBessel);
  Bind(wxEVT_TIMER, &CExtractorDlg::OnTimer, this, kStartTimerId);
  Bind(wxEVT_BUTTON, &CExtractorDlg::OnCancel, this, kIdCancel);
  BindModelEvents();
  Bind(wxEVT_CONTEXT_MENU, &CExtractorDlg::OnContextMenu, this);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { ShowAbout(); }, kIdAboutBox);
}

CExtractorDlg::~CExtractorDlg() {
  m_timer.Stop();
  EndWindow(m_model, m_logPanes, m_panesBound);
}

void CExtractorDlg::CreateControls() {
  for (const ControlTemplate& c : MainWindowControls()) {
    wxRect r = ToWx(DialogUnitsToPixels(c.units, m_unitBase));
    wxWindowID id = c.id == kIdNoControl ? wxID_ANY : c.id;
    wxString caption = FromUtf8(c.caption);
    wxWindow* control = nullptr;
    switch (c.kind) {
      case ControlKind::kButton:
        control = new wxButton(this, id, caption, r.GetPosition(), r.GetSize());
        break;
      case ControlKind::kEdit:
        control = new wxTextCtrl(this, id, caption, r.GetPosition(), r.GetSize());
        break;
      case ControlKind::kPane: {
        auto* pane = new wxTextCtrl(this, id, caption, r.GetPosition(), r.GetSize(),
                                    wxTE_MULTILINE);
        control = pane;
        for (std::size_t k = 0; k < kPaneIds.size(); ++k) {
          if (kPaneIds[k] == c.id) m_panes[k] = pane;
        }
        break;
      }
      case ControlKind::kCheckBox:
        control = new wxCheckBox(this, id, caption, r.GetPosition(), r.GetSize());
        break;
      case ControlKind::kLabel:
        control = new wxStaticText(this, id, caption, r.GetPosition(), r.GetSize(),
                                   wxST_NO_AUTORESIZE);
        break;
      case ControlKind::kIcon: continue;  // the about box's alone
    }
    CompactStyle::Apply(control, c.kind);
  }
}

// Every control the model holds follows the operator at once: the workers read the model.
void CExtractorDlg::BindModelEvents() {
  for (const ControlTemplate& c : MainWindowControls()) {
    if (c.id == kIdNoControl) continue;
    int id = c.id;
    if (c.kind == ControlKind::kEdit) {
      Bind(wxEVT_TEXT, [this, id](wxCommandEvent& event) {
        if (auto* field = dynamic_cast<wxTextCtrl*>(Control(id))) {
          m_model.SetText(id, Utf8ToCp949(std::string(field->GetValue().utf8_str())));
        }
        event.Skip();
      }, id);
    } else if (c.kind == ControlKind::kCheckBox && id != kIdPreset && id != kIdBessel) {
      Bind(wxEVT_CHECKBOX, [this, id](wxCommandEvent& event) {
        m_model.SetCheck(id, event.IsChecked() ? 1 : 0);
        event.Skip();
      }, id);
    }
  }
}

void CExtractorDlg::ApplyModelChanges() {
  ModelChangeQueue::Changes changes = TakeModelChanges();
  for (int id : changes.texts) {
    wxString text = FromCp949(m_model.GetText(id));
    wxWindow* control = Control(id);
    if (auto* field = dynamic_cast<wxTextCtrl*>(control)) {
      if (field->GetValue() != text) field->ChangeValue(text);
    } else if (control != nullptr && control->GetLabel() != text) {
      control->SetLabel(text);  // the start/stop button's or the preset check box's caption
    }
  }
  for (int id : changes.checks) {
    if (auto* box = dynamic_cast<wxCheckBox*>(Control(id))) {
      box->SetValue(m_model.GetCheck(id) != 0);
    }
  }
}

void CExtractorDlg::ShowFieldMessage(const std::string& text, int focusId) {
  ApplyModelChanges();
  m_messageBox(FromCp949(text), wxTheApp->GetAppName());
  if (wxWindow* control = Control(focusId)) control->SetFocus();
}

wxWindow* CExtractorDlg::Control(int id) const {
  if (id == kIdNoControl) return nullptr;
  return FindWindow(id);
}

wxTextCtrl* CExtractorDlg::Pane(int pane) const {
  if (pane < 1 || pane > 4) return nullptr;
  return m_panes[static_cast<std::size_t>(pane - 1)];
}

void CExtractorDlg::OnInitDialog(wxInitDialogEvent& event) {
  event.Skip();
  BindWindowPanes(m_logPanes, &m_paneFeed);
  m_panesBound = true;
  // Publishes that ended runs cut short are finished or undone before any worker writes;
  // with the panes bound, pane 1 shows the operator what was done.
  RepairFolder(g_szExeDir, 1);
  m_model.OnInitDialog();
  ApplyModelChanges();
  SetIcons(m_hIcon);
  m_timer.Start(m_startDelayMs);
  if (wxWindow* cancel = Control(kIdCancel)) cancel->SetFocus();
}

void CExtractorDlg::OnTimer(wxTimerEvent& event) {
  if (event.GetId() == kStartTimerId) {
    m_timer.Stop();
    StartStop();
  }
  event.Skip();
}

void CExtractorDlg::OnStartStop(wxCommandEvent& /*event*/) { StartStop(); }

void CExtractorDlg::StartStop() {
  m_model.OnStartStop();
  ApplyModelChanges();
}

void CExtractorDlg::OnPresetCheck(wxCommandEvent& event) {
  m_model.SetCheck(kIdPreset, event.IsChecked() ? 1 : 0);
  m_model.OnPresetCheck();
  ApplyModelChanges();
}

void CExtractorDlg::OnBesselCheck(wxCommandEvent& event) {
  m_model.SetCheck(kIdBessel, event.IsChecked() ? 1 : 0);
  m_model.OnBesselCheck();
}

void CExtractorDlg::OnSize(wxSizeEvent& event) {
  event.Skip();
  wxSize client = GetClientSize();
  std::array<Rect, 4> layout = PaneLayout(client.x, client.y);
  for (std::size_t k = 0; k < m_panes.size(); ++k) {
    if (m_panes[k] == nullptr) continue;
    m_panes[k]->SetSize(ToWx(layout[k]));
    m_panes[k]->Refresh();
  }
}

void CExtractorDlg::OnFolderButton(wxCommandEvent& /*event*/) {
  CFolderBrowser browser(nullptr, 0, kFolderChooserTitle, nullptr, kBifStatusText | kBifEditBox);
  if (browser.Browse() != 1) return;
  // Paths here already use '/'; a backslash inside a folder's name is part of that name.
  const char* path = browser.GetSelectedPath();
  m_model.SetText(kIdFolder, path != nullptr ? path : "");
  ApplyModelChanges();
  Update();
}

void CExtractorDlg::OnCancel(wxCommandEvent& /*event*/) {
  m_timer.Stop();
  m_model.OnCancel();
  if (IsModal()) {
    EndModal(kIdCancel);
  } else {
    Hide();
  }
}

void CExtractorDlg::OnContextMenu(wxContextMenuEvent& /*event*/) {
  wxMenu menu;
  menu.Append(kIdAboutBox, FromUtf8(kAboutMenuText));
  PopupMenu(&menu);
}

void CExtractorDlg::ShowAbout() {
  std::unique_ptr<wxDialog> about = MakeAboutBox(this);
  about->SetIcons(m_hIcon);
  about->ShowModal();
}

}  // namespace zelvik
