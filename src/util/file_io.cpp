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

AppendResult AppendLine949(const char* path949, std::string_view text, AppendSync sync) {
  if (path949 == nullptr) return AppendResult::kNotOpened;
  const int fd = platform::OpenAppendFd(SysPath(path949));
  if (fd < 0) return AppendResult::kNotOpened;
  std::int64_t end = -1;
  AppendResult result = AppendLineFd(fd, text, &end);
  int error = errno;
  if (result == AppendResult::kDone && sync == AppendSync::kData && !platform::SyncFd(fd)) {
    result = AppendResult::kWriteFailed;
    error = errno != 0 ? errno : EIO;
  }
  if (!platform::CloseFd(fd) && result == AppendResult::kDone) {
    result = AppendResult::kWriteFailed;
    error = errno != 0 ? errno : EIO;
  }
  errno = result == AppendResult::kDone ? 0 : error;
  return result;
}

AppendResult AppendLineFd(int fd, std::string_view text, std::int64_t* end) {
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
      (size > 0 && size != *end && platform::ReadAtFd(fd, &last, 1, size - 1) < 0)) {
    error = why();
  } else {
    std::string line;
    line.reserve(text.size() + 4);
    if (last != '\n') line.append("\r\n");
    line.append(text).append("\r\n");
    // One write: two would let another process's line in between. A short write (a full
    // disk, a size limit) is not completed by a second one.
    const std::int64_t n = platform::WriteFd(fd, line.data(), line.size());
    if (n == static_cast<std::int64_t>(line.size())) {
      *end = size + n;
    } else {
      error = n < 0 ? why() : ENOSPC;
      // The cut line is taken back, so that no reader ever meets it (com_nm.cfg would give
      // its company the cut name for good). Only under the lock, and only while the file is
      // exactly what this write made it: an appender without the lock may have written after
      // it, and cutting then would take its line. Otherwise the short line stays, and the next
      // append starts with CR LF.
      std::int64_t now = 0;
      if (locked && n > 0 && platform::FileSizeFd(fd, &now) && now == size + n) {
        platform::TruncateAppendFd(fd, size);
      }
    }
  }
  if (locked) platform::UnlockForAppend(fd);
  if (error == 0) return AppendResult::kDone;
  *end = -1;
  errno = error;
  return AppendResult::kWriteFailed;
}

}  // namespace zelvik
