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
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "util/codepage.h"
#include "util/codepage_windows.h"
#include "util/locked_handle.h"
#include "util/platform.h"
#include "util/platform_windows_internal.h"

namespace zelvik::platform {

int ErrnoOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_LOCK_VIOLATION:
      return EWOULDBLOCK;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

namespace {

// errno for the last Win32 error of a file call.
void SetErrnoFromLastError() { errno = ErrnoOf(GetLastError()); }

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

// GetFullPathNameW of a path; false when the system refuses it.
bool FullPath(const std::wstring& path, std::wstring* full) {
  full->assign(path.size() + MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full->size()),
                                     full->data(), nullptr);
    if (n == 0) return false;
    const bool fits = n < full->size();
    full->resize(n);
    if (fits) return true;
  }
}

}  // namespace

std::wstring LongPath(const std::string& utf8) {
  std::wstring path = WideFromUtf8(utf8);
  // Already in the system's own form (extended length, or a device): given as it is.
  if (path.empty() || path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) {
    return path;
  }
  // GetFullPathNameW does what the system does to a path without the prefix: the current
  // folder for a relative one, '/' to '\', "." and ".." resolved. Under the prefix the system
  // does none of that, and no longer counts the path against MAX_PATH.
  std::wstring full;
  if (!FullPath(path, &full)) return path;
  if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  if (full.size() >= 2 && full[1] == L':') return L"\\\\?\\" + full;
  return full;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  std::string m(mode);
  if (m.find('b') == std::string::npos) m.push_back('b');
  return _wfopen(LongPath(path).c_str(), WideFromUtf8(m).c_str());
}

bool MakeDir(const std::string& path) {
  if (CreateDirectoryW(LongPath(path).c_str(), nullptr)) return true;
  if (GetLastError() == ERROR_ALREADY_EXISTS) return true;
  SetErrnoFromLastError();
  return false;
}

bool RemoveFile(const std::string& path) { return _wunlink(LongPath(path).c_str()) == 0; }

namespace {

// The attributes of what a system path names, a link followed (as stat follows it: the file is
// opened for its attributes alone, which no sharing refuses); INVALID_FILE_ATTRIBUTES when it
// cannot be opened.
DWORD AttributesOf(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return INVALID_FILE_ATTRIBUTES;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  return known ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool IsDirAt(const std::wstring& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// `path` is in its extended-length form; the climb stops above a drive's root folder.
bool MakeDirsAt(const std::wstring& path) {
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  if (GetLastError() == ERROR_PATH_NOT_FOUND) {
    const std::size_t cut = path.rfind(L'\\');
    if (cut != std::wstring::npos && cut > 4 && path[cut - 1] != L':' &&
        MakeDirsAt(path.substr(0, cut)) && CreateDirectoryW(path.c_str(), nullptr)) {
      return true;
    }
  }
  return IsDirAt(path);  // there all along, or made by someone else meanwhile
}

}  // namespace

bool PathExists(const std::string& path) {
  return AttributesOf(LongPath(path)) != INVALID_FILE_ATTRIBUTES;
}

bool IsDir(const std::string& path) { return IsDirAt(LongPath(path)); }

bool MakeDirs(const std::string& path) {
  std::wstring dir = LongPath(path);
  while (dir.size() > 1 && dir.back() == L'\\' && dir[dir.size() - 2] != L':') dir.pop_back();
  return !dir.empty() && MakeDirsAt(dir);
}

bool AbsolutePath(const std::string& path, std::string* absolute) {
  const std::wstring wide = WideFromUtf8(path);
  std::wstring full;
  if (wide.empty() || !FullPath(wide, &full)) return false;
  *absolute = Utf8FromWide(full);
  return true;
}

std::int64_t ReadFd(int fd, void* data, std::size_t size) {
  const unsigned count = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
  return _read(fd, data, count);
}

std::int64_t WriteFd(int fd, const void* data, std::size_t size) {
  const unsigned count = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
  return _write(fd, data, count);
}

std::int64_t ReadAtFd(int fd, void* data, std::size_t size, std::int64_t offset) {
  const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  DWORD done = 0;
  const DWORD count = size > INT_MAX ? INT_MAX : static_cast<DWORD>(size);
  if (h == INVALID_HANDLE_VALUE || !ReadFile(h, data, count, &done, &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    SetErrnoFromLastError();
    return -1;
  }
  return static_cast<std::int64_t>(done);
}

bool FileSizeFd(int fd, std::int64_t* size) {
  const long long n = _filelengthi64(fd);
  if (n < 0) return false;
  *size = n;
  return true;
}

bool CloseFd(int fd) { return _close(fd) == 0; }

bool SyncFd(int fd) {
  const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h != INVALID_HANDLE_VALUE && FlushFileBuffers(h)) return true;
  SetErrnoFromLastError();
  return false;
}

int OpenAppendFd(const std::string& path) {
  // Append access without write access: the system then puts every write at the end of the
  // file in the same step. The C runtime's _O_APPEND seeks to the end and then writes, and
  // another process's line can land in between and be overwritten.
  HANDLE h = CreateFileW(LongPath(path).c_str(),
                         FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return -1;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_BINARY);
  if (fd < 0) CloseHandle(h);
  return fd;
}

bool LockForAppend(int fd) {
  const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h != INVALID_HANDLE_VALUE && LockPastEnd(h, LockWait::kWait)) return true;
  SetErrnoFromLastError();
  return false;
}

void UnlockForAppend(int fd) {
  const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h != INVALID_HANDLE_VALUE) UnlockPastEnd(h);
}

