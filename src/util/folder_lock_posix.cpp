// The publishes' folder lock on POSIX: flock on the lock file.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "util/folder_lock.h"
#include "util/platform_posix_internal.h"

namespace zelvik::platform {

FolderLock::TryResult FolderLock::TryLock(const std::string& lockPath, SysError* error) {
  Unlock();
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return Fail(error, ErrnoError(errno)), TryResult::kFailed;
  if (const int code = LockNow(fd); code != 0) {
    ::close(fd);
    if (code == EWOULDBLOCK) return TryResult::kBusy;
    return Fail(error, ErrnoError(code)), TryResult::kFailed;
  }
  handle_ = LockedHandle(fd);
  return TryResult::kTaken;
}

}  // namespace zelvik::platform
