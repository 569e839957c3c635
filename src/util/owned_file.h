#pragma once
// A file a run owns, told apart from the leftover of an ended run by the lock it holds.
// One implementation per system (owned_file_posix.cpp, owned_file_windows.cpp).

#include <cstdint>
#include <string>
#include <utility>

#include "util/locked_handle.h"
#include "util/sys_error.h"

namespace zelvik::platform {

// A file a run owns: created exclusively (never over an existing file, never through a link) and
// held by an OS lock for as long as this object keeps it. The lock is what tells a live run's
// temporary file from the leftover of an ended one (a process id can be reused); it never
// blocks readers. POSIX: flock (or an OFD lock) on the descriptor. Windows: a handle with DELETE
// access shared for read and delete, locked with LockFileEx on a byte range past the end (a
// reader that does not share delete cannot open the file while it is held: release it soon
// after its rename).
// Move-only; the destructor releases the lock and closes the file without removing it.
// Not thread-safe: one thread uses an object at a time; two objects, even of one file, need no
// coordination, since the lock is what settles between them.
class OwnedFile {
 public:
  OwnedFile() = default;
  // Moving hands the held file (and its lock) over; the moved-from object holds nothing.
  OwnedFile(OwnedFile&& other) noexcept
      : handle_(std::move(other.handle_)), path_(std::exchange(other.path_, std::string())) {}
  OwnedFile& operator=(OwnedFile&& other) noexcept {
    if (this != &other) {
      handle_ = std::move(other.handle_);
      path_ = std::exchange(other.path_, std::string());
    }
    return *this;
  }

  // Creates `path` exclusively and takes its lock. False (error set) when the name exists,
  // is a link, or cannot be created.
  bool Create(const std::string& path, SysError* error);

  enum class TakeResult { kTaken, kBusy, kGone, kFailed };
  // Takes over an existing file that no live owner holds: opens it without following a link,
  // takes its lock without waiting, then checks that `path` still names the locked file.
  // kBusy: a live run holds it; kGone: no such file (or it was replaced in between); kFailed:
  // error set.
  TakeResult Take(const std::string& path, SysError* error);

  bool IsOpen() const { return handle_.IsOpen(); }
  const std::string& Path() const { return path_; }
  // The size of the file now; false (error set) on failure.
  bool Size(std::int64_t* size, SysError* error) const;

  // A new descriptor for writing (a C runtime descriptor on Windows), independent of the one
  // holding the lock: closing it (or the stream made from it) keeps the file owned. -1 (error
  // set) on failure.
  int OpenWriteFd(SysError* error);

  // The data written so far reaches the disk: fdatasync / FlushFileBuffers.
  bool SyncData(SysError* error);

  // Gives the file the name `to`, replacing a file of that name in one step. On Windows through
  // the owned handle (SetFileInformationByHandle, FileRenameInfo), never by name. A
  // replace refused because a reader holds `to` open (sharing violation, or access denied when
  // the reader shares delete; under Wine always access denied) is retried for about 2 seconds
  // before it fails. Path() follows the new name.
  bool RenameTo(const std::string& to, SysError* error);

  // Removes the file while it is held (so that no other process can take the name in between)
  // and releases it: on Windows the name goes only when the last handle closes.
  bool Remove(SysError* error);

  // Drops the lock and closes; the file stays.
  void Release() {
    handle_.Close();
    path_.clear();
  }

 private:
  LockedHandle handle_;
  std::string path_;
};

}  // namespace zelvik::platform
