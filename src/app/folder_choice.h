#pragma once
// What the two folder choosers (CFolderBrowser of folder_browser.h on Linux and of
// folder_browser_win32.h on Windows) share. Each takes its title and root path in UTF-8 (null
// for none, copied), and its Browse runs the chooser modally: 1 when a folder was chosen, 2
// when it was cancelled. Both refuse a folder whose name code page 949 cannot hold: the
// program keeps paths in that code page, so such a folder would come back as a different one.

#include <string>
#include <string_view>

namespace zelvik {

// The settings of the path field's chooser: its title, a status line that follows the
// selection, and a field to type a folder name.
inline constexpr const char* kFolderChooserTitle = "폴더를 선택하세요.";
inline constexpr unsigned kBifStatusText = 0x4;
inline constexpr unsigned kBifEditBox = 0x10;

// Empty when the program can name the folder (a UTF-8 path); else the reason, in UTF-8, to
// show in the chooser's status line.
std::string FolderRefusal(std::string_view utf8Path);

}  // namespace zelvik
