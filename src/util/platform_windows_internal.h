#pragma once
// Pieces the Windows halves of the platform layer share, and that its tests reach.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "util/sys_error.h"

namespace zelvik::platform {

// The form in which every path reaches a Windows file call: absolute, normalised as the system
// would (backslashes, "." and ".." resolved) and with the extended-length prefix ("\\?\C:\...",
// "\\?\UNC\server\share\..."), so that no call stops at MAX_PATH (260 UTF-16 units). A path
// already in that form, or a device ("\\.\..."), is given as it is.
std::wstring LongPath(const std::string& utf8);

// errno for a Win32 error of a file call.
int ErrnoOf(DWORD code);
// The error of a Win32 call, from the code GetLastError gave.
SysError SystemError(DWORD code);

inline HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
inline std::intptr_t FromHandle(HANDLE h) { return reinterpret_cast<std::intptr_t>(h); }

// The lock byte that appenders, owned files and folder locks take (LockFileEx, exclusive):
// waiting for it, or failing at once with ERROR_LOCK_VIOLATION while someone else holds it.
enum class LockWait { kWait, kNoWait };
bool LockPastEnd(HANDLE h, LockWait wait);
void UnlockPastEnd(HANDLE h);

// Runs `attempt` (a replace of `target`) until it succeeds or fails for good; the last code
// (ERROR_SUCCESS when done). A replace refused because a reader holds the target (or the
// source) open is retried for about 2 seconds.
DWORD RetryWhileHeld(const std::wstring& target, const std::function<bool()>& attempt);

// How many times a refused rename has waited for a reader to let go of its target, in this
// process: a refusal for good (a folder, a read-only file) never waits.
unsigned HeldRenameWaits();

}  // namespace zelvik::platform
