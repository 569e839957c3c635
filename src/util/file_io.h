#pragma once
// File-system calls with program texts (code page 949) as paths; the path is converted to
// the file system's encoding (UTF-8) at the call.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace zelvik {

std::string SysPath(const char* path949);
// A std::filesystem path of a UTF-8 path and back, never through a narrow system code page
// (on Windows a path made from std::string would be read in the ANSI code page).
std::filesystem::path FsPath(const std::string& utf8);
std::string FsText(const std::filesystem::path& path);
// fopen with a code page 949 path. Always binary: line ends are written as "\r\n" by hand.
std::FILE* OpenFile949(const char* path949, const char* mode);
// mkdir with a code page 949 path; an existing folder is no error.
bool MakeDir949(const char* path949);
// Removes a file; false when it could not be removed (a missing file included).
bool RemoveFile949(const char* path949);

// The id of this process.
std::int64_t CurrentProcessId();

enum class AppendResult { kDone, kNotOpened, kWriteFailed };
// kData: the line has reached the disk when the append returns (com_nm.cfg, whose lines are
// few). The run logs take kNone: a sync per line would wait on the disk for every one of a
// run's thousands of lines, and a log line lost to a power cut loses no data.
enum class AppendSync { kNone, kData };
// Appends text and CR LF to a file (created when missing) in one write, which the system puts
// at the end of the file whoever else appends. A file whose last byte is not a line feed (a
// hand edit, a line cut short) gets CR LF first, in the same write, so that the line never
// runs into the one before. When the whole line cannot be written (a full disk), errno tells
// why and the part written is cut off again (see AppendLineFd).
AppendResult AppendLine949(const char* path949, std::string_view text,
                           AppendSync sync = AppendSync::kNone);

// The same append to a file held open (platform::OpenAppendFd), under the appenders' lock
// taken on that descriptor. *end is the size this process last left the file at, or -1: while
// the file still has that size, its last byte is the line feed this process wrote and is not
// read again. It is updated (-1 after a failure). A write cut short is undone under the lock,
// as long as nobody else has written since: the file is shortened to its size before.
AppendResult AppendLineFd(int fd, std::string_view text, std::int64_t* end);

}  // namespace zelvik
