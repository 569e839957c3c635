#include "verify/verify.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "extract/car_summary.h"
#include "extract/export_plan.h"
#include "onoff/line_io.h"
#include "onoff/onoff_sum.h"
#include "publish/publish_repair.h"
#include "util/codepage.h"
#include "util/file_io.h"
#include "util/format.h"
#include "util/platform.h"
#include "util/split_fields.h"

namespace zelvik {
namespace {

// Large enough for any line an export or a summary holds; a longer one is a fault.
constexpr std::size_t kReadBuffer = std::size_t{1} << 20;

// A pair's base name (without folder and extension) and what it tells.
struct PairName {
  std::string base;
  bool range = false;
  std::string first, last;   // the days
  std::string area;          // range: the area code, empty for an area without a name
};

bool ParseBase(const std::string& base, PairName* pair) {
  ExportName name;
  if (!ParseExportBaseName(base, &name)) return false;
  *pair = PairName{base, name.range, name.first, name.last, name.area};
  return true;
}

std::string DayBase(const std::string& day) { return ExportBaseName(ExportInputs{1, day, "", ""}); }

// Collects what is wrong with a pair: the first line of each kind of fault and how many
// lines have it.
class Faults {
 public:
  void Line(const char* kind, std::int64_t line, std::string text) {
    Entry& e = entries_[kind];
    if (e.lines++ == 0) {
      e.order = order_++;
      e.text = Format("line %lld ", static_cast<long long>(line)) + text;
    }
  }
  void Add(std::string text) {
    Entry& e = entries_[text];
    if (e.lines++ == 0) {
      e.order = order_++;
      e.text = std::move(text);
    }
  }
  bool Empty() const { return entries_.empty(); }
  std::string Text(const std::string& file) const {
    std::vector<const Entry*> sorted(entries_.size());
    for (const auto& [kind, e] : entries_) sorted[static_cast<std::size_t>(e.order)] = &e;
    std::string out;
    for (const Entry* e : sorted) {
      if (!out.empty()) out += "; ";
      out += file + " " + e->text;
      if (e->lines > 1) out += Format(" (%lld lines)", static_cast<long long>(e->lines));
    }
    return out;
  }

 private:
  struct Entry {
    int order = 0;
    std::int64_t lines = 0;
    std::string text;
  };
  std::map<std::string, Entry> entries_;
  int order_ = 0;
};

// Hands out the whole lines of a file with their line numbers; fragments of an over-long
// line, a line without CR LF and a cut last line become faults.
class FileLines {
 public:
  FileLines(const std::string& path949, Faults& faults) : faults_(faults) {
    platform::FileIdentity unused;
    fd_ = platform::OpenRegularForRead(SysPath(path949.c_str()), &unused);
    if (fd_ >= 0) reader_ = std::make_unique<LineReader>(fd_, kReadBuffer);
  }
  ~FileLines() {
    if (fd_ >= 0) platform::CloseFd(fd_);
  }
  FileLines(const FileLines&) = delete;
  FileLines& operator=(const FileLines&) = delete;

  bool Opened() const { return fd_ >= 0; }
  // The next whole line; false at the end (or on a read error, added as a fault).
  bool Next(std::string_view* text) {
    LineReader::Piece piece;
    for (;;) {
      const LineReader::Result r = reader_->Next(piece);
      if (r == LineReader::Result::kEnd) return false;
      if (r == LineReader::Result::kError) {
        faults_.Add("cannot be read to its end");
        return false;
      }
      if (piece.lineStart) ++line_;
      if (!piece.lineEnd) {
        if (piece.lineStart) faults_.Line("long", line_, "is longer than any line it can hold");
        continue;
      }
      if (!piece.lineStart) continue;
      if (!piece.lineFeed) {
        // Not a line: the file ends inside it.
        faults_.Add("is cut: its last line has no line end");
        return false;
      }
      if (!piece.crlf) {
        faults_.Line("lf", line_, "ends in LF alone, not CR LF");
      }
      *text = std::string_view(piece.data, piece.size);
      return true;
    }
  }
  std::int64_t LineNo() const { return line_; }

