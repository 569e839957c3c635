#include "workers/worker_backend.h"

namespace zelvik {

const char* OutcomeName(WorkerOutcome outcome) {
  switch (outcome) {
    case WorkerOutcome::kNone: return "none";
    case WorkerOutcome::kGood: return "good";
    case WorkerOutcome::kFailed: return "failed";
    case WorkerOutcome::kInvalidDates: return "invalid dates";
    case WorkerOutcome::kRefusedArea: return "area text refused";
    case WorkerOutcome::kNoConnection: return "no connection";
    case WorkerOutcome::kStopped: return "stopped before its run";
    case WorkerOutcome::kAbandoned: return "left inside a database call at the stop";
  }
  return "unknown";
}

}  // namespace zelvik
