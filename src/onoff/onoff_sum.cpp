#include "onoff/onoff_sum.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "geo/datum.h"
#include "log/run_log.h"
#include "util/fixed6.h"
#include "onoff/line_io.h"
#include "publish/publish_repair.h"
#include "publish/run_output.h"
#include "util/codepage.h"
#include "util/file_io.h"
#include "util/format.h"
#include "util/number_parse.h"
#include "util/path_limit.h"
#include "util/platform.h"
#include "util/split_fields.h"

namespace zelvik {
namespace {

constexpr int kLogNo = 1;
constexpr std::size_t kIoBufferSize = std::size_t{1} << 18;
constexpr int kSplitLimit = kOnOffSplitLimit;
constexpr int kMinFields = kOnOffMinFields;
constexpr int kProgressEvery = 10000;
// The longest row: fields 0 to 8 at their slot's 127 bytes, the two coordinate texts, the
// commas. It fits the line buffer, so the progress line can always show it whole.
constexpr std::size_t kRowMax = 9 * (kFieldSlotSize - 1) + 2 * (kFixed6Size - 1) + 10;
static_assert(kRowMax <= static_cast<std::size_t>(kOnOffLineMax));

// A valid data line: its slots as SplitFields left them, the lengths of fields 0 to 8, the
// recomputed WGS84 texts that take the place of fields 9 and 10, and its code value.
struct DataLine {
  FieldSlot f[kFieldSlotCount] = {};
  int len[9] = {};
  char lon[kFixed6Size] = {};
  char lat[kFixed6Size] = {};
  int lonLen = 0;
  int latLen = 0;
  int code = 0;

  // A line with code 1 or 2 waits for the next line of the file to decide its code.
  bool Held() const { return code == 1 || code == 2; }
  bool SameField(const DataLine& o, int i) const {
    return len[i] == o.len[i] && std::memcmp(f[i], o.f[i], static_cast<size_t>(len[i])) == 0;
  }
};

// Takes the lengths of fields 0 to 8 and tells whether fields 0 to 10 are all non-empty.
// A field ended by a comma keeps at most 127 bytes of its slot; where a longer field was cut,
// the cut is moved back to a character boundary so that no half character is written.
bool MeasureFields(DataLine& line, const char* text, std::size_t size) {
  std::size_t pos = 0;  // where field i starts in the text
  for (int i = 0; i < 9; ++i) {
    std::size_t n = ::strnlen(line.f[i], kFieldSlotSize);
    if (n == 0) return false;
    std::size_t raw = n;
    if (n == kFieldSlotSize - 1) {
      const char* start = text + pos;
      const void* comma = std::memchr(start + n, ',', size - pos - n);
      raw = comma != nullptr ? static_cast<std::size_t>(static_cast<const char*>(comma) - start)
                             : size - pos;
      if (raw > n) {
        n = Cp949CutLength(std::string_view(start, raw), n);
        line.f[i][n] = '\0';
      }
    }
    line.len[i] = static_cast<int>(n);
    pos += raw + 1;
  }
  return line.f[9][0] != '\0' && line.f[10][0] != '\0';
}

class FileConverter {
 public:
  FileConverter(int in, int out, const CancelToken* cancel)
      : reader_(in, kIoBufferSize), writer_(out, kIoBufferSize), cancel_(cancel) {}

  enum class Outcome { kDone, kReadError, kWriteError, kCancelled };
  Outcome Run();
  std::int64_t Count() const { return ncnt_; }

 private:
  enum class Mode { kLineStart, kCopyingComment, kSkipping };

  void DataLineRead(const char* text, std::size_t size);
  void WriteRow(const DataLine& line, char firstCodeChar);

