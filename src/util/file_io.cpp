#include "util/file_io.h"

#include <cerrno>
#include <cstdint>
#include <string>

#include "util/codepage.h"
#include "util/platform.h"

namespace zelvik {

std::string SysPath(const char* path949) {
  return Cp949ToUtf8(path949 != nullptr ? path949 : "");
}

std::filesystem::path FsPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string FsText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::FILE* OpenFile949(const char* path949, const char* mode) {
  if (path949 == nullptr || mode == nullptr) return nullptr;
  return platform::OpenFile(SysPath(path949), mode);
}

bool MakeDir949(const char* path949) {
  if (path949 == nullptr) return false;
  return platform::MakeDir(SysPath(path949));
}

bool RemoveFile949(const char* path949) {
  if (path949 == nullptr) return false;
  return platform::RemoveFile(SysPath(path949));
}

std::int64_t CurrentProcessId() { return platform::CurrentProcessId(); }

bool ProcessAlive(std::int64_t pid) { return platform::ProcessAlive(pid); }

AppendResult AppendLine949(const char* path949, std::string_view text, AppendSync sync) {
  if (path949 == nullptr) return AppendResult::kNotOpened;
  const int fd = platform::OpenAppendFd(SysPath(path949));
  if (fd < 0) return AppendResult::kNotOpened;
  // The appenders' lock keeps the end read here the end written to. Without it (a file system
  // without locks) another process can append in between: its lines are whole or start with
  // CR LF themselves, so the worst outcome is an empty line, which every reader of these files
  // skips.
  const bool locked = platform::LockForAppend(fd);
  const auto why = [] { return errno != 0 ? errno : EIO; };  // never 0 for a failure
  int error = 0;
  std::int64_t size = 0;
  char last = '\n';
  if (!platform::FileSizeFd(fd, &size) ||
      (size > 0 && platform::ReadAtFd(fd, &last, 1, size - 1) < 0)) {
    error = why();
  } else {
    std::string line;
    line.reserve(text.size() + 4);
    if (last != '\n') line.append("\r\n");
    line.append(text).append("\r\n");
    // One write: two would let another process's line in between. A short write (a full
    // disk) is not completed by a second one, and what it wrote is not cut back either: a
    // process that appends without the lock may have written after it, and cutting would
    // take its line. A short line may remain; the next append starts with CR LF, so it stays
    // a line of its own.
    const std::int64_t n = platform::WriteFd(fd, line.data(), line.size());
    if (n != static_cast<std::int64_t>(line.size())) error = n < 0 ? why() : ENOSPC;
  }
  if (locked) platform::UnlockForAppend(fd);
  if (error == 0 && sync == AppendSync::kData && !platform::SyncFd(fd)) error = why();
  if (!platform::CloseFd(fd) && error == 0) error = why();
  if (error == 0) return AppendResult::kDone;
  errno = error;
  return AppendResult::kWriteFailed;
}

}  // namespace zelvik
