#include "app/extractor_dlg_win32.h"

#include "app/dialog_layout.h"
#include "app/dialog_template_win32.h"
#include "app/folder_browser_win32.h"
#include "publish/publish_repair.h"
#include "util/codepage_windows.h"
#include "util/process_state.h"

namespace zelvik {
namespace {

// Posted to the window thread: the panes, or the controls the model changed, are behind.
constexpr UINT kMsgPanesChanged = WM_APP + 1;
constexpr UINT kMsgModelChanged = WM_APP + 2;

std::wstring WindowText(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
  int got = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return text;
}

// The screen's dots per inch as this program sees them: the system's setting (the manifest
// declares the program DPI-aware), 96 at 100 %.
int ScreenDpi(HWND window) {
  HDC dc = GetDC(window);
  const int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
  if (dc != nullptr) ReleaseDC(window, dc);
  return dpi > 0 ? dpi : 96;
}

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(hwnd, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

CExtractorDlg::CExtractorDlg(WorkerBackend& backend)
    : QueuedWindowView([this] { Post(kMsgModelChanged); }),
      m_paneFeed([this] { Post(kMsgPanesChanged); }),
      m_model(backend) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  m_hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIdAppIcon));
  m_hIconSmall = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(kIdAppIcon), IMAGE_ICON,
                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
}

CExtractorDlg::~CExtractorDlg() {
  HWND hwnd = m_hwnd.load();
  if (hwnd != nullptr && IsWindow(hwnd)) DestroyWindow(hwnd);
  EndWindow(m_model, m_logPanes, m_panesBound);
  if (m_hIconSmall != nullptr) DestroyIcon(m_hIconSmall);
}

bool CExtractorDlg::DoModal(std::string* error) {
  m_modal = true;
  std::vector<DWORD> dialog = MainWindowTemplate();
  const INT_PTR result = DialogBoxIndirectParamW(
      GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(dialog.data()), nullptr,
      &CExtractorDlg::DialogProc, reinterpret_cast<LPARAM>(this));
  m_hwnd.store(nullptr);
  if (result != -1) return true;
  *error = "the window cannot be opened (DialogBoxIndirectParamW, error " +
           std::to_string(GetLastError()) + ")";
  return false;
}

HWND CExtractorDlg::Create() {
  m_modal = false;
  std::vector<DWORD> dialog = MainWindowTemplate();
  return CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                    reinterpret_cast<LPCDLGTEMPLATEW>(dialog.data()), nullptr,
                                    &CExtractorDlg::DialogProc, reinterpret_cast<LPARAM>(this));
}

HWND CExtractorDlg::Control(int id) const {
  HWND hwnd = m_hwnd.load();
  return hwnd != nullptr && id != kIdNoControl ? GetDlgItem(hwnd, id) : nullptr;
}

void CExtractorDlg::Post(UINT message) {
  HWND hwnd = m_hwnd.load();
  if (hwnd != nullptr) PostMessageW(hwnd, message, 0, 0);
}

INT_PTR CALLBACK CExtractorDlg::DialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<CExtractorDlg*>(lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    dialog->m_hwnd.store(hwnd);
  }
  auto* dialog = reinterpret_cast<CExtractorDlg*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (dialog == nullptr) return FALSE;  // messages before WM_INITDIALOG
  INT_PTR handled = dialog->HandleMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    dialog->m_hwnd.store(nullptr);
  }
  return handled;
}

INT_PTR CExtractorDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      return FALSE;  // the focus is set
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_SIZE:
      OnSize(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
      return FALSE;
    case WM_TIMER:
      if (wParam == static_cast<WPARAM>(kStartTimerId)) {
        KillTimer(m_hwnd.load(), kStartTimerId);
        StartStop();
        return TRUE;
      }
      return FALSE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == static_cast<WPARAM>(kIdAboutBox)) {
        ShowAbout();
        return TRUE;
      }
      return FALSE;
    case kMsgPanesChanged:
      ApplyPaneChanges();
      return TRUE;
    case kMsgModelChanged:
      ApplyModelChanges();
      return TRUE;
    default:
      return FALSE;
  }
}

void CExtractorDlg::OnInitDialog() {
  HWND hwnd = m_hwnd.load();
  BindWindowPanes(m_logPanes, &m_paneFeed);
  m_panesBound = true;
  // Publishes that ended runs cut short are finished or undone before any worker writes;
  // with the panes bound, pane 1 shows the operator what was done.
  RepairFolder(g_szExeDir, 1);
  // A pane holds up to 100 lines of any length: no limit of the edit control's own.
  for (int id : kPaneIds) SendMessageW(Control(id), EM_SETLIMITTEXT, 0, 0);
  m_model.SetView(this);
  m_model.OnInitDialog();
  ApplyModelChanges();
  if (HMENU menu = GetSystemMenu(hwnd, FALSE)) {
    std::wstring about = WideFromUtf8(kAboutMenuText);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kIdAboutBox, about.c_str());
  }
  SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageW(hwnd, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(m_hIconSmall != nullptr ? m_hIconSmall : m_hIcon));
  SetTimer(hwnd, kStartTimerId, kStartDelayMs, nullptr);
  SetFocus(Control(kIdCancel));
}

