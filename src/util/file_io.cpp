#include "util/file_io.h"

#include <cerrno>
#include <cstdint>

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

bool ReplaceFile949(const char* from949, const char* to949) {
  if (from949 == nullptr || to949 == nullptr) return false;
  return platform::RenameReplace(SysPath(from949), SysPath(to949));
}

std::int64_t CurrentProcessId() { return platform::CurrentProcessId(); }

bool ProcessAlive(std::int64_t pid) { return platform::ProcessAlive(pid); }

bool WriteLine(std::FILE* f, const char* text, std::size_t len) {
  if (len > 0 && std::fwrite(text, 1, len, f) != len) return false;
  return std::fwrite("\r\n", 1, 2, f) == 2;
}

AppendResult AppendLine949(const char* path949, std::string_view text) {
  if (path949 == nullptr) return AppendResult::kNotOpened;
  const int fd = platform::OpenAppendFd(SysPath(path949));
  if (fd < 0) return AppendResult::kNotOpened;
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text).append("\r\n");
  std::int64_t sizeBefore = 0;
  if (!platform::FileSizeFd(fd, &sizeBefore)) {
    int error = errno;
    platform::CloseFd(fd);
    errno = error;
    return AppendResult::kWriteFailed;
  }
  for (std::size_t done = 0; done < line.size();) {
    const std::int64_t n = platform::WriteFd(fd, line.data() + done, line.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    int error = n == 0 ? ENOSPC : errno;
    platform::TruncateFd(fd, sizeBefore);
    platform::CloseFd(fd);
    errno = error;
    return AppendResult::kWriteFailed;
  }
  return platform::CloseFd(fd) ? AppendResult::kDone : AppendResult::kWriteFailed;
}

}  // namespace zelvik