  LineReader reader_;
  OutputFile writer_;
  const CancelToken* cancel_;
  DataLine lines_[2];
  DataLine* cur_ = &lines_[0];
  DataLine* prev_ = &lines_[1];
  bool hasPrev_ = false;
  std::int64_t ncnt_ = 0;
  int progress_ = 0;
  // The last row formatted (without its line end); rowLen_ is 0 until a row of the current
  // line has been formatted.
  char row_[kRowMax + 2] = {};
  std::size_t rowLen_ = 0;
};

FileConverter::Outcome FileConverter::Run() {
  Mode mode = Mode::kLineStart;
  LineReader::Piece piece;
  for (;;) {
    const LineReader::Result r = reader_.Next(piece);
    if (r == LineReader::Result::kEnd) break;
    if (r == LineReader::Result::kError) return Outcome::kReadError;
    if (cancel_ != nullptr && cancel_->IsCancelled()) return Outcome::kCancelled;

    if (!piece.lineStart) {
      // The rest of a line longer than the read buffer.
      if (mode == Mode::kCopyingComment) {
        writer_.Append(piece.data, piece.size);
        if (piece.lineEnd) writer_.Append("\r\n", 2);
      }
      if (piece.lineEnd) mode = Mode::kLineStart;
    } else if (piece.size > 0 && piece.data[0] == '#') {
      // Comment lines are copied as they are, whatever their length or content.
      writer_.Append(piece.data, piece.size);
      if (piece.lineEnd) {
        writer_.Append("\r\n", 2);
      } else {
        mode = Mode::kCopyingComment;
      }
    } else if (!piece.lineEnd) {
      mode = Mode::kSkipping;  // a data line far beyond the line limit: dropped
    } else {
      DataLineRead(piece.data, piece.size);
    }
    if (writer_.Failed()) return Outcome::kWriteError;
  }
  // The last held line has no successor that could change its code.
  if (hasPrev_ && prev_->Held()) WriteRow(*prev_, 0);
  if (!writer_.Flush()) return Outcome::kWriteError;
  return Outcome::kDone;
}

void FileConverter::DataLineRead(const char* text, std::size_t size) {
  // Lines that cannot come from an export are dropped like any malformed line: longer than
  // the line limit, or holding a NUL byte (which would cut the fields as texts).
  if (size > static_cast<std::size_t>(kOnOffLineMax) || std::memchr(text, '\0', size) != nullptr) {
    return;
  }
  DataLine& cur = *cur_;
  const int n = SplitFields(cur.f, text, static_cast<int>(size), kSplitLimit, ',');
  if (n < kMinFields || !MeasureFields(cur, text, size)) return;

  double lon = 0, lat = 0;
  BesselToWgs84(ParsePosition(cur.f[4]), ParsePosition(cur.f[5]), lon, lat);
  cur.lonLen = FormatFixed6(lon, cur.lon);
  cur.latLen = FormatFixed6(lat, cur.lat);
  cur.code = ParseLong32(cur.f[6]);

  rowLen_ = 0;
  if (!hasPrev_) {
    if (!cur.Held()) WriteRow(cur, 0);
  } else if (cur.SameField(*prev_, 0) && cur.SameField(*prev_, 6)) {
    // Same vehicle, same code text: a held predecessor is not the last of its run.
    if (cur.Held()) {
      WriteRow(*prev_, cur.code == 1 ? '0' : '3');
    } else {
      WriteRow(cur, 0);
    }
  } else {
    if (prev_->Held()) WriteRow(*prev_, 0);
    if (!cur.Held()) WriteRow(cur, 0);
  }
  std::swap(cur_, prev_);
  hasPrev_ = true;

  ++ncnt_;
  if (++progress_ == kProgressEvery) {
    progress_ = 0;
    // The sign of life: the row just formatted, or the line itself when it is being held.
    char szlog[kOnOffLineMax + 1];
    const char* src = rowLen_ > 0 ? row_ : text;
    const std::size_t len = rowLen_ > 0 ? rowLen_ : size;
    std::memcpy(szlog, src, len);
    szlog[len] = '\0';
    WriteLog(szlog, kLogNo);
  }
}

void FileConverter::WriteRow(const DataLine& line, char firstCodeChar) {
  char* p = row_;
  for (int i = 0; i < 9; ++i) {
    std::memcpy(p, line.f[i], static_cast<size_t>(line.len[i]));
    if (i == 6 && firstCodeChar != 0) *p = firstCodeChar;
    p += line.len[i];
    *p++ = ',';
  }
  std::memcpy(p, line.lon, static_cast<size_t>(line.lonLen));
  p += line.lonLen;
  *p++ = ',';
  std::memcpy(p, line.lat, static_cast<size_t>(line.latLen));
  p += line.latLen;
  rowLen_ = static_cast<std::size_t>(p - row_);
  *p++ = '\r';
  *p++ = '\n';
  writer_.Append(row_, rowLen_ + 2);
}

FileOnOffResult::Status Convert(const char* inPath, const char* outPath, const std::string& in949,
                                const std::string& out949, const CancelToken* cancel,
                                std::int64_t& ncnt) {
  // Only regular files, opened without blocking (a FIFO or device named .dat must not stall
  // the run). The copy is written under a temporary name and renamed over the output only
  // when complete, and never when the output's name is the input itself (reached through a
  // link), which the rename would replace.
  platform::FileIdentity inIdentity;
  const int in = platform::OpenRegularForRead(inPath, &inIdentity);
  if (in < 0) {
    WriteLog(Format("fopen error[%s]", in949.c_str()), kLogNo);
    return FileOnOffResult::Status::kOpenFailed;
  }
  CopyOutput output(outPath);
  platform::SysError error;
  const int out = output.FinalIsInput(inIdentity) ? -1 : output.Create(&error);
  if (out < 0) {
    platform::CloseFd(in);
    WriteLog(Format("fopen error[%s]", out949.c_str()), kLogNo);
    return FileOnOffResult::Status::kOpenFailed;
  }
  FileConverter::Outcome outcome;
  {
    FileConverter converter(in, out, cancel);
    outcome = converter.Run();
    ncnt = converter.Count();
  }
  platform::CloseFd(in);
  if (!platform::CloseFd(out) && outcome == FileConverter::Outcome::kDone) {
    outcome = FileConverter::Outcome::kWriteError;
  }
  if (outcome == FileConverter::Outcome::kDone) {
    switch (output.Publish(inIdentity, &error)) {
      case CopyOutput::Result::kDone:
        return FileOnOffResult::Status::kDone;
      case CopyOutput::Result::kIsInput:
        output.Discard();
        WriteLog(Format("fopen error[%s]", out949.c_str()), kLogNo);
        return FileOnOffResult::Status::kOpenFailed;
      case CopyOutput::Result::kFailed:
        outcome = FileConverter::Outcome::kWriteError;
        break;
    }
  }

  // A cut-short copy never reaches the output's name; an earlier copy there stays as it was.
  output.Discard();
  platform::FileIdentity earlier;
  const int kept = platform::OpenRegularForRead(outPath, &earlier);
  if (kept >= 0) platform::CloseFd(kept);
  const char* what = outcome == FileConverter::Outcome::kReadError    ? "read error"
                     : outcome == FileConverter::Outcome::kWriteError ? "write error"
                                                                       : "cancelled";
  WriteLog(Format("file_onoffsum %s [%s]=>[%s], output removed%s", what, in949.c_str(),
                  out949.c_str(), kept >= 0 ? ", earlier copy kept" : ""),
           kLogNo);
  return outcome == FileConverter::Outcome::kCancelled ? FileOnOffResult::Status::kCancelled
                                                       : FileOnOffResult::Status::kFailed;
}

bool EndsWithDat(const std::string& name) {
  if (name.size() < 4) return false;
  const char* s = name.c_str() + name.size() - 4;
  return s[0] == '.' && (s[1] | 0x20) == 'd' && (s[2] | 0x20) == 'a' && (s[3] | 0x20) == 't';
}

// The folder's entries whose names end in .dat in any letter case, directories left out, in
// byte order of their names (so that runs are repeatable). False when the folder cannot be
// read.
bool ListDatFiles(const std::string& sysDir, std::vector<std::string>& names) {
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDir(sysDir, &entries)) return false;
  for (platform::DirEntry& e : entries) {
    if (EndsWithDat(e.name) && !e.isDir) names.push_back(std::move(e.name));
  }
  std::sort(names.begin(), names.end());
  return true;
}

// File names are UTF-8 here, where no byte of a multi-byte character is an ASCII letter, so
// lower-casing every ASCII letter byte leaves the other characters intact.
std::string LowerAsciiBytes(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return s;
}

}  // namespace

