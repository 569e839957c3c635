#pragma once
// The program's calls into the operating system go through here and the headers beside it
// (owned_file.h, folder_lock.h, durable_io.h; codepage.h for code page conversion): one
// implementation per system (platform_posix.cpp, platform_windows.cpp and the like), chosen by
// the build. The exceptions are each a front end's own system code, which nothing else reaches
// and which would only pass through here: the console of the headless front end
// (src/cli/console_posix.cpp, console_windows.cpp: its signals, console handles and
// environment) and the Win32 window (src/app/*_win32*). std::filesystem appears outside the
// tests only as path text (FsPath and FsText in file_io.h), which calls no system; ODBC is a
// library, reached through src/db.
//
// Paths are UTF-8 text ("system paths", see SysPath in file_io.h). The Windows side turns them
// into UTF-16 at the call, so Korean names work whatever the system's code page.
//
// Failures: the calls here answer as the C calls they stand for (false or -1 with errno set;
// ExecutablePath with the start-up's message), because the writers and readers that call them
// already report errno in their log lines and a SysError would only be taken apart again there;
// owned_file.h, folder_lock.h and durable_io.h answer with a SysError (sys_error.h).

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace zelvik::platform {

// fopen in binary mode (line ends are written as "\r\n" by hand).
std::FILE* OpenFile(const std::string& path, const char* mode);
// Creates a folder; an existing folder is no error.
bool MakeDir(const std::string& path);
// Removes a file; false when it could not be removed (a missing file included).
bool RemoveFile(const std::string& path);
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

// This process's id.
std::int64_t CurrentProcessId();

// A process that lost its reader must not die writing to a closed pipe.
void IgnoreBrokenPipe();

// Ends this process at once with the status: no thread is waited for and no destructor or exit
// handler runs. On Windows TerminateProcess, not ExitProcess or _Exit: those run the DLLs'
// detach code, which can deadlock on a lock held by a thread stuck in a driver.
[[noreturn]] void EndProcess(int status);

}  // namespace zelvik::platform
