#pragma once
// The lock that keeps two publishes of one output from interleaving. One implementation per
// system (folder_lock_posix.cpp, folder_lock_windows.cpp).

#include <string>

#include "util/locked_handle.h"
#include "util/sys_error.h"

namespace zelvik::platform {

// An advisory lock on a lock file that is opened (created when missing) and never deleted:
// deleting a lock file someone waits on would break the exclusion. Held across the renames of
// a publish so that two publishes of one output never interleave, in one process or in two.
// Not thread-safe as an object; each thread takes its own, and the lock excludes the other
// threads' as it does other processes' (each object opens the lock file anew).
class FolderLock {
 public:
  enum class TryResult { kTaken, kBusy, kFailed };
  // Takes the lock without waiting. kBusy: someone else holds it; kFailed: error set.
  TryResult TryLock(const std::string& lockPath, SysError* error);
  void Unlock() { handle_.Close(); }
  bool Held() const { return handle_.IsOpen(); }

 private:
  LockedHandle handle_;
};

}  // namespace zelvik::platform
