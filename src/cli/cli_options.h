#pragma once
// The headless front end's command line: the options that set the window's fields and the
// command that says which worker runs. Texts stay as given (UTF-8); main converts them.

#include <string>
#include <vector>

namespace zelvik {

struct CliOptions {
  std::string home;          // --home: the program directory; empty = the executable's folder
  bool dev = false;          // --dev: the development preset
  bool hasDsn = false, hasUid = false, hasPwd = false, hasArea = false;
  std::string dsn, uid, pwd, area;
  bool noWgs84 = false;      // --no-wgs84: the conversion check box (1027) off
  bool ignoreQuietHours = false;
  bool help = false;         // --help: print the usage and exit 0
  int catchUpDays = 0;       // --catch-up DAYS (run only): missed days of the last DAYS

  enum class Command { kNone, kRun, kDay, kRange, kClean, kVerify };
  Command command = Command::kNone;
  std::string day;                                        // day
  std::vector<std::pair<std::string, std::string>> ranges;  // range: one to three pairs
  std::string folder;                                     // clean
  std::string verifyFrom, verifyTo;  // verify: both empty (every pair), or FROM and TO
};

// The most days --catch-up looks back.
constexpr int kCatchUpMaxDays = 366;

// The usage text, ending with a line feed; the console adds how to stop the program.
const char* CliUsage();

// Parses argv[1..]. False with a one-line message in *error on a usage error.
bool ParseCliOptions(int argc, const char* const* argv, CliOptions* options, std::string* error);

}  // namespace zelvik
