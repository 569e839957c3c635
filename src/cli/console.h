#pragma once
// The console side of the headless front end, one implementation per system
// (console_posix.cpp, console_windows.cpp): the entry point, output to the terminal and the
// operator's stop.

#include <cstdio>
#include <string>

namespace zelvik {

// Writes UTF-8 text to standard output or standard error: as UTF-16 to a console, as UTF-8
// bytes to a file or pipe.
void WriteConsoleText(std::FILE* stream, const std::string& utf8);

// An environment variable in UTF-8; false when it is not set.
bool GetEnvUtf8(const char* name, std::string* value);

// The usage text's line on how the operator stops the program on this system.
const char* StopUsage();

// The operator's stop: SIGINT, SIGTERM, SIGHUP and SIGQUIT on Linux; Ctrl+C, Ctrl+Break and
// the console's close on Windows (logoff and shutdown events reach services only). Construct
// it before any worker starts (on Linux the workers inherit its signal mask).
class ConsoleStop {
 public:
  ConsoleStop();
  ~ConsoleStop();
  ConsoleStop(const ConsoleStop&) = delete;
  ConsoleStop& operator=(const ConsoleStop&) = delete;

  // Waits up to ms milliseconds; true when the operator asked to stop.
  bool Wait(int ms);
  // Every worker has ended and its files are closed. On Windows the system ends the process
  // as soon as the handler of a console close returns; that handler waits for this.
  void Finished();
};

}  // namespace zelvik
