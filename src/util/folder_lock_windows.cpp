// The publishes' folder lock on Windows: the lock byte of the lock file.
#include <windows.h>

#include "util/folder_lock.h"
#include "util/platform_windows_internal.h"

namespace zelvik::platform {

FolderLock::TryResult FolderLock::TryLock(const std::string& lockPath, SysError* error) {
  Unlock();
  HANDLE h = CreateFileW(LongPath(lockPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return Fail(error, SystemError(GetLastError())), TryResult::kFailed;
  }
  if (!LockPastEnd(h, LockWait::kNoWait)) {
    const DWORD code = GetLastError();
    CloseHandle(h);
    if (code == ERROR_LOCK_VIOLATION) return TryResult::kBusy;
    return Fail(error, SystemError(code)), TryResult::kFailed;
  }
  handle_ = LockedHandle(FromHandle(h));
  return TryResult::kTaken;
}

}  // namespace zelvik::platform
