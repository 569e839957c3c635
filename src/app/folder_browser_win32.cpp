#include "app/folder_browser_win32.h"

#include <shlobj.h>

#include <cwchar>

#include "app/folder_choice.h"
#include "util/codepage_windows.h"

namespace zelvik {
namespace {

// The shell folder browser's status line.
constexpr int kIdStatusLine = 14147;

// An item without a file-system path: the computer itself, the network, the control panel.
constexpr const char* kNotAFolderRefusal = "파일 시스템의 폴더가 아닙니다.";

// The file-system path of an item, whole however deep the folder (SHGetPathFromIDListW stops
// at MAX_PATH); empty when it has none (a virtual folder such as the computer itself).
std::wstring PathOf(PCIDLIST_ABSOLUTE item) {
  if (item == nullptr) return std::wstring();
  std::wstring path(32768, L'\0');
  if (!SHGetPathFromIDListEx(item, path.data(), static_cast<DWORD>(path.size()),
                             GPFIDL_DEFAULT)) {
    return std::wstring();
  }
  path.resize(wcslen(path.c_str()));
  return path;
}

// Why the program cannot take the item's folder, empty when it can.
std::string Refusal(const std::wstring& path) {
  if (path.empty()) return kNotAFolderRefusal;
  return FolderRefusal(Utf8FromWide(path));
}

// The status line shows the selection's full path, or why the program cannot take it.
void ShowSelection(HWND dialog, PCIDLIST_ABSOLUTE item) {
  std::wstring path = PathOf(item);
  std::string refusal = Refusal(path);
  std::wstring status = refusal.empty() ? path : WideFromUtf8(refusal);
  SendMessageW(dialog, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(status.c_str()));
  SendMessageW(dialog, BFFM_ENABLEOK, 0, refusal.empty() ? 1 : 0);
}

}  // namespace

CFolderBrowser::CFolderBrowser(HWND owner, int rootFolderId, const char* title,
                               const char* rootPath, unsigned flags)
    : m_owner(owner), m_rootFolderId(rootFolderId), m_flags(flags) {
  if (title != nullptr) m_title = WideFromUtf8(title);
  if (rootPath != nullptr) m_rootPath = WideFromUtf8(rootPath);
}

int CALLBACK CFolderBrowser::BrowseCallbackProc(HWND dialog, UINT message, LPARAM param,
                                                LPARAM /*data*/) {
  if (message == BFFM_INITIALIZED) {
    // No context-help button; a sunken edge around the status line.
    SetWindowLongW(dialog, GWL_EXSTYLE,
                   GetWindowLongW(dialog, GWL_EXSTYLE) & ~static_cast<LONG>(WS_EX_CONTEXTHELP));
    HWND status = GetDlgItem(dialog, kIdStatusLine);
    wchar_t className[MAX_PATH] = {};
    if (status != nullptr && IsWindow(status) &&
        GetClassNameW(status, className, MAX_PATH) > 0 &&
        lstrcmpiW(className, L"static") == 0) {
      SetWindowLongW(status, GWL_EXSTYLE, GetWindowLongW(status, GWL_EXSTYLE) | WS_EX_STATICEDGE);
      SetWindowPos(status, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_FRAMECHANGED);
    }
  } else if (message == BFFM_SELCHANGED) {
    ShowSelection(dialog, reinterpret_cast<PCIDLIST_ABSOLUTE>(param));
  }
  return 0;
}

int CFolderBrowser::Browse() {
  PIDLIST_ABSOLUTE root = nullptr;
  if (m_rootFolderId != 0) {
    if (FAILED(SHGetSpecialFolderLocation(nullptr, m_rootFolderId, &root))) root = nullptr;
  } else if (m_rootPath && !m_rootPath->empty()) {
    if (FAILED(SHParseDisplayName(m_rootPath->c_str(), nullptr, &root, 0, nullptr))) {
      root = nullptr;  // the tree then starts at the desktop
    }
  }
  int result = 2;
  for (;;) {
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW info = {};
    info.hwndOwner = m_owner;
    info.pidlRoot = root;
    info.pszDisplayName = displayName;
    info.lpszTitle = m_title ? m_title->c_str() : nullptr;
    info.ulFlags = m_flags;
    info.lpfn = &CFolderBrowser::BrowseCallbackProc;
    info.lParam = 0;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (chosen == nullptr) break;
    std::wstring path = PathOf(chosen);
    CoTaskMemFree(chosen);
    // A name typed into the field bypasses the selection's check: say why, and ask again.
    std::string refusal = Refusal(path);
    if (!refusal.empty()) {
      MessageBoxW(m_owner, WideFromUtf8(refusal).c_str(), L"zelvik", MB_OK | MB_ICONWARNING);
      continue;
    }
    m_selectedPath = path;
    result = 1;
    break;
  }
  if (root != nullptr) CoTaskMemFree(root);
  return result;
}

const wchar_t* CFolderBrowser::GetSelectedPath() const {
  return m_selectedPath ? m_selectedPath->c_str() : nullptr;
}

}  // namespace zelvik
