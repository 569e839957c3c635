#pragma once
// The rule both folder choosers apply to a chosen folder: the program keeps paths in code
// page 949, so a folder whose name that code page cannot hold would come back as a different
// folder, and is refused.

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