 private:
  Faults& faults_;
  int fd_ = -1;
  std::unique_ptr<LineReader> reader_;
  std::int64_t line_ = 0;
};

struct SummaryLine {
  std::string carNo;
  std::int64_t records;
  std::int64_t line;
};

bool ParseCount(std::string_view text, std::int64_t* value) {
  if (text.empty() || text.size() > 10) return false;
  std::int64_t v = 0;
  std::size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = text[0] == '-' ? -v : v;
  return true;
}

// A summary line, read from the right: company names may hold commas. "<company>,<vehicle>,
// <date>,<records>,<changes>,<last code>".
bool ParseSummaryLine(std::string_view text, std::string* carNo, std::int64_t* records) {
  std::string_view fields[5];  // vehicle, date, records, changes, last code
  std::size_t end = text.size();
  for (int k = 4; k >= 0; --k) {
    const std::size_t comma = end == 0 ? std::string_view::npos : text.rfind(',', end - 1);
    if (comma == std::string_view::npos) return false;
    fields[k] = text.substr(comma + 1, end - comma - 1);
    end = comma;
  }
  std::int64_t changes = 0, last = 0;
  if (!ParseCount(fields[2], records) || *records < 1 || !ParseCount(fields[3], &changes) ||
      !ParseCount(fields[4], &last)) {
    return false;
  }
  carNo->assign(fields[0]);
  return true;
}

struct PairResult {
  std::string text;  // what is wrong, empty when whole
  std::int64_t rows = 0;
  std::int64_t vehicles = 0;
};

// The summary .log's lines in order, and the records they count.
struct Summary {
  std::vector<SummaryLine> lines;
  std::int64_t records = 0;
};

Summary ReadSummary(const std::string& path949, Faults& faults) {
  Summary summary;
  FileLines lines(path949, faults);
  if (!lines.Opened()) {
    faults.Add("cannot be read");
    return summary;
  }
  std::string_view text;
  if (!lines.Next(&text)) {
    faults.Add("is empty");
  } else if (text != VehicleSummary::HeaderLine()) {
    faults.Line("header", 1, "is not the summary's header line");
  }
  while (lines.Next(&text)) {
    SummaryLine s{"", 0, lines.LineNo()};
    if (!ParseSummaryLine(text, &s.carNo, &s.records)) {
      faults.Line("form", s.line, "is not a summary line");
      continue;
    }
    summary.records += s.records;
    summary.lines.push_back(std::move(s));
  }
  return summary;
}

bool IsSecondHeader(std::string_view text, const ExportPlan& plan, const PairName& pair) {
  if (!pair.range || !pair.area.empty()) return text == plan.strHeader2;
  // The area text of an area without a name cannot be derived from the file's name: only the
  // fixed parts around it are checked.
  const std::string open = Kr("#지역코드(");
  const std::string close = plan.strHeader2.substr(open.size() + 1);
  return text.size() > open.size() + close.size() && text.starts_with(open) &&
         text.ends_with(close) &&
         IsValidAreaText(text.substr(open.size(), text.size() - open.size() - close.size()));
}

void CheckExportHeaders(FileLines& lines, const ExportPlan& plan, const PairName& pair,
                        Faults& faults) {
  std::string_view text;
  if (!lines.Next(&text)) {
    faults.Add("is empty");
  } else if (text != plan.strHeader1) {
    faults.Line("header1", 1, "is not the export's first header line");
  }
  if (lines.Next(&text)) {
    if (!IsSecondHeader(text, plan, pair)) {
      faults.Line("header2", 2, "is not the export's second header line");
    }
  } else if (faults.Empty()) {
    faults.Add("has no second header line");
  }
}

// The summary's groups are the export's runs of equal vehicle-number fields, as the run formed
// them: a new group wherever the number differs from the row before, an empty number at the
// start joining the empty group the run begins with. Keeps the first group that does not match
// its summary line.
class GroupMatch {
 public:
  explicit GroupMatch(const std::vector<SummaryLine>& summary) : summary_(summary) {}

  // The next row, by its vehicle-number field and line number.
  void Row(std::string_view car, std::int64_t line) {
    if (car == car_) {
      ++rows_;
      return;
    }
    CloseGroup();
    car_.assign(car);
    rows_ = 1;
    line_ = line;
  }
  // After the last row.
  void Finish() {
    CloseGroup();
    if (mismatch_.empty() && next_ < summary_.size()) {
      mismatchAt_ = next_;
      mismatch_ = Format("summary line %lld (vehicle [%s]) and those after it have no rows",
                         static_cast<long long>(summary_[next_].line),
                         summary_[next_].carNo.c_str());
    }
  }
  std::size_t Groups() const { return next_; }
  // Empty when every group matched its summary line.
  const std::string& Mismatch() const { return mismatch_; }
  // Every group matched up to the last one.
  bool MismatchAtEnd() const { return mismatchAt_ + 1 >= next_; }

