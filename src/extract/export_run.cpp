#include "extract/export_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "db/company_names.h"
#include "db/odbc.h"
#include "db/raw_text.h"
#include "extract/export_writer.h"
#include "publish/run_output.h"
#include "log/run_log.h"
#include "util/clock.h"
#include "util/codepage.h"
#include "util/file_io.h"
#include "util/format.h"
#include "util/platform.h"
#include "util/process_state.h"

namespace zelvik {
namespace {

constexpr std::int32_t kPeriodicRows = 10000;
// Cut values are logged one by one up to this many per run, then only counted.
constexpr int kCutLinesLogged = 10;
// Decoding room for a vehicle number: larger than its column, so that a cut is noticed.
constexpr std::size_t kDecodeBytes = 1024;

// The stream writing one of the run's temporary files. Keeps its first write error, so that a
// full disk fails the run instead of leaving a short file that looks complete.
class TempFileStream {
 public:
  TempFileStream(RunOutput& output, RunOutput::File which)
      : output_(output), which_(which), path_(output.TempPath(which)) {}
  ~TempFileStream() { Close(); }
  TempFileStream(const TempFileStream&) = delete;
  TempFileStream& operator=(const TempFileStream&) = delete;

  // Creates the temporary file, owned by the run's output, and a stream writing it.
  bool Open() {
    fd_ = output_.CreateTemp(which_);
    if (fd_ < 0) return false;
    created_ = true;
    file_ = fdopen(fd_, "wb");
    if (file_ == nullptr) {
      platform::CloseFd(fd_);
      fd_ = -1;
      Fail(errno);
    }
    return file_ != nullptr;
  }
  std::FILE* Stream() { return file_; }
  // The descriptor the stream writes through (for starting its write-back), -1 if none.
  int Fd() const { return file_ != nullptr ? fd_ : -1; }
  bool Created() const { return created_; }
  const char* Path() const { return path_; }
  int Error() const { return error_; }

  bool Line(const std::string& text) {
    if (error_ == 0 && (std::fwrite(text.data(), 1, text.size(), file_) != text.size() ||
                        std::fwrite("\r\n", 1, 2, file_) != 2)) {
      Fail(errno);
    }
    return error_ == 0;
  }
  // Takes up an error met by another writer of the stream.
  bool Check(int error = 0) {
    if (error != 0) Fail(error);
    if (error_ == 0 && file_ != nullptr && std::ferror(file_)) Fail(errno);
    return error_ == 0;
  }
  // Flushes and closes; false when anything written did not reach the file.
  bool Close() {
    if (file_ == nullptr) return error_ == 0;
    Check();
    if (std::fclose(file_) != 0) Fail(errno);
    file_ = nullptr;
    fd_ = -1;
    return error_ == 0;
  }

 private:
  void Fail(int error) {
    if (error_ == 0) error_ = error != 0 ? error : EIO;
  }

  RunOutput& output_;
  const RunOutput::File which_;
  const char* path_;
  std::FILE* file_ = nullptr;
  int fd_ = -1;
  bool created_ = false;
  int error_ = 0;
};

// Sets the query flag for the life of the run and clears it on every way out.
class QueryFlag {
 public:
  explicit QueryFlag(std::atomic<std::int32_t>& flag) : flag_(flag) { flag_.store(1); }
  ~QueryFlag() { Clear(); }
  QueryFlag(const QueryFlag&) = delete;
  QueryFlag& operator=(const QueryFlag&) = delete;
  void Clear() { flag_.store(0); }

 private:
  std::atomic<std::int32_t>& flag_;
};

int Seconds(std::time_t from, std::time_t to) { return static_cast<int>(to - from); }

class ExportRun {
 public:
  ExportRun(const ExportPlan& plan, Database* db, std::atomic<std::int32_t>& bQryThread,
            const std::atomic<std::int32_t>& bBessel2WGS84, ExportWorkerState& state,
            const CancelToken* cancel, const ExportOptions& options)
      : plan_(plan),
        label_(plan.szLabel),
        pane_(plan.nWorker),
        db_(db),
        flag_(bQryThread),
        bessel_(bBessel2WGS84),
        state_(state),
        cancel_(cancel),
        options_(options),
        output_(plan.szExportPath, plan.szSummaryPath, plan.nWorker, plan.szLabel, plan.nWorker,
                options.bDurable),
        dat_(output_, RunOutput::kExport),
        log_(output_, RunOutput::kSummary),
        summary_(state.lastCompany, [db, cancel](const char* coid, char* name) {
          GetCO_NM(db, coid, name, cancel);
        }) {
    strRawCache_.reserve(256);
  }

  ExportOutcome Run();

