// The operating-system calls on Linux (and other POSIX systems).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "util/platform.h"

namespace zelvik::platform {

std::FILE* OpenFile(const std::string& path, const char* mode) {
  std::string m(mode);
  if (m.find('b') == std::string::npos) m.push_back('b');
  return std::fopen(path.c_str(), m.c_str());
}

bool MakeDir(const std::string& path) { return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST; }

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool RenameReplace(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

std::int64_t ReadFd(int fd, void* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, data, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

std::int64_t WriteFd(int fd, const void* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::write(fd, data, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool FileSizeFd(int fd, std::int64_t* size) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  *size = st.st_size;
  return true;
}

bool TruncateFd(int fd, std::int64_t size) {
  for (;;) {
    if (ftruncate(fd, static_cast<off_t>(size)) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool CloseFd(int fd) { return ::close(fd) == 0; }

int OpenAppendFd(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
}

int OpenRegularForRead(const std::string& path, FileIdentity* identity) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  identity->volume = static_cast<std::uint64_t>(st.st_dev);
  identity->index = static_cast<std::uint64_t>(st.st_ino);
  return fd;
}

int OpenRegularForWrite(const std::string& path, const FileIdentity& input) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      (static_cast<std::uint64_t>(st.st_dev) == input.volume &&
       static_cast<std::uint64_t>(st.st_ino) == input.index) ||
      ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool ListDir(const std::string& path, std::vector<DirEntry>* entries) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return false;
  while (const dirent* e = ::readdir(dir)) {
    DirEntry entry;
    entry.name = e->d_name;
    if (entry.name == "." || entry.name == "..") continue;
    entry.isDir = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      entry.isDir = ::stat((path + "/" + entry.name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    entries->push_back(std::move(entry));
  }
  ::closedir(dir);
  return true;
}

bool ExecutablePath(std::string* path, std::string* error) {
  std::string buffer(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) {
    if (error != nullptr) *error = "cannot read the program's own path from /proc/self/exe";
    return false;
  }
  buffer.resize(static_cast<std::size_t>(n));
  *path = std::move(buffer);
  return true;
}

std::string ProgramDirSpelling(const std::string& programPath) { return programPath; }

std::tm LocalTime(std::time_t t) {
  std::tm out{};
  localtime_r(&t, &out);
  return out;
}

std::time_t MakeLocalTime(const std::tm& local) {
  std::tm copy = local;
  return mktime(&copy);
}

std::string ErrorText(int error) {
  char buf[256];
  return strerror_r(error, buf, sizeof(buf));
}

long CurrentProcessId() { return static_cast<long>(getpid()); }

bool ProcessAlive(long pid) {
  if (pid <= 0 || pid != static_cast<long>(static_cast<pid_t>(pid))) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

void EndProcess(int status) { std::_Exit(status); }

void IgnoreBrokenPipe() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace zelvik::platform
