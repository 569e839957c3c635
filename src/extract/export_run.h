#pragma once
// The export run: one query of the location history from start to end. It creates the export
// file (.dat) and the summary file (.log) in the program directory, sends one statement, walks
// the rows once, writes every row to the export file, feeds every row to the per-vehicle
// summary, and logs counts and timings on the worker's pane.

#include <atomic>
#include <cstdint>

#include "extract/car_summary.h"
#include "extract/export_plan.h"

namespace zelvik {

class CancelToken;
class Database;

// What a worker keeps from one run to the next (zero when the worker starts).
struct ExportWorkerState {
  LastCompany lastCompany{};
  std::int32_t nPeriodic = 0;  // rows since the last periodic row line
};

enum class ExportOutcome {
  kGood,     // both files complete
  kFailed,   // a file or database failure, or a cancel request: no new file left behind,
             // earlier files of the same outputs kept
  kRefused,  // inputs refused before any file was made or statement sent (logged)
};

struct ExportOptions {
  // Converts, formats and writes the export rows on a thread of their own, overlapping the
  // fetch; off, the run's thread does it all (kept for measuring the overlap).
  bool bOverlapWriting = true;
  // The vehicle number, hexadecimal digits by the statement's construction, is fetched as
  // narrow text; on, every column is fetched wide (kept to compare the files of both paths).
  bool bWideFetch = false;
  // The export's write-back is started every few megabytes while writing, and both files and
  // the folder are synced before and after the renames that make them final; off only to
  // measure what that costs.
  bool bDurable = true;
};

// Runs one export on the worker's open connection. bQryThread is the worker's query flag: 1
// from the start until the statement's result has arrived, 0 on every way out.
// bBessel2WGS84 is read for every row (0: the WGS84 columns are written as zeros). cancel, when
// given, is looked at before the statement and at every row; a cancelled run counts as failed.
// Another thread may cancel the running statement (Database::CancelRunning) after raising the
// token: the run then fails cleanly.
ExportOutcome ExportLocationHistory(const ExportInputs& in, Database* db,
                                    std::atomic<std::int32_t>& bQryThread,
                                    const std::atomic<std::int32_t>& bBessel2WGS84,
                                    ExportWorkerState& state, const CancelToken* cancel,
                                    const ExportOptions& options = ExportOptions());

}  // namespace zelvik
