#pragma once
// The folder chooser of the path field: a small modal dialog around the toolkit's directory
// tree. It shows its title above the tree, the whole file system from "/", a status line that
// follows the selection with its full path, a field to type a folder name, OK and cancel.

#include <wx/dialog.h>

#include <optional>
#include <string>

#include "app/folder_choice.h"

class wxGenericDirCtrl;
class wxStaticText;
class wxTextCtrl;
class wxTreeEvent;

namespace zelvik {

// The chooser's dialog, open for tests; CFolderBrowser::Browse runs it.
class FolderChooserDialog : public wxDialog {
 public:
  // flags: kBifStatusText adds the status line, kBifEditBox the name field.
  FolderChooserDialog(wxWindow* owner, const wxString& title, const wxString& rootPath,
                      unsigned flags);

  // The chosen folder (full path), valid after the dialog ended with wxID_OK.
  const wxString& ChosenPath() const { return m_chosen; }

  // For tests: selects a folder in the tree; the status line and the name field (null
  // without kBifEditBox).
  bool SelectPath(const wxString& path);
  wxString StatusText() const;
  wxTextCtrl* NameField() const { return m_name; }
  // The OK command: resolves the name field against the selection; ends the dialog when the
  // result is an existing folder the program can name, else says why in the status line.
  void Confirm();

 private:
  void OnSelectionChanged(wxTreeEvent& event);
  void ShowSelection();
  // The folder the name field and the selection name together, or an empty text.
  wxString ResolveChoice() const;

  wxGenericDirCtrl* m_tree = nullptr;
  wxStaticText* m_status = nullptr;
  wxTextCtrl* m_name = nullptr;
  bool m_followSelection = false;
  wxString m_shownName;  // the selection's name as last put into the name field
  wxString m_chosen;
};

class CFolderBrowser {
 public:
  // This system has no special folders: a rootFolderId other than 0 starts the tree at the
  // top of the file system.
  CFolderBrowser(wxWindow* owner, int rootFolderId, const char* title, const char* rootPath,
                 unsigned flags);
  virtual ~CFolderBrowser() = default;
  CFolderBrowser(const CFolderBrowser&) = delete;
  CFolderBrowser& operator=(const CFolderBrowser&) = delete;

  virtual int Browse();
  // The chosen folder in code page 949 with '/' separators, or null before a successful
  // Browse.
  const char* GetSelectedPath() const;

 private:
  wxWindow* m_owner;
  int m_rootFolderId;
  unsigned m_flags;
  std::optional<std::string> m_title;
  std::optional<std::string> m_rootPath;
  std::optional<std::string> m_selectedPath;
};

}  // namespace zelvik