bool StillLinkedFd(int fd) {
  const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  // A delete marks every open handle of the file delete-pending, whether the name stays until
  // the last handle closes or goes at once (the newer semantics). The link count is not used:
  // GetFileInformationByHandle costs milliseconds under Wine, and FileStandardInfo's count is
  // 0 there for every file. (Wine reports no pending delete either: see the log tests.)
  FILE_STANDARD_INFO info{};
  return h == INVALID_HANDLE_VALUE ||
         !GetFileInformationByHandleEx(h, FileStandardInfo, &info, sizeof(info)) ||
         !info.DeletePending;
}

bool TruncateAppendFd(int fd, std::int64_t size) {
  const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return false;
  }
  // The same file whatever its name is now: reopened through the handle, never by name.
  HANDLE w = ReOpenFile(h, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        0);
  if (w == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return false;
  }
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = size;
  const bool done = SetFileInformationByHandle(w, FileEndOfFileInfo, &end, sizeof(end)) != 0;
  if (!done) SetErrnoFromLastError();
  CloseHandle(w);
  return done;
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
    entry.name = Utf8FromWide(data.cFileName);
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
      *path = Utf8FromWide({buffer.data(), n});
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

namespace {

// The active zone's rules for one year, read again at most once a minute: asked for the
// active zone on every call, Wine reads it from the registry, a server round trip for each
// run-log line. A change of the machine's zone is followed within that minute.
bool ZoneForYear(WORD year, TIME_ZONE_INFORMATION* zone) {
  static std::mutex mutex;
  static TIME_ZONE_INFORMATION cached{};
  static WORD cachedYear = 0;
  static ULONGLONG readAt = 0;
  std::lock_guard<std::mutex> lock(mutex);
  const ULONGLONG now = GetTickCount64();
  if (cachedYear != year || now - readAt >= 60000) {
    if (!GetTimeZoneInformationForYear(year, nullptr, &cached)) {
      cachedYear = 0;
      return false;
    }
    cachedYear = year;
    readAt = now;
  }
  *zone = cached;
  return true;
}

}  // namespace

std::tm LocalTime(std::time_t t) {
  const std::int64_t ticks = static_cast<std::int64_t>(t) * 10000000LL + kUnixEpochIn100ns;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  TIME_ZONE_INFORMATION zone{};
  std::tm out{};
  if (!FileTimeToSystemTime(&ft, &utc) || !ZoneForYear(utc.wYear, &zone) ||
      !SystemTimeToTzSpecificLocalTime(&zone, &utc, &local)) {
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

std::int64_t CurrentProcessId() { return static_cast<std::int64_t>(GetCurrentProcessId()); }

void IgnoreBrokenPipe() {}

// ---- Errors, and the lock byte of appends, owned files and folder locks ------------------------

namespace {

// The system's own text for a Win32 code, in code page 949 like every text of the program, on
// one line (it goes into the run log).
std::string SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (n > 0 && buffer != nullptr) text = Cp949FromWide({buffer, n});
  if (buffer != nullptr) LocalFree(buffer);
  for (char& c : text) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.empty()) text = "Windows error " + std::to_string(code);
  return text;
}

// The one byte every lock of ours takes: far past any end a file of ours reaches (offset 2^62),
// so that no read or write of the file's data ever meets it.
OVERLAPPED LockByte() {
  OVERLAPPED at{};
  at.OffsetHigh = 0x40000000;
  return at;
}

}  // namespace

SysError SystemError(DWORD code) {
  SysError e;
  e.errnoValue = ErrnoOf(code);
  e.systemCode = static_cast<long>(code);
  e.text = SystemMessage(code);
  return e;
}

bool LockPastEnd(HANDLE h, LockWait wait) {
  OVERLAPPED at = LockByte();
  const DWORD flags =
      LOCKFILE_EXCLUSIVE_LOCK | (wait == LockWait::kWait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  return LockFileEx(h, flags, 0, 1, 0, &at) != 0;
}

void UnlockPastEnd(HANDLE h) {
  OVERLAPPED at = LockByte();
  UnlockFileEx(h, 0, 1, 0, &at);
}

void LockedHandle::Close() {
  if (handle_ == -1) return;
  UnlockPastEnd(AsHandle(handle_));
  CloseHandle(AsHandle(handle_));
  handle_ = -1;
}

void EndProcess(int status) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  std::_Exit(status);  // only if the system refused to end this process
}

}  // namespace zelvik::platform
