#include "util/program_dir.h"

#include <cstring>

#include "util/codepage.h"
#include "util/platform.h"
#include "util/process_state.h"

namespace zelvik {
namespace {

std::string ProgramDirFromPath(std::string_view programPath) {
  size_t slash = programPath.rfind('/');
  if (slash == std::string_view::npos) return std::string();
  std::string dir;
  dir.reserve(slash);
  for (char c : programPath.substr(0, slash)) {
    if (c == '"') continue;
    dir.push_back(c == '\\' ? '/' : c);
  }
  return dir;
}

bool StoreDir(const std::string& dirUtf8, std::string* error) {
  std::memset(g_szExeDir, 0, sizeof(g_szExeDir));
  std::string dir;
  if (!Cp949Holds(dirUtf8, &dir)) {
    // Every file of the program is named from this directory: a folder name with '?' in
    // place of a character would name another folder, or none.
    if (error != nullptr) {
      *error = "the program directory has characters that code page 949 cannot hold: " +
               dirUtf8;
    }
    return false;
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir == "/") dir.clear();  // the root: paths "%s/%s" then begin with '/'
  static_assert(kProgramDirMax < sizeof(g_szExeDir));
  if (dir.size() > kProgramDirMax) {
    if (error != nullptr) {
      std::size_t shown = 80;  // a whole UTF-8 character last
      while (shown < dirUtf8.size() && (static_cast<unsigned char>(dirUtf8[shown]) & 0xC0) == 0x80) {
        --shown;
      }
      *error = "program directory is longer than " + std::to_string(kProgramDirMax) +
               " bytes, too long for the names of its files: " + dirUtf8.substr(0, shown) +
               "...";
    }
    return false;
  }
  std::memcpy(g_szExeDir, dir.data(), dir.size());
  return true;
}
}  // namespace

bool SetProgramDir(std::string_view programPathUtf8, std::string* error) {
  return StoreDir(ProgramDirFromPath(programPathUtf8), error);
}

bool SetProgramDirDirect(std::string_view dirUtf8, std::string* error) {
  std::string dir;
  for (char c : dirUtf8) dir.push_back(c == '\\' ? '/' : c);
  return StoreDir(dir, error);
}

bool InitProgramDirFromExecutable(std::string* error) {
  std::string path;
  if (!platform::ExecutablePath(&path, error)) {
    std::memset(g_szExeDir, 0, sizeof(g_szExeDir));
    return false;
  }
  return SetProgramDir(platform::ProgramDirSpelling(path), error);
}

}  // namespace zelvik
