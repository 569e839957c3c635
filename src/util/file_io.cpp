#include "util/file_io.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "util/codepage.h"

namespace zelvik {

std::string SysPath(const char* path949) {
  return Cp949ToUtf8(path949 != nullptr ? path949 : "");
}

std::FILE* OpenFile949(const char* path949, const char* mode) {
  if (path949 == nullptr || mode == nullptr) return nullptr;
  std::string m(mode);
  if (m.find('b') == std::string::npos) m.push_back('b');
  return std::fopen(SysPath(path949).c_str(), m.c_str());
}

bool MakeDir949(const char* path949) {
  if (path949 == nullptr) return false;
  return mkdir(SysPath(path949).c_str(), 0777) == 0 || errno == EEXIST;
}

bool RemoveFile949(const char* path949) {
  if (path949 == nullptr) return false;
  return unlink(SysPath(path949).c_str()) == 0;
}

bool WriteLine(std::FILE* f, const char* text, std::size_t len) {
  if (len > 0 && std::fwrite(text, 1, len, f) != len) return false;
  return std::fwrite("\r\n", 1, 2, f) == 2;
}

}  // namespace zelvik
