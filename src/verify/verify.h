#pragma once
// Checks the export pairs of a program folder, and changes nothing: each pair (export .dat and
// summary .log) is read as the export wrote it and as the clean-up reads it, and judged whole,
// missing, in progress (a live run owns or publishes it) or damaged, with what is wrong. What
// the start-up repair would do with leftovers of ended runs is listed, never done.

#include <functional>
#include <string>

namespace zelvik {

struct VerifyCounts {
  int checked = 0;     // pairs and days given a line
  int whole = 0;
  int missing = 0;     // a day of the asked range without its export
  int damaged = 0;     // a pair with something wrong, half a pair included
  int inProgress = 0;  // a pair a live run owns or publishes: not judged
  int leftovers = 0;   // lines of what the start-up repair would do
  // Everything checked is whole: nothing missing, damaged, in progress or left over.
  bool AllWhole() const { return whole == checked && leftovers == 0; }
};

// Verifies the export pairs of folder949 (code page 949, no trailing '/'): the days from..to
// (YYYYMMDD, from <= to), with the range exports that lie within them; or, with both empty,
// every pair found. Each line (code page 949, without line end) goes to out, the closing
// count last.
VerifyCounts VerifyExports(const std::string& folder949, const std::string& from,
                           const std::string& to,
                           const std::function<void(const std::string&)>& out);

}  // namespace zelvik