 private:
  void CloseGroup() {
    if (rows_ == 0) return;
    const std::size_t k = next_++;
    if (!mismatch_.empty()) return;
    mismatchAt_ = k;
    if (k >= summary_.size()) {
      mismatch_ = Format("rows from line %lld (vehicle [%s], %lld rows) have no summary line",
                         static_cast<long long>(line_), car_.c_str(),
                         static_cast<long long>(rows_));
    } else if (summary_[k].carNo != car_ || summary_[k].records != rows_) {
      mismatch_ = Format("summary line %lld (vehicle [%s], %lld records) does not match the "
                         "rows from line %lld (vehicle [%s], %lld rows)",
                         static_cast<long long>(summary_[k].line), summary_[k].carNo.c_str(),
                         static_cast<long long>(summary_[k].records),
                         static_cast<long long>(line_), car_.c_str(),
                         static_cast<long long>(rows_));
    }
  }

  const std::vector<SummaryLine>& summary_;
  std::string car_;
  std::int64_t rows_ = 0, line_ = 0;
  std::size_t next_ = 0;  // the summary line the next group must match
  std::string mismatch_;
  std::size_t mismatchAt_ = 0;
};

// The export's rows after its headers, each checked for its fields and matched against the
// summary; the number of rows.
std::int64_t CheckRows(FileLines& lines, GroupMatch& match, Faults& faults) {
  std::int64_t rows = 0;
  FieldSlot fields[kFieldSlotCount];
  std::string_view text;
  while (lines.Next(&text)) {
    ++rows;
    const int n =
        SplitFields(fields, text.data(), static_cast<int>(text.size()), kOnOffSplitLimit, ',');
    if (n < kOnOffMinFields) {
      faults.Line("fields", lines.LineNo(),
                  Format("has %d fields, fewer than %d", n, kOnOffMinFields));
    }
    match.Row(text.substr(0, text.find(',')), lines.LineNo());
  }
  match.Finish();
  return rows;
}

// The export .dat against its plan and its summary (judged against the summary only when the
// summary itself is whole).
void CheckExport(const std::string& path949, const ExportPlan& plan, const PairName& pair,
                 const Summary& summary, bool summaryWhole, Faults& faults, PairResult* result) {
  FileLines lines(path949, faults);
  if (!lines.Opened()) {
    faults.Add("cannot be read");
    return;
  }
  CheckExportHeaders(lines, plan, pair, faults);
  GroupMatch match(summary.lines);
  result->rows = CheckRows(lines, match, faults);
  result->vehicles = static_cast<std::int64_t>(match.Groups());
  if (match.Mismatch().empty() || !summaryWhole) return;
  // Fewer rows than the summary counts, all of them matching up to the last vehicle: the
  // export ends early, at a line end.
  if (result->rows < summary.records && match.MismatchAtEnd()) {
    faults.Add(Format("is short: %lld rows, its summary counts %lld",
                      static_cast<long long>(result->rows),
                      static_cast<long long>(summary.records)));
  } else {
    faults.Add("does not match its summary: " + match.Mismatch());
  }
}

// Reads the summary into lines, then the export against them.
PairResult CheckPair(const std::string& folder949, const PairName& pair) {
  PairResult result;
  ExportPlan plan;
  std::string refused;
  const ExportInputs inputs = pair.range ? ExportInputs{2, pair.first, pair.last,
                                                        pair.area.empty() ? "0" : pair.area}
                                         : ExportInputs{1, pair.first, "", ""};
  if (PlanExport(inputs, folder949.c_str(), plan, refused) != PlanResult::kOk) {
    result.text = "not a name the export makes here: " + refused;
    return result;
  }
  Faults sumFaults;
  const Summary summary =
      ReadSummary(folder949 + "/" + pair.base + kSummaryExtension, sumFaults);
  Faults datFaults;
  CheckExport(folder949 + "/" + pair.base + kExportExtension, plan, pair, summary,
              sumFaults.Empty(), datFaults, &result);
  std::string text = datFaults.Text(".dat");
  if (!sumFaults.Empty()) text += (text.empty() ? "" : "; ") + sumFaults.Text(".log");
  result.text = text;
  return result;
}

std::string DayText(std::chrono::sys_days d) {
  const std::chrono::year_month_day ymd(d);
  return Format("%04d%02u%02u", static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                static_cast<unsigned>(ymd.day()));
}

std::chrono::sys_days DayOf(const std::string& day) {
  return std::chrono::year_month_day(
      std::chrono::year(std::stoi(day.substr(0, 4))),
      std::chrono::month(static_cast<unsigned>(std::stoi(day.substr(4, 2)))),
      std::chrono::day(static_cast<unsigned>(std::stoi(day.substr(6, 2)))));
}

// The pairs found, by base name: which of the two files are there.
struct FoundPair {
  PairName pair;
  bool dat = false, log = false;
};
using FoundPairs = std::map<std::string, FoundPair>;

// The export pairs among a folder's entries; other entries are passed over.
FoundPairs PairsAmong(const std::vector<platform::DirEntry>& entries) {
  FoundPairs found;
  for (const platform::DirEntry& entry : entries) {
    if (entry.isDir) continue;
    const std::string name = Utf8ToCp949(entry.name);
    if (name.size() < 4) continue;
    const std::string ext = name.substr(name.size() - 4);
    if (ext != kExportExtension && ext != kSummaryExtension) continue;
    PairName pair;
    if (!ParseBase(name.substr(0, name.size() - 4), &pair)) continue;
    FoundPair& f = found[pair.base];
    f.pair = pair;
    (ext == kExportExtension ? f.dat : f.log) = true;
  }
  return found;
}

// Gives each pair its line and counts it.
struct PairJudge {
  const std::string& folder949;
  const std::function<void(const std::string&)>& out;
  VerifyCounts& counts;

