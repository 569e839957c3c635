#pragma once
// The folder chooser of the path field on Windows: the shell's folder browser, with its title,
// a status line that follows the selection with its full path, a field to type a folder name,
// and no owner window (the main window stays enabled while it is open).

#include <windows.h>

#include <optional>
#include <string>

#include "app/folder_choice.h"

namespace zelvik {

class CFolderBrowser {
 public:
  // rootFolderId is a special folder (CSIDL_) whose folder is the root of the tree, 0 for
  // none.
  CFolderBrowser(HWND owner, int rootFolderId, const char* title, const char* rootPath,
                 unsigned flags);
  virtual ~CFolderBrowser() = default;
  CFolderBrowser(const CFolderBrowser&) = delete;
  CFolderBrowser& operator=(const CFolderBrowser&) = delete;

  // A folder that code page 949 cannot name, and an item without a file-system path, are
  // refused: the status line says why and OK is disabled while it is selected; typed through
  // the name field, a message box says why and the chooser opens again. A folder deeper than
  // MAX_PATH is taken whole.
  virtual int Browse();
  // The chosen folder as the system gives it (backslashes); null before a successful Browse.
  const wchar_t* GetSelectedPath() const;

  // The dialog's callback: the look adjustments when it opens, the status line on each
  // selection change.
  static int CALLBACK BrowseCallbackProc(HWND dialog, UINT message, LPARAM param, LPARAM data);

 private:
  HWND m_owner;
  int m_rootFolderId;
  unsigned m_flags;
  std::optional<std::wstring> m_title;
  std::optional<std::wstring> m_rootPath;
  std::optional<std::wstring> m_selectedPath;
};

}  // namespace zelvik
