// Durable publishing on POSIX: sync_file_range, fsync of the folder, rename.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "util/durable_io.h"

namespace zelvik::platform {

void StartWriteBack(int fd, std::int64_t offset, std::int64_t length) {
#ifdef SYNC_FILE_RANGE_WRITE
  ::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                    SYNC_FILE_RANGE_WRITE);
#else
  (void)fd;
  (void)offset;
  (void)length;
#endif
}

bool SyncDir(const std::string& path, SysError* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(error, ErrnoError(errno));
  int code = 0;
  while (::fsync(fd) != 0) {
    if (errno != EINTR) {
      code = errno;
      break;
    }
  }
  ::close(fd);
  return code == 0 || Fail(error, ErrnoError(code));
}

bool RenameReplaceRetry(const std::string& from, const std::string& to, SysError* error) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return Fail(error, ErrnoError(errno));
  return true;
}

}  // namespace zelvik::platform
