#pragma once
// The occupancy clean-up: re-processes a folder of exported .dat files into its sub-folder
// "converted". Each file is copied with its WGS84 columns recomputed from the Bessel ones,
// malformed data lines dropped, comment lines kept, and runs of occupancy code 1 (or 2) of
// one vehicle reduced so that only the run's last line keeps the code (the others become 0,
// or 3). Everything is logged to log number 1.

#include <cstdint>

#include "util/clock.h"

namespace zelvik {

// Limits of the clean-up's texts, in code page 949 bytes (an input or output path: kFileNameMax
// of util/path_limit.h).
constexpr int kOnOffFolderMax = 1023 - 10;  // the folder text, leaving room for "/converted"
constexpr int kOnOffLineMax = 2047;         // a data line, without its line end
// A data line has at least kOnOffMinFields fields as SplitFields counts them at commas with
// the limit kOnOffSplitLimit (values are unquoted: a comma inside a value adds a field).
constexpr int kOnOffSplitLimit = 15;
constexpr int kOnOffMinFields = 11;

// The run log the clean-up writes to.
constexpr int kOnOffLogNo = 1;

struct FileOnOffResult {
  enum class Status {
    kSkipped,     // a path was null or shorter than 4 bytes: nothing done, nothing logged
    kDone,        // converted; the output is complete
    kOpenFailed,  // input or output could not be opened; no output written
    kFailed,      // read or write error; the partial output was removed
    kCancelled,   // cancel request seen; the partial output was removed
  };
  Status status = Status::kSkipped;
  std::int64_t ncnt = 0;  // valid data lines
};

struct OnOffSumResult {
  int nCnt = 0;            // files handed to file_onoffsum
  int nFailed = 0;         // .dat files found but not converted (skipped, not opened, failed)
  bool cancelled = false;  // stopped by the cancel request
  bool folderFailed = false;  // the folder text was refused or the folder could not be read
  // Whether the run has to be reported as failed: nothing may pass as converted that was not.
  bool Failed() const { return cancelled || folderFailed || nFailed > 0; }
};

// Converts one file. Both paths are in the file system's encoding (UTF-8) and are used
// exactly; the log lines show them in code page 949. The cancel request (may be null) is
// checked at every line.
FileOnOffResult file_onoffsum(const char* inPath, const char* outPath,
                              const CancelToken* cancel);

// Converts every .dat file (extension in any letter case) of the folder named by folderText
// (code page 949, as the path field holds it; backslashes count as '/') into
// "<folder>/converted/<name in lower case>". The stop flag is not looked at; only the cancel
// request (may be null) ends the run early. The closing line carries the failed count after
// the file count's line: "... szpath_dst[%s] failed[%d]".
OnOffSumResult ProcOnOffSum(const char* folderText, const CancelToken* cancel);

}  // namespace zelvik
