#include "util/file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
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

bool ReplaceFile949(const char* from949, const char* to949) {
  if (from949 == nullptr || to949 == nullptr) return false;
  return std::rename(SysPath(from949).c_str(), SysPath(to949).c_str()) == 0;
}

long CurrentProcessId() { return static_cast<long>(getpid()); }

bool ProcessAlive(long pid) {
  if (pid <= 0 || pid != static_cast<long>(static_cast<pid_t>(pid))) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool WriteLine(std::FILE* f, const char* text, std::size_t len) {
  if (len > 0 && std::fwrite(text, 1, len, f) != len) return false;
  return std::fwrite("\r\n", 1, 2, f) == 2;
}

AppendResult AppendLine949(const char* path949, std::string_view text) {
  if (path949 == nullptr) return AppendResult::kNotOpened;
  int fd = open(SysPath(path949).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return AppendResult::kNotOpened;
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text).append("\r\n");
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int error = errno;
    close(fd);
    errno = error;
    return AppendResult::kWriteFailed;
  }
  for (std::size_t done = 0; done < line.size();) {
    ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    int error = n == 0 ? ENOSPC : errno;
    while (ftruncate(fd, st.st_size) != 0 && errno == EINTR) {
    }
    close(fd);
    errno = error;
    return AppendResult::kWriteFailed;
  }
  return close(fd) == 0 ? AppendResult::kDone : AppendResult::kWriteFailed;
}

}  // namespace zelvik