  void operator()(const std::string& label, const PairName& pair, bool dat, bool log) {
    ++counts.checked;
    const std::string datPath = folder949 + "/" + pair.base + kExportExtension;
    const std::string logPath = folder949 + "/" + pair.base + kSummaryExtension;
    if (OutputInProgress(datPath) || OutputInProgress(logPath)) {
      ++counts.inProgress;
      out(label + ": in progress");
    } else if (!dat && !log) {
      ++counts.missing;
      out(label + ": missing");
    } else if (!dat || !log) {
      ++counts.damaged;
      out(label + (dat ? ": its summary .log is missing" : ": its export .dat is missing"));
    } else {
      const PairResult r = CheckPair(folder949, pair);
      if (r.text.empty()) {
        ++counts.whole;
        out(label + Format(": whole, %lld rows of %lld vehicles",
                            static_cast<long long>(r.rows), static_cast<long long>(r.vehicles)));
      } else {
        ++counts.damaged;
        out(label + ": " + r.text);
      }
    }
  }
};

// Every day from..to, found or not, then the range exports that lie within them.
void JudgeDays(const FoundPairs& found, const std::string& from, const std::string& to,
               PairJudge& judge) {
  for (std::chrono::sys_days d = DayOf(from); d <= DayOf(to); d += std::chrono::days(1)) {
    const std::string day = DayText(d);
    PairName pair{DayBase(day), false, day, day, ""};
    const auto it = found.find(pair.base);
    judge(pair.base, pair, it != found.end() && it->second.dat,
          it != found.end() && it->second.log);
  }
  for (const auto& [base, f] : found) {
    if (f.pair.range && f.pair.first >= from && f.pair.last <= to) {
      judge(base, f.pair, f.dat, f.log);
    }
  }
}

}  // namespace

VerifyCounts VerifyExports(const std::string& folder949, const std::string& from,
                           const std::string& to,
                           const std::function<void(const std::string&)>& out) {
  VerifyCounts counts;
  std::vector<platform::DirEntry> entries;
  // The root is stored as the empty text (names are "<folder>/<name>").
  const std::string listed = folder949.empty() ? "/" : folder949;
  if (!platform::ListDir(SysPath(listed.c_str()), &entries)) {
    out("folder cannot be read[" + listed + "]");
    ++counts.checked;
    ++counts.damaged;
    return counts;
  }
  const FoundPairs found = PairsAmong(entries);
  PairJudge judge{folder949, out, counts};
  if (from.empty()) {
    for (const auto& [base, f] : found) judge(base, f.pair, f.dat, f.log);
  } else {
    JudgeDays(found, from, to, judge);
  }

  for (const std::string& line : DescribeRepair(folder949)) {
    ++counts.leftovers;
    out("the next start's repair would log: " + line);
  }
  out(Format("verify: %d checked: %d whole, %d missing, %d damaged, %d in progress; %d left by "
             "ended runs",
             counts.checked, counts.whole, counts.missing, counts.damaged, counts.inProgress,
             counts.leftovers));
  return counts;
}

}  // namespace zelvik
