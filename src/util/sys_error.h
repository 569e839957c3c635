#pragma once
// How the platform layer's classes (owned_file.h, folder_lock.h, durable_io.h) report a failed
// system call.

#include <string>
#include <utility>

namespace zelvik::platform {

// A failed system call: errno's value (or the nearest errno for a Win32 code), the system's own
// code (GetLastError's on Windows; errno where a POSIX or C runtime call failed) and the
// system's text for it, so that an operator reads what Windows or the kernel said rather than a
// generic "Permission denied". The text is one line in code page 949, as every text inside the
// program.
struct SysError {
  int errnoValue = 0;
  long systemCode = 0;
  std::string text;
};

// The error of a call that failed with errno set (every POSIX call; the C runtime on Windows).
// Windows builds the error of a Win32 call from GetLastError (SystemError, internal).
SysError ErrnoError(int errnoValue);

// Hands a failure to a caller that asked for it (error may be null); false, for the failing
// call to return.
inline bool Fail(SysError* error, SysError failure) {
  if (error != nullptr) *error = std::move(failure);
  return false;
}

}  // namespace zelvik::platform
