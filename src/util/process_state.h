#pragma once
// State shared by the whole process: the program directory, the stop request and the run
// log's day memo.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelvik {

// The program directory in code page 949: '/' separators, no quotes, no trailing '/'.
// Written once at start-up, before any worker exists; read-only afterwards.
extern char g_szExeDir[1024];
// Stop request: 1 asks every worker to end at its next check.
extern std::atomic<std::int32_t> g_bstop;
// Compact time stamp at which the run log last made a day folder (guarded by the run log).
extern char g_szLogDay[32];

// Every file name the program makes in its directory must fit 255 bytes (code page 949). The
// longest, after the directory, is a range export of an area without a name of its own,
// "/carloc_hst-지역알수없음-YYYYMMDD-YYYYMMDD.dat" (46 bytes), under the longest of the names a
// publish gives it, ".<process id, up to 10 digits>-<worker>.orphan" (20 more; ".tmp", ".old"
// and ".pub" are shorter). The day export's "/carloc_hst-서울대구-YYYYMMDD.dat" (33) and the run
// log's "/YYYYMMDD/YYYYMMDDhh-N.log" (26) are shorter.
constexpr std::size_t kFileNameMax = 255;
constexpr std::size_t kLongestNameInDir = 46 + 20;
constexpr std::size_t kProgramDirMax = kFileNameMax - kLongestNameInDir;

// Sets g_szExeDir from a program path given in the file system's encoding (UTF-8): its
// directory part, everything before the last '/' (none: the empty text), double quotes
// removed, backslashes turned into '/', letter case kept (on a case-sensitive file system a
// lower-cased path would name a folder that does not exist). Returns false, with a message
// for the operator, when the directory is longer than kProgramDirMax bytes or has characters
// that code page 949 cannot hold; the directory is then left empty, and the program must not
// run (it would have no run log, or no export).
bool SetProgramDir(std::string_view programPathUtf8, std::string* error);

// Sets g_szExeDir from this process's own executable; false, with the
// reason, also when that path cannot be read. The desktop programs show the reason in a
// message box titled "zelvik" and end with status 1.
bool InitProgramDirFromExecutable(std::string* error);

// Sets g_szExeDir to a directory given directly (UTF-8), for the headless front end's --home.
bool SetProgramDirDirect(std::string_view dirUtf8, std::string* error);

// A function EndProcessNow calls first: it writes output the program still holds back
// (null: none).
void SetEndProcessFlush(void (*flush)());

// Ends the process at once with the status, after that flush and flushing the standard
// streams, without waiting for any thread and without running destructors. For the end of a program that
// leaves a worker stuck in a database call that cannot be cancelled (it holds no file).
[[noreturn]] void EndProcessNow(int status);

}  // namespace zelvik
