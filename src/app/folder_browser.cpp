#include "app/folder_browser.h"

#include <wx/button.h>
#include <wx/dirctrl.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/sizer.h>
#include <wx/stdpaths.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/treectrl.h>
#include <wx/utils.h>

#include "app/folder_choice.h"
#include "util/codepage.h"

namespace zelvik {
namespace {

wxString FromUtf8(const char* text) { return wxString::FromUTF8(text); }

// The chooser's tree. Its top entries are the home folder and the desktop under their Korean
// names, each only where it exists, then the top of the file system.
class ChooserTree : public wxGenericDirCtrl {
 public:
  void SetupSections() override {
    const wxString home = wxGetHomeDir();
    if (!home.empty() && home != "/" && wxFileName::DirExists(home)) {
      AddSection(home, FromUtf8("홈 폴더"), wxFileIconsTable::folder_open);
    }
    // The desktop the user's folder settings name; without them the toolkit answers the
    // home folder, and the desktop is the usual folder in it.
    wxString desktop = wxStandardPaths::Get().GetUserDir(wxStandardPaths::Dir_Desktop);
    if (desktop == home) desktop = home + "/Desktop";
    if (wxFileName::DirExists(desktop)) {
      AddSection(desktop, FromUtf8("바탕 화면"), wxFileIconsTable::folder_open);
    }
    AddSection("/", "/", wxFileIconsTable::computer);
  }
};

}  // namespace

FolderChooserDialog::FolderChooserDialog(wxWindow* owner, const wxString& title,
                                         const wxString& rootPath, unsigned flags)
    : wxDialog(owner, wxID_ANY, FromUtf8("폴더 찾아보기"), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  if (!title.empty()) {
    sizer->Add(new wxStaticText(this, wxID_ANY, title), 0, wxALL | wxEXPAND, 8);
  }
  // The status line is also where a refused choice is explained, so it always exists; without
  // kBifStatusText it stays empty until then.
  m_followSelection = (flags & kBifStatusText) != 0;
  m_status = new wxStaticText(this, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
                              wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_START | wxBORDER_SUNKEN);
  sizer->Add(m_status, 0, wxLEFT | wxRIGHT | wxBOTTOM | wxEXPAND, 8);

  // The whole file system from its top, folders only.
  // Created in two steps, so that the tree's sections are this chooser's own.
  m_tree = new ChooserTree();
  m_tree->Create(this, wxID_ANY, wxString(), wxDefaultPosition, FromDIP(wxSize(360, 320)),
                 wxDIRCTRL_DIR_ONLY);
  sizer->Add(m_tree, 1, wxLEFT | wxRIGHT | wxEXPAND, 8);

  if ((flags & kBifEditBox) != 0) {
    auto* nameRow = new wxBoxSizer(wxHORIZONTAL);
    nameRow->Add(new wxStaticText(this, wxID_ANY, FromUtf8("폴더:")), 0,
                 wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    m_name = new wxTextCtrl(this, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
                            wxTE_PROCESS_ENTER);
    nameRow->Add(m_name, 1, wxALIGN_CENTER_VERTICAL);
    sizer->Add(nameRow, 0, wxALL | wxEXPAND, 8);
  }

  auto* buttons = new wxStdDialogButtonSizer();
  auto* ok = new wxButton(this, wxID_OK, FromUtf8("확인"));
  buttons->AddButton(ok);
  buttons->AddButton(new wxButton(this, wxID_CANCEL, FromUtf8("취소")));
  buttons->Realize();
  sizer->Add(buttons, 0, wxLEFT | wxRIGHT | wxBOTTOM | wxEXPAND, 8);
  ok->SetDefault();
  SetSizerAndFit(sizer);

  m_tree->Bind(wxEVT_DIRCTRL_SELECTIONCHANGED, &FolderChooserDialog::OnSelectionChanged, this);
  ok->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Confirm(); });
  if (m_name != nullptr) m_name->Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) { Confirm(); });

  if (!rootPath.empty() && wxFileName::DirExists(rootPath)) {
    m_tree->ExpandPath(rootPath);
  } else {
    m_tree->ExpandPath("/");
  }
  ShowSelection();
  Centre();
}

bool FolderChooserDialog::SelectPath(const wxString& path) {
  bool found = m_tree->ExpandPath(path);
  ShowSelection();
  return found;
}

wxString FolderChooserDialog::StatusText() const { return m_status->GetLabel(); }

void FolderChooserDialog::OnSelectionChanged(wxTreeEvent& event) {
  ShowSelection();
  event.Skip();
}

void FolderChooserDialog::ShowSelection() {
  wxString path = m_tree->GetPath();
  if (m_followSelection) {
    m_status->SetLabel(path);
    m_status->SetToolTip(path);
  }
  m_shownName = path == "/" ? path : wxFileName(path).GetFullName();
  if (m_name != nullptr) m_name->ChangeValue(m_shownName);
}

wxString FolderChooserDialog::ResolveChoice() const {
  wxString selected = m_tree->GetPath();
  if (m_name == nullptr) return selected;
  wxString typed = m_name->GetValue();
  typed.Trim(true).Trim(false);
  if (typed.empty() || typed == m_shownName) return selected;
  wxFileName name;
  if (typed.StartsWith("/")) {
    name.AssignDir(typed);
  } else {
    // The field showed the selection's name: an edited name names a folder beside it.
    wxFileName base = wxFileName::DirName(selected.empty() ? wxString("/") : selected);
    if (base.GetDirCount() > 0) base.RemoveLastDir();
    name.AssignDir(base.GetPath() + "/" + typed);
  }
  name.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_ABSOLUTE);
  wxString path = name.GetPath();
  return path.empty() ? wxString("/") : path;
}

void FolderChooserDialog::Confirm() {
  wxString path = ResolveChoice();
  if (path.empty() || !wxFileName::DirExists(path)) {
    m_status->SetLabel(FromUtf8("폴더가 없습니다: ") + path);
    return;
  }
  std::string refusal = FolderRefusal(std::string(path.utf8_str()));
  if (!refusal.empty()) {
    m_status->SetLabel(wxString::FromUTF8(refusal));
    return;
  }
  m_chosen = path;
  EndModal(wxID_OK);
}

CFolderBrowser::CFolderBrowser(wxWindow* owner, int rootFolderId, const char* title,
                               const char* rootPath, unsigned flags)
    : m_owner(owner), m_rootFolderId(rootFolderId), m_flags(flags) {
  if (title != nullptr) m_title = title;
  if (rootPath != nullptr) m_rootPath = rootPath;
}

int CFolderBrowser::Browse() {
  wxString title = m_title ? wxString::FromUTF8(*m_title) : wxString();
  wxString root;
  if (m_rootFolderId == 0 && m_rootPath) root = wxString::FromUTF8(*m_rootPath);
  FolderChooserDialog dialog(m_owner, title, root, m_flags);
  if (dialog.ShowModal() != wxID_OK) return 2;
  m_selectedPath = Utf8ToCp949(std::string(dialog.ChosenPath().utf8_str()));
  return 1;
}

const char* CFolderBrowser::GetSelectedPath() const {
  return m_selectedPath ? m_selectedPath->c_str() : nullptr;
}

}  // namespace zelvik
