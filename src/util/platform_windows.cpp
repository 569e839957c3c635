// The operating-system calls on Windows. Every path reaches the system as UTF-16 through the
// wide API, never through the ANSI code page, and in its extended-length form (LongPath), so
// that a deep folder works as it does on Linux; times come from the Win32 API, because the C
// runtime's local time ignores the system's time zone.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "util/platform.h"
#include "util/platform_windows_internal.h"

namespace zelvik::platform {
namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  }
  return out;
}

std::string Narrow(const wchar_t* wide, std::size_t units) {
  if (units == 0) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), out.data(), n, nullptr,
                        nullptr);
  }
  return out;
}

// errno for the last Win32 error of a file call.
void SetErrnoFromLastError() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      errno = EACCES;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    default:
      errno = EIO;
  }
}

// A handle to a regular file (a disk file, not a folder), as a C runtime descriptor; -1 when
// it is anything else.
int RegularFd(HANDLE h, int flags, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(h);
    errno = EACCES;
    return -1;
  }
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
  if (fd < 0) CloseHandle(h);
  return fd;
}

constexpr std::int64_t kUnixEpochIn100ns = 116444736000000000LL;

}  // namespace

std::wstring LongPath(const std::string& utf8) {
  std::wstring path = Wide(utf8);
  // Already in the system's own form (extended length, or a device): given as it is.
  if (path.empty() || path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) {
    return path;
  }
  // GetFullPathNameW does what the system does to a path without the prefix: the current
  // folder for a relative one, '/' to '\', "." and ".." resolved. Under the prefix the system
  // does none of that, and no longer counts the path against MAX_PATH.
  std::wstring full(path.size() + MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(),
                                     nullptr);
    if (n == 0) return path;
    if (n < full.size()) {
      full.resize(n);
      break;
    }
    full.resize(n);
  }
  if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  if (full.size() >= 2 && full[1] == L':') return L"\\\\?\\" + full;
  return full;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  std::string m(mode);
  if (m.find('b') == std::string::npos) m.push_back('b');
  return _wfopen(LongPath(path).c_str(), Wide(m).c_str());
}

bool MakeDir(const std::string& path) {
  if (CreateDirectoryW(LongPath(path).c_str(), nullptr)) return true;
  if (GetLastError() == ERROR_ALREADY_EXISTS) return true;
  SetErrnoFromLastError();
  return false;
}

bool RemoveFile(const std::string& path) { return _wunlink(LongPath(path).c_str()) == 0; }

bool RenameReplace(const std::string& from, const std::string& to) {
  if (MoveFileExW(LongPath(from).c_str(), LongPath(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  SetErrnoFromLastError();
  return false;
}

std::int64_t ReadFd(int fd, void* data, std::size_t size) {
  const unsigned count = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
  return _read(fd, data, count);
}

std::int64_t WriteFd(int fd, const void* data, std::size_t size) {
  const unsigned count = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
  return _write(fd, data, count);
}

bool FileSizeFd(int fd, std::int64_t* size) {
  const long long n = _filelengthi64(fd);
  if (n < 0) return false;
  *size = n;
  return true;
}

bool TruncateFd(int fd, std::int64_t size) {
  const errno_t e = _chsize_s(fd, size);
  if (e == 0) return true;
  errno = e;
  return false;
}

bool CloseFd(int fd) { return _close(fd) == 0; }

int OpenAppendFd(const std::string& path) {
  return _wopen(LongPath(path).c_str(),
                _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

int OpenRegularForRead(const std::string& path, FileIdentity* identity) {
  HANDLE h = CreateFileW(LongPath(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return -1;
  }
  return RegularFd(h, _O_RDONLY | _O_BINARY, identity);
}

int OpenRegularForWrite(const std::string& path, const FileIdentity& input) {
  HANDLE h = CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return -1;
  }
  FileIdentity identity;
  const int fd = RegularFd(h, _O_WRONLY | _O_BINARY, &identity);
  if (fd < 0) return -1;
  if ((identity.volume == input.volume && identity.index == input.index) ||
      _chsize_s(fd, 0) != 0) {
    _close(fd);
    return -1;
  }
  return fd;
}

bool ListDir(const std::string& path, std::vector<DirEntry>* entries) {
  // Under the extended-length prefix '/' is no separator: the pattern takes a backslash.
  std::wstring pattern = LongPath(path);
  if (pattern.empty() || pattern.back() != L'\\') pattern.push_back(L'\\');
  pattern.push_back(L'*');
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                              nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    DirEntry entry;
    entry.name = Narrow(data.cFileName, wcslen(data.cFileName));
    if (entry.name == "." || entry.name == "..") continue;
    entry.isDir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entries->push_back(std::move(entry));
  } while (FindNextFileW(h, &data));
  FindClose(h);
  return true;
}

bool ExecutablePath(std::string* path, std::string* error) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) break;
    if (n < buffer.size()) {
      *path = Narrow(buffer.data(), n);
      return true;
    }
    if (buffer.size() >= 32768) break;
    buffer.resize(buffer.size() * 2);
  }
  if (error != nullptr) *error = "cannot read the program's own path (GetModuleFileNameW)";
  return false;
}

std::string ProgramDirSpelling(const std::string& programPath) {
  // Lower case and '/' separators. Only ASCII letters change: in UTF-8 no byte of another
  // character is one, and file names on Windows ignore case anyway.
  std::string out = programPath;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    if (c == '\\') c = '/';
  }
  return out;
}

std::tm LocalTime(std::time_t t) {
  const std::int64_t ticks = static_cast<std::int64_t>(t) * 10000000LL + kUnixEpochIn100ns;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  std::tm out{};
  if (!FileTimeToSystemTime(&ft, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    return out;
  }
  out.tm_year = local.wYear - 1900;
  out.tm_mon = local.wMonth - 1;
  out.tm_mday = local.wDay;
  out.tm_hour = local.wHour;
  out.tm_min = local.wMinute;
  out.tm_sec = local.wSecond;
  out.tm_wday = local.wDayOfWeek;
  out.tm_isdst = -1;
  return out;
}

std::time_t MakeLocalTime(const std::tm& local) {
  // Out-of-range fields (day 0, hour 24...) carry over as mktime's do: the date part through
  // a day count, the time of day as seconds.
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(local.tm_year + 1900 + local.tm_mon / 12);
  st.wMonth = static_cast<WORD>(local.tm_mon % 12 + 1);
  st.wDay = 1;
  FILETIME ft;
  SYSTEMTIME utc{};
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &st, &utc) || !SystemTimeToFileTime(&utc, &ft)) {
    return static_cast<std::time_t>(-1);
  }
  const std::int64_t ticks =
      (static_cast<std::int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  const std::int64_t monthStart = (ticks - kUnixEpochIn100ns) / 10000000LL;
  return static_cast<std::time_t>(monthStart + (local.tm_mday - 1) * 86400LL +
                                  local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec);
}

std::string ErrorText(int error) {
  char buf[256];
  if (strerror_s(buf, sizeof(buf), error) != 0) return "error " + std::to_string(error);
  return buf;
}

long CurrentProcessId() { return static_cast<long>(GetCurrentProcessId()); }

bool ProcessAlive(long pid) {
  if (pid <= 0) return false;
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool alive = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
  CloseHandle(h);
  return alive;
}

void IgnoreBrokenPipe() {}

}  // namespace zelvik::platform