void CExtractorDlg::OnCommand(int id, int notification) {
  const ControlTemplate* c = FindControl(id);
  switch (id) {
    case IDOK:
      return;  // Enter in a field or a pane never closes the window
    case kIdCancel:
      OnCancel();
      return;
    case kIdStartStop:
      if (notification == BN_CLICKED) StartStop();
      return;
    case kIdFolderButton:
      if (notification == BN_CLICKED) OnFolderButton();
      return;
    default:
      break;
  }
  if (c == nullptr) return;
  if (c->kind == ControlKind::kEdit && notification == EN_CHANGE) {
    m_model.SetText(id, Cp949FromWide(WindowText(Control(id))));
  } else if (c->kind == ControlKind::kCheckBox && notification == BN_CLICKED) {
    int checked = SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    m_model.SetCheck(id, checked);
    if (id == kIdPreset) {
      m_model.OnPresetCheck();
      ApplyModelChanges();
    } else if (id == kIdBessel) {
      m_model.OnBesselCheck();
    }
  }
}

void CExtractorDlg::ApplyModelChanges() {
  ModelChangeQueue::Changes changes = TakeModelChanges();
  for (int id : changes.texts) {
    HWND control = Control(id);
    if (control == nullptr) continue;
    std::wstring text = WideFromCp949(m_model.GetText(id));
    if (WindowText(control) != text) SetWindowTextW(control, text.c_str());
  }
  for (int id : changes.checks) {
    if (HWND control = Control(id)) {
      SendMessageW(control, BM_SETCHECK, m_model.GetCheck(id) != 0 ? BST_CHECKED : BST_UNCHECKED,
                   0);
    }
  }
}

void CExtractorDlg::ApplyPaneChanges() {
  std::array<std::deque<PaneQueue::Entry>, 4> changes = m_paneFeed.Take();
  for (std::size_t k = 0; k < changes.size(); ++k) {
    HWND pane = Control(kPaneIds[k]);
    if (pane == nullptr || changes[k].empty()) continue;
    for (const PaneQueue::Entry& entry : changes[k]) {
      // The pane's lines end in CR LF, as the edit control's do.
      std::wstring text = WideFromCp949(entry.line);
      switch (entry.change) {
        case PaneListener::Change::kAppended: {
          int end = GetWindowTextLengthW(pane);
          SendMessageW(pane, EM_SETSEL, static_cast<WPARAM>(end), end);
          SendMessageW(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
          break;
        }
        case PaneListener::Change::kReplaced: SetWindowTextW(pane, text.c_str()); break;
        case PaneListener::Change::kCleared: SetWindowTextW(pane, L""); break;
      }
    }
    SendMessageW(pane, EM_SCROLLCARET, 0, 0);
  }
}

void CExtractorDlg::ShowFieldMessage(const std::string& text, int focusId) {
  ApplyModelChanges();
  HWND hwnd = m_hwnd.load();
  MessageBoxW(hwnd, WideFromCp949(text).c_str(), kMessageBoxTitle, MB_OK);
  if (HWND control = Control(focusId)) SetFocus(control);
}

void CExtractorDlg::StartStop() {
  m_model.OnStartStop();
  ApplyModelChanges();
}

void CExtractorDlg::OnSize(int cx, int cy) {
  std::array<Rect, 4> layout = PaneLayout(cx, cy, ScreenDpi(m_hwnd.load()));
  for (std::size_t k = 0; k < kPaneIds.size(); ++k) {
    HWND pane = Control(kPaneIds[k]);
    if (pane == nullptr || !IsWindow(pane)) continue;  // a size change before the panes exist
    const Rect& r = layout[k];
    MoveWindow(pane, r.x, r.y, r.width, r.height, TRUE);
  }
}

void CExtractorDlg::OnFolderButton() {
  CFolderBrowser browser(nullptr, 0, kFolderChooserTitle, nullptr, kBifStatusText | kBifEditBox);
  if (browser.Browse() != 1) return;
  std::wstring path = browser.GetSelectedPath();
  for (wchar_t& ch : path) {
    if (ch == L'\\') ch = L'/';
  }
  m_model.SetText(kIdFolder, Cp949FromWide(path));
  ApplyModelChanges();
  UpdateWindow(m_hwnd.load());
}

void CExtractorDlg::OnCancel() {
  HWND hwnd = m_hwnd.load();
  KillTimer(hwnd, kStartTimerId);
  m_model.OnCancel();
  if (m_modal) {
    EndDialog(hwnd, IDCANCEL);
  } else {
    DestroyWindow(hwnd);
  }
}

void CExtractorDlg::ShowAbout() {
  std::vector<DWORD> about = AboutBoxTemplate();
  if (DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                              reinterpret_cast<LPCDLGTEMPLATEW>(about.data()), m_hwnd.load(),
                              &AboutProc, 0) == -1) {
    const std::string error = "the about box cannot be opened (DialogBoxIndirectParamW, error " +
                              std::to_string(GetLastError()) + ")";
    MessageBoxW(m_hwnd.load(), WideFromUtf8(error).c_str(), kMessageBoxTitle,
                MB_OK | MB_ICONERROR);
  }
}

}  // namespace zelvik
