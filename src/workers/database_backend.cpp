#include "workers/database_backend.h"

#include "db/company_names.h"
#include "db/odbc.h"
#include "extract/export_run.h"
#include "onoff/onoff_sum.h"

namespace zelvik {
namespace {

WorkerOutcome FromExport(ExportOutcome outcome) {
  switch (outcome) {
    case ExportOutcome::kGood: return WorkerOutcome::kGood;
    case ExportOutcome::kRefused: return WorkerOutcome::kRefusedArea;
    case ExportOutcome::kFailed: break;
  }
  return WorkerOutcome::kFailed;
}

class DatabaseSession final : public WorkerSession {
 public:
  explicit DatabaseSession(int worker) : worker_(worker) {}

  void Close() override { db_.Close(); }
  bool Open(const std::string& connect) override { return OpenDB(&db_, connect.c_str()) == 1; }
  void CancelRunning() override { db_.CancelRunning(); }

  WorkerOutcome DayRun(const std::string& day, const RunContext& run) override {
    ExportInputs in;
    in.nWorker = worker_;
    in.strDay = day;
    return FromExport(ExportLocationHistory(in, &db_, run.queryFlag, run.bessel2wgs84, state_,
                                            run.cancel));
  }

  WorkerOutcome RangeRun(const std::string& area, const std::string& firstDay,
                         const std::string& lastDay, const RunContext& run) override {
    ExportInputs in;
    in.nWorker = worker_;
    in.strDay = firstDay;
    in.strEndDay = lastDay;
    in.strArea = area;
    return FromExport(ExportLocationHistory(in, &db_, run.queryFlag, run.bessel2wgs84, state_,
                                            run.cancel));
  }

 private:
  const int worker_;
  Database db_;
  ExportWorkerState state_{};  // the last company looked up and the periodic row count
};

class DatabaseBackend final : public WorkerBackend {
 public:
  std::unique_ptr<WorkerSession> NewSession(int worker) override {
    return std::make_unique<DatabaseSession>(worker);
  }
  WorkerOutcome CleanUp(const std::string& folder, const CancelToken* cancel) override {
    OnOffSumResult result = ProcOnOffSum(folder.c_str(), cancel);
    return result.Failed() ? WorkerOutcome::kFailed : WorkerOutcome::kGood;
  }
  void LoadCompanyNames() override { LoadMemoryCOM_NM(); }
};

}  // namespace

std::unique_ptr<WorkerBackend> MakeDatabaseBackend() {
  return std::make_unique<DatabaseBackend>();
}

}  // namespace zelvik
