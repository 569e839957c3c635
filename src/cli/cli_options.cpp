#include "cli/cli_options.h"

#include <chrono>
#include <cstring>
#include <string>
#include <string_view>

namespace zelvik {
namespace {

bool IsDay(const std::string& text) {
  if (text.size() != 8) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A day of the calendar, YYYYMMDD.
bool IsCalendarDay(const std::string& text) {
  if (!IsDay(text)) return false;
  const int y = std::stoi(text.substr(0, 4));
  const unsigned m = static_cast<unsigned>(std::stoi(text.substr(4, 2)));
  const unsigned d = static_cast<unsigned>(std::stoi(text.substr(6, 2)));
  return std::chrono::year_month_day(std::chrono::year(y), std::chrono::month(m),
                                     std::chrono::day(d))
      .ok();
}

bool ParseCatchUp(const std::string& text, int* days, std::string* error) {
  int value = 0;
  bool ok = !text.empty() && text.size() <= 3;
  for (char c : text) {
    if (c < '0' || c > '9') ok = false;
    if (ok) value = value * 10 + (c - '0');
  }
  if (!ok || value > kCatchUpMaxDays) {
    *error = "--catch-up needs a number of days from 0 to " + std::to_string(kCatchUpMaxDays);
    return false;
  }
  *days = value;
  return true;
}

}  // namespace

const char* CliUsage() {
  return "usage: zelvik-cli [--home DIR] [--dev] [--dsn NAME] [--uid USER] [--pwd PASSWORD]\n"
         "                  [--area TEXT] [--no-wgs84] [--ignore-quiet-hours] COMMAND\n"
         "  run [--catch-up DAYS]              worker 1 in daily mode, as the window's "
         "unattended start, until stopped;\n"
         "                                     --catch-up also exports each missed day of the "
         "last DAYS\n"
         "  day YYYYMMDD                       worker 1 in specific-day mode for that day, then "
         "exit\n"
         "  range FROM TO [FROM TO [FROM TO]]  workers 2, 3, 4, one per range of the area text, "
         "then exit\n"
         "  clean FOLDER                       worker 1 in clean-up mode on FOLDER, then exit\n"
         "  verify [FROM [TO]]                 checks the export pairs of the days (or all of "
         "them), changes nothing\n"
         "The password may also come from the environment variable ZELVIK_PWD.\n";
}

bool ParseCliOptions(int argc, const char* const* argv, CliOptions* o, std::string* error) {
  std::vector<std::string> words;
  bool catchUpGiven = false;
  int i = 1;
  for (; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg.size() < 2 || arg.substr(0, 2) != "--") break;
    std::string name(arg);
    std::string value;
    bool hasValue = false;
    if (size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      hasValue = true;
    }
    auto takeValue = [&](std::string* out) {
      if (!hasValue) {
        if (i + 1 >= argc) {
          *error = name + " needs a value";
          return false;
        }
        value = argv[++i];
      }
      *out = value;
      return true;
    };
    auto noValue = [&](bool* flag) {
      if (hasValue) {
        *error = name + " takes no value";
        return false;
      }
      *flag = true;
      return true;
    };
    bool ok;
    if (name == "--home") {
      ok = takeValue(&o->home);
      if (ok && o->home.empty()) {
        *error = "--home needs a folder";
        ok = false;
      }
    } else if (name == "--dsn") {
      ok = takeValue(&o->dsn) && (o->hasDsn = true);
    } else if (name == "--uid") {
      ok = takeValue(&o->uid) && (o->hasUid = true);
    } else if (name == "--pwd") {
      ok = takeValue(&o->pwd) && (o->hasPwd = true);
    } else if (name == "--area") {
      ok = takeValue(&o->area) && (o->hasArea = true);
    } else if (name == "--dev") {
      ok = noValue(&o->dev);
    } else if (name == "--no-wgs84") {
      ok = noValue(&o->noWgs84);
    } else if (name == "--ignore-quiet-hours") {
      ok = noValue(&o->ignoreQuietHours);
    } else if (name == "--help") {
      ok = noValue(&o->help);
    } else if (name == "--catch-up") {
      std::string days;
      ok = takeValue(&days) && ParseCatchUp(days, &o->catchUpDays, error);
      catchUpGiven = ok;
    } else {
      *error = "unknown option " + name;
      ok = false;
    }
    if (!ok) return false;
  }
  if (o->help) return true;
  for (; i < argc; ++i) words.emplace_back(argv[i]);
  if (words.empty()) {
    *error = "no command given";
    return false;
  }
  const std::string& command = words[0];
  size_t args = words.size() - 1;
  // "run --catch-up 7" reads as the command's own option.
  if (command == "run" && args == 2 && words[1] == "--catch-up") {
    if (!ParseCatchUp(words[2], &o->catchUpDays, error)) return false;
    catchUpGiven = true;
    args = 0;
  }
  if (catchUpGiven && command != "run") {
    *error = "--catch-up is for run only";
    return false;
  }
  if (command == "run") {
    if (args != 0) {
      *error = "run takes no arguments";
      return false;
    }
    o->command = CliOptions::Command::kRun;
  } else if (command == "day") {
    if (args != 1 || !IsDay(words[1])) {
      *error = "day needs one day as YYYYMMDD";
      return false;
    }
    o->command = CliOptions::Command::kDay;
    o->day = words[1];
  } else if (command == "range") {
    if (args == 0 || args % 2 != 0 || args > 6) {
      *error = "range needs one to three pairs of days FROM TO";
      return false;
    }
    for (size_t k = 1; k < words.size(); k += 2) {
      if (!IsDay(words[k]) || !IsDay(words[k + 1])) {
        *error = "range days are written YYYYMMDD";
        return false;
      }
      o->ranges.emplace_back(words[k], words[k + 1]);
    }
    o->command = CliOptions::Command::kRange;
  } else if (command == "clean") {
    if (args != 1 || words[1].empty()) {
      *error = "clean needs one folder";
      return false;
    }
    o->command = CliOptions::Command::kClean;
    o->folder = words[1];
  } else if (command == "verify") {
    if (args > 2) {
      *error = "verify takes at most two days FROM TO";
      return false;
    }
    for (size_t k = 1; k <= args; ++k) {
      if (!IsCalendarDay(words[k])) {
        *error = "verify days are written YYYYMMDD";
        return false;
      }
    }
    if (args >= 1) o->verifyFrom = o->verifyTo = words[1];
    if (args == 2) o->verifyTo = words[2];
    if (o->verifyTo < o->verifyFrom) {
      *error = "verify needs FROM not after TO";
      return false;
    }
    o->command = CliOptions::Command::kVerify;
  } else {
    *error = "unknown command " + command;
    return false;
  }
  return true;
}

}  // namespace zelvik
