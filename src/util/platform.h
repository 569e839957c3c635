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

// Raw file descriptors: read, write, size, truncate and close with errno set on failure.
// Reads and writes are retried when interrupted; they return -1 on error.
std::int64_t ReadFd(int fd, void* data, std::size_t size);
std::int64_t WriteFd(int fd, const void* data, std::size_t size);
bool FileSizeFd(int fd, std::int64_t* size);
bool TruncateFd(int fd, std::int64_t size);
bool CloseFd(int fd);

// Opens a file for appending, created when missing; -1 on failure.
int OpenAppendFd(const std::string& path);

// What tells two names of one file apart from two files.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
};
// Opens a regular file for reading without blocking (a FIFO or device must not stall the
// clean-up); -1 for anything else.
int OpenRegularForRead(const std::string& path, FileIdentity* identity);
// Creates or empties a regular file for writing, refusing anything else and the file `input`
// (reached through a link), which emptying would destroy; -1 then.
int OpenRegularForWrite(const std::string& path, const FileIdentity& input);

struct DirEntry {
  std::string name;  // UTF-8
  bool isDir = false;
};
// The entries of a folder, "." and ".." left out; false when it cannot be read.
bool ListDir(const std::string& path, std::vector<DirEntry>* entries);

// The full path of this process's executable (UTF-8); false with a message when unknown.
bool ExecutablePath(std::string* path, std::string* error);
// The program directory as this system spells it, from the executable's path: on Linux as it
// is (file names there keep their case); on Windows lower case, as the program always had it.
std::string ProgramDirSpelling(const std::string& programPath);

// Local time of a calendar time, and back (the tests' fake clock sets local times).
std::tm LocalTime(std::time_t t);
std::time_t MakeLocalTime(const std::tm& local);

// The system's text for an errno value.
std::string ErrorText(int error);

// This process's id, and whether a process of that id is running (one of another user
// counts).
long CurrentProcessId();
bool ProcessAlive(long pid);

// A process that lost its reader must not die writing to a closed pipe.
void IgnoreBrokenPipe();

}  // namespace zelvik::platform
