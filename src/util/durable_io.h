#pragma once
// What makes a publish durable, beside the owned files' own syncs and renames: an early start
// of the write-back, the folder's sync, and the rename of a file that is not owned. One
// implementation per system (durable_io_posix.cpp, durable_io_windows.cpp).

#include <cstdint>
#include <string>

#include "util/sys_error.h"

namespace zelvik::platform {

// Starts writing the range back to the disk without waiting (Linux: sync_file_range), so that
// the final SyncData of a large file finds little left to do. A no-op where the system has no
// such call.
void StartWriteBack(int fd, std::int64_t offset, std::int64_t length);

// Makes the folder's entries (a rename, a new file) durable: fsync of the folder on POSIX;
// on Windows FlushFileBuffers on a folder handle opened with FILE_FLAG_BACKUP_SEMANTICS, where
// the file system allows it (true where the system offers no way, see docs/windows.md).
bool SyncDir(const std::string& path, SysError* error);

// Renames a file that is not owned (an earlier final file set aside and put back), replacing
// the target in one step, with the same retry on a Windows reader as OwnedFile::RenameTo.
bool RenameReplaceRetry(const std::string& from, const std::string& to, SysError* error);

}  // namespace zelvik::platform
