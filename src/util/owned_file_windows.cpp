// The owned files on Windows: a handle that shares only reading and deleting, locked on the
// lock byte, renamed and removed through itself.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "util/owned_file.h"
#include "util/platform_windows_internal.h"

namespace zelvik::platform {
namespace {

bool FailLast(SysError* error) { return Fail(error, SystemError(GetLastError())); }

// A run's own file: open for writing and its flush, and for renaming and removing through this
// same handle; shared for reading and deleting only, so that no second writer or owner can
// open it. (A reader that does not share deleting cannot open it either while it is held: a
// run lets go of its files right after their renames.)
constexpr DWORD kOwnedAccess = GENERIC_READ | GENERIC_WRITE | DELETE;
constexpr DWORD kOwnedShare = FILE_SHARE_READ | FILE_SHARE_DELETE;

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x;
  BY_HANDLE_FILE_INFORMATION y;
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

// Whether `name` still names the file `h` holds: it may have been renamed over between the
// open and the lock.
bool StillNamed(const std::wstring& name, HANDLE h) {
  HANDLE now = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  const bool same = now != INVALID_HANDLE_VALUE && SameFile(h, now);
  if (now != INVALID_HANDLE_VALUE) CloseHandle(now);
  return same;
}

}  // namespace

bool OwnedFile::Create(const std::string& path, SysError* error) {
  Release();
  // CREATE_NEW refuses any existing name, a link included; the reparse flag keeps a link that
  // appears in between from being followed.
  HANDLE h = CreateFileW(LongPath(path).c_str(), kOwnedAccess, kOwnedShare, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FailLast(error);
  handle_ = LockedHandle(FromHandle(h));
  path_ = path;
  if (!LockPastEnd(h, LockWait::kNoWait)) {
    const DWORD code = GetLastError();
    Remove(nullptr);
    return Fail(error, SystemError(code));
  }
  return true;
}

OwnedFile::TakeResult OwnedFile::Take(const std::string& path, SysError* error) {
  Release();
  const std::wstring name = LongPath(path);
  HANDLE h = CreateFileW(name.c_str(), kOwnedAccess, kOwnedShare, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return TakeResult::kGone;
    // A live owner's handle does not share writing: its file cannot be opened this way.
    if (code == ERROR_SHARING_VIOLATION) return TakeResult::kBusy;
    Fail(error, SystemError(code));
    return TakeResult::kFailed;
  }
  LockedHandle held(FromHandle(h));
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    Fail(error, SystemError(ERROR_CANT_ACCESS_FILE));
    return TakeResult::kFailed;
  }
  if (!LockPastEnd(h, LockWait::kNoWait)) {
    const DWORD code = GetLastError();
    if (code == ERROR_LOCK_VIOLATION) return TakeResult::kBusy;
    Fail(error, SystemError(code));
    return TakeResult::kFailed;
  }
  // The name may have been renamed over between the open and the lock.
  if (!StillNamed(name, h)) return TakeResult::kGone;
  handle_ = std::move(held);
  path_ = path;
  return TakeResult::kTaken;
}

bool OwnedFile::Size(std::int64_t* size, SysError* error) const {
  if (!IsOpen()) return Fail(error, SystemError(ERROR_INVALID_HANDLE));
  LARGE_INTEGER n;
  if (!GetFileSizeEx(AsHandle(handle_.Get()), &n)) return FailLast(error);
  *size = n.QuadPart;
  return true;
}

int OwnedFile::OpenWriteFd(SysError* error) {
  if (!IsOpen()) return Fail(error, SystemError(ERROR_INVALID_HANDLE)), -1;
  // A second handle of the same open file: a new open for writing would be refused by the
  // owned handle's own sharing, and closing the duplicate leaves the lock with the original.
  HANDLE dup = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), AsHandle(handle_.Get()), GetCurrentProcess(), &dup,
                       0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return FailLast(error), -1;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(dup), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(dup);
    Fail(error, ErrnoError(errno));
  }
  return fd;
}

bool OwnedFile::SyncData(SysError* error) {
  if (!IsOpen()) return Fail(error, SystemError(ERROR_INVALID_HANDLE));
  if (!FlushFileBuffers(AsHandle(handle_.Get()))) return FailLast(error);
  return true;
}

bool OwnedFile::RenameTo(const std::string& to, SysError* error) {
  if (!IsOpen()) return Fail(error, SystemError(ERROR_INVALID_HANDLE));
  // The target as the system takes it: absolute and in its extended-length form.
  const std::wstring target = LongPath(to);
  const std::size_t bytes = target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(bytes);
  std::memcpy(info->FileName, target.c_str(), bytes + sizeof(wchar_t));
  const DWORD code = RetryWhileHeld(target, [&] {
    return SetFileInformationByHandle(AsHandle(handle_.Get()), FileRenameInfo, info,
                                      static_cast<DWORD>(buffer.size())) != 0;
  });
  if (code != ERROR_SUCCESS) return Fail(error, SystemError(code));
  path_ = to;
  return true;
}

bool OwnedFile::Remove(SysError* error) {
  if (!IsOpen()) return Fail(error, SystemError(ERROR_INVALID_HANDLE));
  // Marked for deletion while held, so no one can open it in between; the name goes when the
  // last handle closes, which releasing it here does.
  FILE_DISPOSITION_INFO remove{};
  remove.DeleteFile = TRUE;
  if (!SetFileInformationByHandle(AsHandle(handle_.Get()), FileDispositionInfo, &remove,
                                  sizeof(remove))) {
    return FailLast(error);
  }
  Release();
  return true;
}

}  // namespace zelvik::platform
