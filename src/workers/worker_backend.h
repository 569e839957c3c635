#pragma once
// What a worker does when its moment has come, kept apart from when it does it: opening and
// closing its database connection, an export run of one day or a range of days, and the
// occupancy clean-up of a folder. The workers' scheduling (waits, gate, stop checks, slots)
// only talks to this interface; the real implementation drives the database and the export,
// tests drive fakes.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "util/clock.h"

namespace zelvik {

// How an export run, a clean-up or a whole worker ended.
enum class WorkerOutcome : std::int32_t {
  kNone = 0,       // nothing to report yet (not started, or still before its first run)
  kGood,           // every run (or the clean-up) went through
  kFailed,         // a run failed or was cut off; its files were removed
  kInvalidDates,   // the date fields did not form a valid day or range
  kRefusedArea,    // the area text was refused; no statement was sent
  kNoConnection,   // the worker ended without a database connection
  kStopped,        // the worker was stopped before it had run
  kAbandoned,      // still inside a database call after its forced end: left behind at a stop
};

// Text for reports ("good", "failed", "invalid dates", ...).
const char* OutcomeName(WorkerOutcome outcome);

// The shared values an export run reads or writes while it runs.
struct RunContext {
  // The worker's query flag: the run sets it when it starts and clears it once the statement's
  // result has arrived (or the run ends early).
  std::atomic<std::int32_t>& queryFlag;
  // The conversion switch, read for every row.
  const std::atomic<std::int32_t>& bessel2wgs84;
  // Raised by a forced end: the run stops at its next row and counts as failed.
  const CancelToken* cancel;
};

// One worker's private side: its database connection and the memory an export keeps for the
// life of the worker (the last company looked up, the pace of the periodic row line). Made
// when the worker starts, destroyed when it ends.
class WorkerSession {
 public:
  virtual ~WorkerSession() = default;
  // Closes the connection; closing a closed one is harmless.
  virtual void Close() = 0;
  // Opens the connection with the connect text (code page 949). True when open; a failure
  // has been logged (password masked).
  virtual bool Open(const std::string& connect) = 0;
  // Cancels the statement running on the connection. Called from another thread while the
  // worker may be inside any of the calls above or below.
  virtual void CancelRunning() = 0;
  // The day run of worker 1: areas "00001" and "00003", one day (YYYYMMDD).
  virtual WorkerOutcome DayRun(const std::string& day, const RunContext& run) = 0;
  // The range run of workers 2 to 4 for the area text and the days (YYYYMMDD).
  virtual WorkerOutcome RangeRun(const std::string& area, const std::string& firstDay,
                                 const std::string& lastDay, const RunContext& run) = 0;
};

class WorkerBackend {
 public:
  virtual ~WorkerBackend() = default;
  // A fresh session for worker 1 to 4, its connection closed.
  virtual std::unique_ptr<WorkerSession> NewSession(int worker) = 0;
  // The occupancy clean-up of a folder (text as the path field holds it); kGood or kFailed.
  virtual WorkerOutcome CleanUp(const std::string& folder, const CancelToken* cancel) = 0;
  // Loads the company-name cache file, as the window does once before any worker starts.
  virtual void LoadCompanyNames() = 0;
};

}  // namespace zelvik
