// Durable publishing on Windows: the folder's flush where the file system allows it, and the
// renames that wait out a reader.
#include <windows.h>

#include <atomic>

#include "util/durable_io.h"
#include "util/platform_windows_internal.h"

namespace zelvik::platform {
namespace {

std::atomic<unsigned> g_heldRenameWaits{0};

}  // namespace

// Without shared delete Windows says sharing violation, with it access denied. Retried since an
// uploader or a virus scanner lets go soon; then the last code is the answer. A folder or a
// read-only file of the target's name is refused with the same access denied, but for good:
// that fails at once.
DWORD RetryWhileHeld(const std::wstring& target, const std::function<bool()>& attempt) {
  const ULONGLONG deadline = GetTickCount64() + 2000;
  for (;;) {
    if (attempt()) return ERROR_SUCCESS;
    const DWORD code = GetLastError();
    if ((code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) ||
        GetTickCount64() >= deadline) {
      return code;
    }
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
      return code;
    }
    g_heldRenameWaits.fetch_add(1, std::memory_order_relaxed);
    Sleep(50);
  }
}

unsigned HeldRenameWaits() { return g_heldRenameWaits.load(std::memory_order_relaxed); }

void StartWriteBack(int, std::int64_t, std::int64_t) {}

bool SyncDir(const std::string& path, SysError* error) {
  // A folder opened for writing can be flushed (NTFS; under Wine it is an fsync of the folder).
  // Where the file system refuses it (FAT, a network share) or the folder cannot be opened for
  // writing, the system offers no other way short of flushing the whole volume (administrators
  // only), and the publish goes on.
  HANDLE h = CreateFileW(LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    return code == ERROR_ACCESS_DENIED || Fail(error, SystemError(code));
  }
  const bool flushed = FlushFileBuffers(h) != 0;
  const DWORD code = GetLastError();
  CloseHandle(h);
  if (flushed) return true;
  switch (code) {
    case ERROR_INVALID_FUNCTION:
    case ERROR_ACCESS_DENIED:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_PARAMETER:
      return true;
    default:
      return Fail(error, SystemError(code));
  }
}

bool RenameReplaceRetry(const std::string& from, const std::string& to, SysError* error) {
  const std::wstring source = LongPath(from);
  const std::wstring target = LongPath(to);
  const DWORD code = RetryWhileHeld(target, [&] {
    return MoveFileExW(source.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  });
  return code == ERROR_SUCCESS || Fail(error, SystemError(code));
}

}  // namespace zelvik::platform
