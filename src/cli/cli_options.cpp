#include "cli/cli_options.h"

#include <chrono>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

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

// The leading options of a command line, one at a time; the words after them are the command.
class OptionReader {
 public:
  OptionReader(int argc, const char* const* argv) : argc_(argc), argv_(argv) {}

  // Moves to the next option; false at the command (after a "--" or at the first word that
  // is not an option).
  bool Next() {
    if (pos_ >= argc_) return false;
    std::string_view arg = argv_[pos_];
    if (arg == "--") {
      ++pos_;
      return false;
    }
    if (arg.size() < 2 || arg.substr(0, 2) != "--") return false;
    ++pos_;
    name_.assign(arg);
    value_.clear();
    hasValue_ = false;
    if (size_t eq = name_.find('='); eq != std::string::npos) {
      value_ = name_.substr(eq + 1);
      name_.resize(eq);
      hasValue_ = true;
    }
    return true;
  }
  const std::string& Name() const { return name_; }
  // The option's value: after its '=' or the next word.
  bool TakeValue(std::string* out, std::string* error) {
    if (!hasValue_) {
      if (pos_ >= argc_) {
        *error = name_ + " needs a value";
        return false;
      }
      value_ = argv_[pos_++];
    }
    *out = value_;
    return true;
  }
  // A switch: sets *flag; an option that takes no value given one is a usage error.
  bool NoValue(bool* flag, std::string* error) {
    if (hasValue_) {
      *error = name_ + " takes no value";
      return false;
    }
    *flag = true;
    return true;
  }
  // The command and its arguments.
  std::vector<std::string> Rest() const { return {argv_ + pos_, argv_ + argc_}; }

 private:
  const int argc_;
  const char* const* const argv_;
  int pos_ = 1;
  std::string name_, value_;
  bool hasValue_ = false;
};

bool ApplyOption(OptionReader& r, CliOptions* o, bool* catchUpGiven, std::string* error) {
  const std::string& name = r.Name();
  if (name == "--home") {
    if (!r.TakeValue(&o->home, error)) return false;
    if (o->home.empty()) {
      *error = "--home needs a folder";
      return false;
    }
    return true;
  }
  if (name == "--dsn") return r.TakeValue(&o->dsn, error) && (o->hasDsn = true);
  if (name == "--uid") return r.TakeValue(&o->uid, error) && (o->hasUid = true);
  if (name == "--pwd") return r.TakeValue(&o->pwd, error) && (o->hasPwd = true);
  if (name == "--area") return r.TakeValue(&o->area, error) && (o->hasArea = true);
  if (name == "--dev") return r.NoValue(&o->dev, error);
  if (name == "--no-wgs84") return r.NoValue(&o->noWgs84, error);
  if (name == "--ignore-quiet-hours") return r.NoValue(&o->ignoreQuietHours, error);
  if (name == "--help") return r.NoValue(&o->help, error);
  if (name == "--catch-up") {
    std::string days;
    *catchUpGiven = r.TakeValue(&days, error) && ParseCatchUp(days, &o->catchUpDays, error);
    return *catchUpGiven;
  }
  *error = "unknown option " + name;
  return false;
}

// run, with "run --catch-up 7" read as the command's own option.
bool ParseRun(const std::vector<std::string>& words, CliOptions* o, std::string* error) {
  if (words.size() == 3 && words[1] == "--catch-up") {
    if (!ParseCatchUp(words[2], &o->catchUpDays, error)) return false;
  } else if (words.size() != 1) {
    *error = "run takes no arguments";
    return false;
  }
  o->command = CliOptions::Command::kRun;
  return true;
}

// day YYYYMMDD and clean FOLDER: the command's one argument.
bool ParseOneArgument(const std::vector<std::string>& words, CliOptions* o, std::string* error) {
  const bool day = words[0] == "day";
  if (words.size() != 2 || (day ? !IsDay(words[1]) : words[1].empty())) {
    *error = day ? "day needs one day as YYYYMMDD" : "clean needs one folder";
    return false;
  }
  // A day the calendar does not have would be exported as an empty day and called good.
  if (day && !IsCalendarDay(words[1])) {
    *error = "day " + words[1] + " is not on the calendar";
    return false;
  }
  o->command = day ? CliOptions::Command::kDay : CliOptions::Command::kClean;
  (day ? o->day : o->folder) = words[1];
  return true;
}

bool ParseRange(const std::vector<std::string>& words, CliOptions* o, std::string* error) {
  const size_t args = words.size() - 1;
  if (args == 0 || args % 2 != 0 || args > 6) {
    *error = "range needs one to three pairs of days FROM TO";
    return false;
  }
  for (size_t k = 1; k < words.size(); k += 2) {
    if (!IsDay(words[k]) || !IsDay(words[k + 1])) {
      *error = "range days are written YYYYMMDD";
      return false;
    }
    for (const std::string& day : {words[k], words[k + 1]}) {
      if (!IsCalendarDay(day)) {
        *error = "range day " + day + " is not on the calendar";
        return false;
      }
    }
    o->ranges.emplace_back(words[k], words[k + 1]);
  }
  o->command = CliOptions::Command::kRange;
  return true;
}

bool ParseVerify(const std::vector<std::string>& words, CliOptions* o, std::string* error) {
  const size_t args = words.size() - 1;
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
  return true;
}

// The command word and its arguments.
bool ParseCommand(const std::vector<std::string>& words, bool catchUpGiven, CliOptions* o,
                  std::string* error) {
  const std::string& command = words[0];
  if (catchUpGiven && command != "run") {
    *error = "--catch-up is for run only";
    return false;
  }
  if (command == "run") return ParseRun(words, o, error);
  if (command == "day" || command == "clean") return ParseOneArgument(words, o, error);
  if (command == "range") return ParseRange(words, o, error);
  if (command == "verify") return ParseVerify(words, o, error);
  *error = "unknown command " + command;
  return false;
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
  OptionReader reader(argc, argv);
  bool catchUpGiven = false;
  while (reader.Next()) {
    if (!ApplyOption(reader, o, &catchUpGiven, error)) return false;
  }
  if (o->help) return true;
  const std::vector<std::string> words = reader.Rest();
  if (words.empty()) {
    *error = "no command given";
    return false;
  }
  return ParseCommand(words, catchUpGiven, o, error);
}

}  // namespace zelvik