FileOnOffResult file_onoffsum(const char* inPath, const char* outPath,
                              const CancelToken* cancel) {
  FileOnOffResult result;
  if (inPath == nullptr || outPath == nullptr || std::strlen(inPath) < 4 ||
      std::strlen(outPath) < 4) {
    return result;
  }
  const std::string in949 = Utf8ToCp949(inPath);
  const std::string out949 = Utf8ToCp949(outPath);
  WriteLog(Format("file_onoffsum START [%s]=>[%s]", in949.c_str(), out949.c_str()), kLogNo);
  const std::time_t start = GetClock().Now();
  std::int64_t ncnt = 0;
  result.status = Convert(inPath, outPath, in949, out949, cancel, ncnt);
  result.ncnt = ncnt;
  const std::time_t end = GetClock().Now();
  WriteLog(Format("file_onoffsum END [%s]=>[%s] ncnt[%10" PRId64 "] elapsed[%d]sec",
                  in949.c_str(), out949.c_str(), ncnt, static_cast<int>(end - start)),
           kLogNo);
  return result;
}

OnOffSumResult ProcOnOffSum(const char* folderText, const CancelToken* cancel) {
  OnOffSumResult result;
  std::string szpath = folderText != nullptr ? folderText : "";
  std::replace(szpath.begin(), szpath.end(), '\\', '/');
  const std::string szpath_dst = szpath + "/converted";
  auto logClosing = [&] {
    WriteLog(Format("ProcOnOffSum START nCnt[%d] szpath[%s] szpath_dst[%s] failed[%d]",
                    result.nCnt, szpath.c_str(), szpath_dst.c_str(), result.nFailed),
             kLogNo);
  };

  if (szpath.size() > static_cast<std::size_t>(kOnOffFolderMax)) {
    WriteLog(Format("ProcOnOffSum folder text too long[%zu] bytes, at most %d: nothing done",
                    szpath.size(), kOnOffFolderMax),
             kLogNo);
    result.folderFailed = true;
    logClosing();
    return result;
  }
  MakeDir949(szpath_dst.c_str());  // an existing folder is fine; any other failure shows per file
  if (szpath.size() < 4) {
    logClosing();
    return result;
  }
  WriteLog(Format("ProcOnOffSum START szpath[%s] szpath_dst[%s]", szpath.c_str(),
                  szpath_dst.c_str()),
           kLogNo);
  // The folder can be anywhere, so no start-up repair reaches it: copies cut short by an
  // ended clean-up are removed here.
  RepairOutputs(szpath_dst, {}, "ProcOnOffSum", kLogNo);

  const std::string sysDir = SysPath(szpath.c_str());
  const std::string sysDst = SysPath(szpath_dst.c_str());
  std::vector<std::string> names;
  if (!ListDatFiles(sysDir, names)) {
    WriteLog(Format("ProcOnOffSum folder not readable[%s]", szpath.c_str()), kLogNo);
    result.folderFailed = true;
    logClosing();
    return result;
  }
  std::set<std::string> outputsTaken;
  for (const std::string& name : names) {
    if (cancel != nullptr && cancel->IsCancelled()) {
      result.cancelled = true;
      break;
    }
    const std::string lower = LowerAsciiBytes(name);
    const std::string in949 = szpath + "/" + Utf8ToCp949(name);
    const std::string out949 = szpath_dst + "/" + Utf8ToCp949(lower);
    if (in949.size() > kFileNameMax || out949.size() > kFileNameMax) {
      WriteLog(Format("ProcOnOffSum path too long (at most %zu bytes), file skipped [%s]=>[%s]",
                      kFileNameMax, in949.c_str(), out949.c_str()),
               kLogNo);
      ++result.nFailed;
      continue;
    }
    // Names differing only in letter case share one lower-case output; the first keeps it.
    if (!outputsTaken.insert(lower).second) {
      WriteLog(Format("ProcOnOffSum output name already used, file skipped [%s]=>[%s]",
                      in949.c_str(), out949.c_str()),
               kLogNo);
      ++result.nFailed;
      continue;
    }
    const FileOnOffResult r =
        file_onoffsum((sysDir + "/" + name).c_str(), (sysDst + "/" + lower).c_str(), cancel);
    ++result.nCnt;
    if (r.status != FileOnOffResult::Status::kDone) ++result.nFailed;
    if (r.status == FileOnOffResult::Status::kCancelled) {
      result.cancelled = true;
      break;
    }
  }
  logClosing();
  return result;
}

}  // namespace zelvik
