#pragma once
// Every call into the operating system goes through here. One implementation per system
// (platform_posix.cpp, platform_windows.cpp), chosen by the build; code page conversion has
// its pair too (codepage_posix.cpp, codepage_windows.cpp).
//
// Paths are UTF-8 text ("system paths", see SysPath in file_io.h). The Windows side turns them
// into UTF-16 at the call, so Korean names work whatever the system's code page.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace zelvik::platform {

// fopen in binary mode (line ends are written as "\r\n" by hand).
std::FILE* OpenFile(const std::string& path, const char* mode);
// Creates a folder; an existing folder is no error.
bool MakeDir(const std::string& path);
// Removes a file; false when it could not be removed (a missing file included).
bool RemoveFile(const std::string& path);
// Renames a file, replacing a file of the target name in one step.
bool RenameReplace(const std::string& from, const std::string& to);
// Whether the path names something, a link followed; and whether that is a folder. False
// when it cannot be told (no access), as for a missing one.
bool PathExists(const std::string& path);
bool IsDir(const std::string& path);
// Makes a folder and every missing folder above it; true when it is a folder at the end.
bool MakeDirs(const std::string& path);
// The path made absolute as the system takes it: after the current folder (on Windows through
// GetFullPathNameW, which also resolves "C:x" and "\x" against a drive, and "." and ".."). The
// result is a program text, never in the extended-length form. False for an empty path or when
// the current folder cannot be read.
bool AbsolutePath(const std::string& path, std::string* absolute);

// Raw file descriptors: read, write, size and close with errno set on failure.
// Reads and writes are retried when interrupted; they return -1 on error.
std::int64_t ReadFd(int fd, void* data, std::size_t size);
std::int64_t WriteFd(int fd, const void* data, std::size_t size);
// Reads at an offset, as pread does.
std::int64_t ReadAtFd(int fd, void* data, std::size_t size, std::int64_t offset);
bool FileSizeFd(int fd, std::int64_t* size);
bool CloseFd(int fd);
// The data written so far reaches the disk: fdatasync / FlushFileBuffers.
bool SyncFd(int fd);

// Opens a file for reading and appending, created when missing; -1 on failure. Each write
// lands at the end of the file as it is at that moment, placed there by the system in the
// same step (O_APPEND; on Windows a handle with FILE_APPEND_DATA and without FILE_WRITE_DATA),
// so that the writes of two processes never overwrite each other.
int OpenAppendFd(const std::string& path);
// Waits for the lock that appenders of a file take across reading its end and writing, so
// that what they read is still the end when they write (flock; on Windows LockFileEx on a
// byte far past the end, which blocks no reader). False where the file system has no such
// lock: the append then goes on without it.
bool LockForAppend(int fd);
void UnlockForAppend(int fd);
// Whether a file opened by OpenAppendFd still has a name, or was deleted while open (POSIX: a
// link count of 0; Windows: a pending delete). True when the system cannot tell.
bool StillLinkedFd(int fd);
// Shortens a file opened by OpenAppendFd to `size` bytes. On Windows through a second handle to
// the same file, opened for writing: the append handle has no write access.
bool TruncateAppendFd(int fd, std::int64_t size);

// What tells two names of one file apart from two files.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
};
// Opens a regular file for reading without blocking (a FIFO or device must not stall the
// clean-up); -1 for anything else.
int OpenRegularForRead(const std::string& path, FileIdentity* identity);

struct DirEntry {
  std::string name;  // UTF-8
  bool isDir = false;
};
// The entries of a folder, "." and ".." left out; false when it cannot be read.
bool ListDir(const std::string& path, std::vector<DirEntry>* entries);

// The full path of this process's executable (UTF-8); false with a message when unknown.
bool ExecutablePath(std::string* path, std::string* error);
// The program directory as this system spells it, from the executable's path: on Linux as it
// is (file names there keep their case); on Windows in lower case with '/' separators, the
// spelling every run-log line and file name of the program carries there (the system's file
// names ignore case, so it names the same folder).
std::string ProgramDirSpelling(const std::string& programPath);

// Local time of a calendar time, and back (the tests' fake clock sets local times).
std::tm LocalTime(std::time_t t);
std::time_t MakeLocalTime(const std::tm& local);

// The system's text for an errno value.
std::string ErrorText(int error);