 private:
  void Log(const std::string& text) { WriteLog(text, pane_); }
  bool Cancelled() const { return cancel_ != nullptr && cancel_->IsCancelled(); }
  void Query();
  void OpenStatement(Recordset& rs);
  void WriteRows(Recordset& rs, int nColumns);
  void FetchRow(const Recordset& rs, int nColumns, ExportRowSlot& slot);
  bool SummaryStep(const ExportRowSlot& slot);
  void LogWriteError(const TempFileStream& file) {
    Log(Format("%s write error[%s][%s]", label_, file.Path(),
               platform::ErrorText(file.Error()).c_str()));
  }
  ExportOutcome Finish(bool failed);

  const ExportPlan& plan_;
  const char* label_;
  const int pane_;
  Database* db_;
  QueryFlag flag_;
  const std::atomic<std::int32_t>& bessel_;
  ExportWorkerState& state_;
  const CancelToken* cancel_;
  const ExportOptions options_;
  RunOutput output_;
  TempFileStream dat_;
  TempFileStream log_;
  VehicleSummary summary_;
  std::time_t t0_ = 0;
  std::int32_t ncnt_ = 0;
  int nCut_ = 0;
  bool failed_ = false;
  // The vehicle-number cache: the last raw number decoded and its decoded text.
  std::string strRawCache_;
  char szCarCache_[kCarNoBytes] = {};
  std::size_t nCarLen_ = 0;
  char szDecode_[kDecodeBytes] = {};
};

ExportOutcome ExportRun::Run() {
  output_.RemoveLeftovers();
  if (!dat_.Open()) {
    Log(Format("fopen error[%s]", dat_.Path()));
    return Finish(true);
  }
  if (!dat_.Line(plan_.strHeader1) || !dat_.Line(plan_.strHeader2)) {
    LogWriteError(dat_);
    return Finish(true);
  }
  if (!log_.Open()) {
    Log(Format("fopen error[%s]", log_.Path()));
    return Finish(true);
  }
  if (!log_.Line(VehicleSummary::HeaderLine())) {
    LogWriteError(log_);
    return Finish(true);
  }
  summary_.Reset(plan_.strSummaryDate);
  t0_ = GetClock().Now();
  ncnt_ = 0;
  Log(plan_.szStatement);
  if (!Cancelled()) Query();
  // A cancel request ends the run before its statement or at its next row, or fails the
  // statement under it; either way the run has failed.
  if (Cancelled()) {
    Log(Format("%s cancelled at ncnt[%d]", label_, ncnt_));
    failed_ = true;
  }
  flag_.Clear();
  Log(Format("%s ncnt[%d] elapsed[%d]sec", label_, ncnt_, Seconds(t0_, GetClock().Now())));
  Log(summary_.CountersLine(label_));
  if (nCut_ > 0) {
    Log(Format("%s cut[%d] values longer than their columns", label_, nCut_));
  }
  return Finish(failed_);
}

void ExportRun::Query() {
  try {
    if (db_ == nullptr || !db_->IsOpen()) throw DbError("connection not open");
    Recordset rs(db_);
    OpenStatement(rs);
    const int nColumns = rs.GetODBCFieldCount();
    if (nColumns >= 2 && rs.GetRecordCount() > 0) WriteRows(rs, nColumns);
    rs.Close();
    if (!failed_ && !Cancelled() && !summary_.Final(log_.Stream())) {
      log_.Check(errno);
      LogWriteError(log_);
      failed_ = true;
    }
  } catch (const std::exception& e) {  // a DbError's text is the driver's
    Log(Format("%s Error: open recordset or GetRecordCount[%s][%s]", label_, plan_.szStatement,
               e.what()));
    failed_ = true;
  }
}

// Sends the statement; its result has arrived when this returns, and the query flag is down.
void ExportRun::OpenStatement(Recordset& rs) {
  // Column 0 is CONCAT(UTL_RAW.CAST_TO_RAW(car_no), '00000000'): hexadecimal digits.
  FetchOptions fetch;
  if (!options_.bWideFetch) fetch.asciiColumns = 1u << 0;
  rs.Open(plan_.szStatement, fetch);
  flag_.Clear();
  Log(Format("%s query result elapsed[%d]sec", label_, Seconds(t0_, GetClock().Now())));
}

// Every row into the export (through its writer) and the summary, until the end, a write
// error or the cancel request.
void ExportRun::WriteRows(Recordset& rs, int nColumns) {
  // The writer owns the export file's stream from here until it has finished.
  ExportFileWriter writer(dat_.Stream(), bessel_, options_.bOverlapWriting,
                          options_.bDurable ? dat_.Fd() : -1);
  strRawCache_.clear();
  while (!rs.IsEOF() && !Cancelled()) {
    ExportRowSlot& slot = writer.Next();
    FetchRow(rs, nColumns, slot);
    if (!SummaryStep(slot)) {
      failed_ = true;
      break;
    }
    if (!writer.Commit()) {
      dat_.Check(writer.Error());
      LogWriteError(dat_);
      failed_ = true;
      break;
    }
    // A cancel request may have cancelled the statement too: no further fetch.
    if (Cancelled()) break;
    rs.MoveNext();
  }
  if (!failed_ && !Cancelled() && !writer.Finish()) {
    dat_.Check(writer.Error());
    LogWriteError(dat_);
    failed_ = true;
  }
}

// Copies the current row into the slot, each value cut to its 64-byte column; the vehicle
// number is decoded once per run of equal raw numbers.
void ExportRun::FetchRow(const Recordset& rs, int nColumns, ExportRowSlot& slot) {
  for (int i = 1; i < kExportColumns; ++i) {
    const std::string_view value = i < nColumns ? rs.FieldView(i) : std::string_view();
    std::size_t n = value.size();
    if (n > kColumnBytes - 1) {
      n = Cp949CutLength(value, kColumnBytes - 1);
      if (nCut_++ < kCutLinesLogged) {
        std::string shown(value);
        ControlBytesToSpaces(shown.data(), shown.size());
        Log(Format("%s ncnt[%d] column[%d] longer than %zu bytes, cut[%s]", label_, ncnt_ + 1, i,
                   kColumnBytes - 1, shown.c_str()));
      }
    }
    if (n > 0) std::memcpy(slot.szCol[i], value.data(), n);
    // Every value is written into one line of the export, the summary and the run log: a
    // control byte anywhere in it, a zero byte included, becomes a space. (The fetched text is
    // asked, not the copy just stored, which a wide read right after would have to wait for.)
    if (HasControlBytes(value.substr(0, n))) ControlBytesToSpaces(slot.szCol[i], n);
    slot.szCol[i][n] = '\0';
    slot.nLen[i] = static_cast<std::uint8_t>(n);
  }

  const std::string_view raw = rs.FieldView(0);
  if (strRawCache_.empty() || raw != strRawCache_) {
    strRawCache_.assign(raw);
    std::memset(szDecode_, 0, sizeof(szDecode_));
    DecodeRawText(szDecode_, sizeof(szDecode_), raw);
    // The decoded number, its terminator and one further zero fit the 64-byte column.
    if (!CopyCut(szCarCache_, kCarNoBytes - 1, szDecode_) && nCut_++ < kCutLinesLogged) {
      Log(Format("%s ncnt[%d] vehicle number longer than %zu bytes, cut[%s]", label_,
                 ncnt_ + 1, kCarNoBytes - 2, szDecode_));
    }
    nCarLen_ = std::strlen(szCarCache_);
  }
  std::memcpy(slot.szCol[0], szCarCache_, nCarLen_ + 1);
  slot.nLen[0] = static_cast<std::uint8_t>(nCarLen_);
}

// The row counters, the periodic row line and the per-vehicle summary; false on a write error
// of the summary file.
bool ExportRun::SummaryStep(const ExportRowSlot& slot) {
  const auto& c = slot.szCol;
  ++ncnt_;
  if (++state_.nPeriodic >= kPeriodicRows) {
    Log(Format("%s ncnt[%010d] %s,%s,%s,%s,%s,%s,%s,%s,%s", label_, ncnt_, c[0], c[1], c[2],
               c[3], c[4], c[5], c[6], c[7], c[8]));
    state_.nPeriodic = 0;
  }
  if (!summary_.Step(log_.Stream(), c[0], c[6], c[7])) {
    log_.Check(errno);
    LogWriteError(log_);
    return false;
  }
  return true;
}

ExportOutcome ExportRun::Finish(bool failed) {
  for (TempFileStream* file : {&dat_, &log_}) {
    if (file->Created() && !file->Close() && !failed) {
      LogWriteError(*file);
      failed = true;
    }
  }
  // Only now do the files get their final names: no partial day ever carries them.
  if (!failed && output_.Publish()) return ExportOutcome::kGood;
  output_.Discard();
  return ExportOutcome::kFailed;
}

}  // namespace

ExportOutcome ExportLocationHistory(const ExportInputs& in, Database* db,
                                    std::atomic<std::int32_t>& bQryThread,
                                    const std::atomic<std::int32_t>& bBessel2WGS84,
                                    ExportWorkerState& state, const CancelToken* cancel,
                                    const ExportOptions& options) {
  auto plan = std::make_unique<ExportPlan>();
  std::string line;
  if (PlanExport(in, g_szExeDir, *plan, line) != PlanResult::kOk) {
    bQryThread.store(0);
    WriteLog(line, in.nWorker >= 1 && in.nWorker <= 4 ? in.nWorker : 1);
    return ExportOutcome::kRefused;
  }
  auto run =
      std::make_unique<ExportRun>(*plan, db, bQryThread, bBessel2WGS84, state, cancel, options);
  return run->Run();
}

}  // namespace zelvik
