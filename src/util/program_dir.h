#pragma once
// Setting the program directory (g_szExeDir of process_state.h), from which every file of the
// program is named, once at start-up.

#include <string>
#include <string_view>

#include "util/path_limit.h"

namespace zelvik {

// Sets g_szExeDir from a program path given in the file system's encoding (UTF-8): its
// directory part, everything before the last '/' (none: the empty text), double quotes
// removed, backslashes turned into '/', letter case kept (on a case-sensitive file system a
// lower-cased path would name a folder that does not exist). Returns false, with a message
// for the operator, when the directory is longer than kProgramDirMax bytes or has characters
// that code page 949 cannot hold; the directory is then left empty, and the program must not
// run (it would have no run log, or no export).
bool SetProgramDir(std::string_view programPathUtf8, std::string* error);

// Sets g_szExeDir from this process's own executable; false, with the
// reason, also when that path cannot be read. The desktop programs show the reason in a
// message box titled "zelvik" and end with status 1.
bool InitProgramDirFromExecutable(std::string* error);

// Sets g_szExeDir to a directory given directly (UTF-8), for the headless front end's --home.
bool SetProgramDirDirect(std::string_view dirUtf8, std::string* error);

}  // namespace zelvik