// This process's id, and whether a process of that id is running (one of another user
// counts).
std::int64_t CurrentProcessId();
bool ProcessAlive(std::int64_t pid);

// A process that lost its reader must not die writing to a closed pipe.
void IgnoreBrokenPipe();

// Ends this process at once with the status: no thread is waited for and no destructor or exit
// handler runs. On Windows TerminateProcess, not ExitProcess or _Exit: those run the DLLs'
// detach code, which can deadlock on a lock held by a thread stuck in a driver.
[[noreturn]] void EndProcess(int status);

// ---- Durable publishing: files a run owns, their syncs and their renames ----------------------

// A failed system call: errno's value (or the nearest errno for a Win32 code), the system's own
// code (errno on POSIX, GetLastError on Windows) and the system's text for it, so that an
// operator reads what Windows or the kernel said rather than a generic "Permission denied".
// The text is one line in code page 949, as every text inside the program.
struct SysError {
  int errnoValue = 0;
  long systemCode = 0;
  std::string text;
};

// A file a run owns: created exclusively (never over an existing file, never through a link) and
// held by an OS lock for as long as this object keeps it. The lock is what tells a live run's
// temporary file from the leftover of an ended one (a process id can be reused); it never
// blocks readers. POSIX: flock (or an OFD lock) on the descriptor. Windows: a handle with DELETE
// access shared for read and delete, locked with LockFileEx on a byte range past the end (a
// reader that does not share delete cannot open the file while it is held: release it soon
// after its rename).
// Move-only; the destructor releases the lock and closes the file without removing it.
class OwnedFile {
 public:
  OwnedFile() = default;
  ~OwnedFile();
  // Moving hands the held file (and its lock) over; the moved-from object holds nothing.
  OwnedFile(OwnedFile&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) {
    other.handle_ = -1;
    other.path_.clear();
  }
  OwnedFile& operator=(OwnedFile&& other) noexcept {
    if (this != &other) {
      Release();
      handle_ = other.handle_;
      path_ = std::move(other.path_);
      other.handle_ = -1;
      other.path_.clear();
    }
    return *this;
  }
  OwnedFile(const OwnedFile&) = delete;
  OwnedFile& operator=(const OwnedFile&) = delete;

  // Creates `path` exclusively and takes its lock. False (error set) when the name exists,
  // is a link, or cannot be created.
  bool Create(const std::string& path, SysError* error);

  enum class TakeResult { kTaken, kBusy, kGone, kFailed };
  // Takes over an existing file that no live owner holds: opens it without following a link,
  // takes its lock without waiting, then checks that `path` still names the locked file.
  // kBusy: a live run holds it; kGone: no such file (or it was replaced in between).
  TakeResult Take(const std::string& path, SysError* error);

  bool IsOpen() const;
  const std::string& Path() const { return path_; }
  // The size of the file now; false on error.
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
  void Release();

 private:
  std::intptr_t handle_ = -1;  // the descriptor (POSIX) or HANDLE (Windows) holding the lock
  std::string path_;
};

// An advisory lock on a lock file that is opened (created when missing) and never deleted:
// deleting a lock file someone waits on would break the exclusion. Held across the renames of
// a publish so that two publishes of one output never interleave, in one process or in two.
class FolderLock {
 public:
  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  // Takes the lock without waiting: true when taken, false when someone else holds it (error
  // empty) or on failure (error set).
  bool TryLock(const std::string& lockPath, SysError* error);
  void Unlock();
  bool Held() const { return handle_ != -1; }

 private:
  std::intptr_t handle_ = -1;
};

// Starts writing the range back to the disk without waiting (Linux: sync_file_range), so that
// the final SyncData of a large file finds little left to do. A no-op where the system has no
// such call.
void StartWriteBack(int fd, std::int64_t offset, std::int64_t length);

// Makes the folder's entries (a rename, a new file) durable: fsync of the folder on POSIX;
// on Windows FlushFileBuffers on a folder handle opened with FILE_FLAG_BACKUP_SEMANTICS, where
// the file system allows it (true where the system offers no way, see DESIGN.md).
bool SyncDir(const std::string& path, SysError* error);

// Renames a file that is not owned (an earlier final file set aside and put back), replacing
// the target in one step, with the same retry on a Windows reader as OwnedFile::RenameTo.
bool RenameReplaceRetry(const std::string& from, const std::string& to, SysError* error);

}  // namespace zelvik::platform
