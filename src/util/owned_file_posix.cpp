// The owned files on POSIX: flock on a descriptor opened without following a link.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "util/owned_file.h"
#include "util/platform.h"
#include "util/platform_posix_internal.h"

namespace zelvik::platform {
namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

bool OwnedFile::Create(const std::string& path, SysError* error) {
  Release();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return Fail(error, ErrnoError(errno));
  if (const int code = LockNow(fd); code != 0) {
    // Nobody else can have opened a file this call has just made; refuse rather than guess.
    ::unlink(path.c_str());
    ::close(fd);
    return Fail(error, ErrnoError(code));
  }
  handle_ = LockedHandle(fd);
  path_ = path;
  return true;
}

OwnedFile::TakeResult OwnedFile::Take(const std::string& path, SysError* error) {
  Release();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return TakeResult::kGone;
    Fail(error, ErrnoError(errno));
    return TakeResult::kFailed;
  }
  LockedHandle held(fd);
  struct stat opened;
  int code = ::fstat(fd, &opened) != 0 ? errno : S_ISREG(opened.st_mode) ? 0 : EINVAL;
  if (code == 0) code = LockNow(fd);
  if (code != 0) {
    if (code == EWOULDBLOCK) return TakeResult::kBusy;
    Fail(error, ErrnoError(code));
    return TakeResult::kFailed;
  }
  // The owner may have renamed or removed it between the open and the lock, and another file
  // may carry the name now: only the file the name still names is taken.
  struct stat named;
  if (::lstat(path.c_str(), &named) != 0 || !SameFile(named, opened)) return TakeResult::kGone;
  handle_ = std::move(held);
  path_ = path;
  return TakeResult::kTaken;
}

bool OwnedFile::Size(std::int64_t* size, SysError* error) const {
  struct stat st;
  if (!IsOpen()) return Fail(error, ErrnoError(EBADF));
  if (::fstat(FdOf(handle_.Get()), &st) != 0) return Fail(error, ErrnoError(errno));
  *size = st.st_size;
  return true;
}

int OwnedFile::OpenWriteFd(SysError* error) {
  if (!IsOpen()) return Fail(error, ErrnoError(EBADF)), -1;
  // A duplicate shares the locked open file description, and a flock lasts until the last
  // descriptor of that description closes: closing this one keeps the file owned.
  const int fd = ::fcntl(FdOf(handle_.Get()), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return Fail(error, ErrnoError(errno)), -1;
  return fd;
}

bool OwnedFile::SyncData(SysError* error) {
  if (!IsOpen()) return Fail(error, ErrnoError(EBADF));
  return SyncFd(FdOf(handle_.Get())) || Fail(error, ErrnoError(errno));
}

bool OwnedFile::RenameTo(const std::string& to, SysError* error) {
  if (!IsOpen()) return Fail(error, ErrnoError(EBADF));
  if (std::rename(path_.c_str(), to.c_str()) != 0) return Fail(error, ErrnoError(errno));
  path_ = to;
  return true;
}

bool OwnedFile::Remove(SysError* error) {
  if (!IsOpen()) return Fail(error, ErrnoError(EBADF));
  if (::unlink(path_.c_str()) != 0) return Fail(error, ErrnoError(errno));
  Release();
  return true;
}

}  // namespace zelvik::platform
