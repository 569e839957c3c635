#include "db/company_names.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/odbc.h"
#include "log/run_log.h"
#include "util/clock.h"
#include "util/codepage.h"
#include "util/file_io.h"
#include "util/format.h"
#include "util/platform.h"
#include "util/process_state.h"
#include "util/split_fields.h"

namespace zelvik {

CompanyNameCache g_CompanyNameCache;

CompanyNameCache::~CompanyNameCache() { delete[] records_; }

const CompanyNameRecord* CompanyNameCache::Find(const char* coid, std::size_t count) const {
  count = std::min(count, size_);
  for (std::size_t i = 0; i < count; ++i) {
    if (std::strcmp(records_[i].szCoid, coid) == 0) return &records_[i];
  }
  return nullptr;
}

void CompanyNameCache::Append(const CompanyNameRecord& record) {
  if (size_ == capacity_) {
    std::size_t grown = size_ + std::max<std::size_t>(size_, 1);
    auto* block = new CompanyNameRecord[grown];
    std::copy(records_, records_ + size_, block);
    delete[] records_;
    records_ = block;
    capacity_ = grown;
  }
  records_[size_++] = record;
}

namespace {

constexpr const char* kFileName = "com_nm.cfg";

std::string CfgPath() { return Format("%s/%s", g_szExeDir, kFileName); }

// Reads one piece of a line the way a text-mode read of at most 1023 characters does: CR LF
// counts as one character (a line feed), and the piece ends after a line feed. False at the
// end of the file.
bool ReadPiece(std::FILE* f, std::string* piece) {
  piece->clear();
  int c = 0;
  while (piece->size() < 1023 && (c = std::getc(f)) != EOF) {
    if (c == '\r') {
      int next = std::getc(f);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, f);
      }
    }
    piece->push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !piece->empty();
}

// The field SplitFields stored from `original`: when it had to cut, the cut is moved back to
// a character boundary.
void FixCut(char* field, std::string_view original) {
  std::size_t stored = std::strlen(field);
  if (stored < original.size()) field[Cp949CutLength(original, stored)] = '\0';
}

// Applies the file's reading rules to one piece; true with id and name for an entry.
bool ParseEntry(const std::string& piece, FieldSlot* fields) {
  std::string_view line(piece.c_str());  // a zero byte ends the text
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  // A CR left over ("\r\r\n" from an editor) is part of the line end, not of the name.
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty() || line[0] == ' ' || line[0] == '#' || line.size() < 6) return false;
  std::memset(fields, 0, sizeof(FieldSlot) * kFieldSlotCount);
  SplitFields(fields, line.data(), static_cast<int>(line.size()), 3, ',');
  std::size_t comma = line.find(',');
  std::string_view id = line.substr(0, comma);
  std::string_view name;
  if (comma != std::string_view::npos) {
    name = line.substr(comma + 1);
    name = name.substr(0, name.find(','));
  }
  // An id is a key: one that does not fit its 127 bytes is left out, never cut (the cut id
  // could be another company's).
  if (id.size() >= sizeof(CompanyNameRecord::szCoid)) return false;
  FixCut(fields[1], name);
  return fields[0][0] != '\0' && fields[1][0] != '\0';
}

}  // namespace

void LoadMemoryCOM_NM() {
  CompanyNameCache& cache = g_CompanyNameCache;
  std::lock_guard<std::mutex> lock(cache.Mutex());
  cache.Clear();
  int ncnt = 0;
  if (std::FILE* f = OpenFile949(CfgPath().c_str(), "r")) {
    std::string piece;
    auto fields = std::make_unique<FieldSlot[]>(kFieldSlotCount);
    while (ReadPiece(f, &piece)) {
      if (!ParseEntry(piece, fields.get())) continue;
      ++ncnt;
      if (cache.Find(fields[0], cache.Size()) != nullptr) continue;  // the first line wins
      CompanyNameRecord record = {};
      CopyCut(record.szCoid, sizeof(record.szCoid), fields[0]);
      CopyCut(record.szCoNm, sizeof(record.szCoNm), fields[1]);
      ControlBytesToSpaces(record.szCoNm);  // a name is written into one summary line
      cache.Append(record);
    }
    std::fclose(f);
  }
  WriteLog(Format("LoadMemoryCOM_NM ncnt[%d]", ncnt), 1);
}

namespace {

// Ids whose statement is running, guarded by the cache's lock; the lookup that set a mark
// clears it and wakes the lookups waiting on it.
struct InFlight {
  std::condition_variable cv;
  std::vector<std::string> ids;
};

InFlight& Flights() {
  static InFlight flights;
  return flights;
}

bool IsInFlight(const std::string& id) {
  const auto& ids = Flights().ids;
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// Clears its mark (taking the cache's lock) on every way out of the statement.
class InFlightMark {
 public:
  explicit InFlightMark(std::string id) : id_(std::move(id)) { Flights().ids.push_back(id_); }
  ~InFlightMark() {
    std::lock_guard<std::mutex> lock(g_CompanyNameCache.Mutex());
    auto& ids = Flights().ids;
    ids.erase(std::find(ids.begin(), ids.end(), id_));
    Flights().cv.notify_all();
  }
  InFlightMark(const InFlightMark&) = delete;
  InFlightMark& operator=(const InFlightMark&) = delete;

 private:
  std::string id_;
};

// How often a lookup waiting on another worker's statement looks at its cancel request.
constexpr auto kWaitSlice = std::chrono::milliseconds(20);

// A text as it may appear in a log line: one line.
std::string OneLine(const char* text) {
  std::string shown = text;
  ControlBytesToSpaces(shown.data());
  return shown;
}

// An id that "%s,%s" would not bring back from com_nm.cfg as itself.
bool StorableId(const char* id) {
  std::string shown = OneLine(id);
  return shown == id && shown.find(',') == std::string::npos;
}

}  // namespace

int GetCO_NM(Database* db, const char* coid, char* out, const CancelToken* cancel) {
  CompanyNameCache& cache = g_CompanyNameCache;
  const std::string shownId = coid != nullptr ? OneLine(coid) : "(null)";
  WriteLog(Format("============== START GetCO_NM(%s)", shownId.c_str()), 1);
  if (coid == nullptr || coid[0] == '\0' || out == nullptr) return 0;

  std::memset(out, 0, 4);
  int nret = 0;
  auto end = [&] {
    WriteLog(Format("============== END GetCO_NM (%s) => (%s)", shownId.c_str(), out), 1);
    return nret;
  };
  CompanyNameRecord record = {};
  if (!CopyCut(record.szCoid, sizeof(record.szCoid), coid)) {
    // A key is never cut: the cut id could name another company.
    WriteLog("GetCO_NM Error: company id longer than 127 bytes, not looked up", 1);
    return end();
  }
  std::unique_ptr<InFlightMark> mark;
  {
    std::unique_lock<std::mutex> lock(cache.Mutex());
    for (;;) {
      if (const CompanyNameRecord* hit = cache.Find(record.szCoid, cache.Size())) {
        CopyCut(out, sizeof(record.szCoNm), hit->szCoNm);
        nret = 1;
        return end();
      }
      if (!IsInFlight(record.szCoid)) break;
      // Another worker is asking the server for this id: its answer is awaited, not asked
      // for twice.
      if (cancel != nullptr && cancel->IsCancelled()) {
        WriteLog("GetCO_NM cancelled while another worker asks for the same id", 1);
        return end();
      }
      Flights().cv.wait_for(lock, kWaitSlice);
    }
    if (std::strchr(record.szCoid, '\'') != nullptr) {
      // The id would go into the statement unescaped: it is not sent at all.
      WriteLog(Format("GetCO_NM Error: quote in company id[%s], no statement sent",
                      shownId.c_str()),
               1);
      return end();
    }
    if (db == nullptr || !db->IsOpen()) {
      WriteLog("GetCO_NM Error: !pDB || !pDB->IsOpen()", 1);
      return end();
    }
    mark = std::make_unique<InFlightMark>(record.szCoid);
  }

  char szsql[1024] = {};
  std::snprintf(szsql, sizeof(szsql),
                "select CONCAT(UTL_RAW.CAST_TO_RAW(CO_NM), '00000000') as %s from CARCO_MST "
                "where COID = '%s'",
                Kr("회사명").c_str(), record.szCoid);
  WriteLog(OneLine(szsql), 1);
  try {
    Recordset rs(db);
    rs.Open(szsql);
    if (rs.GetRecordCount() > 0) {
      std::string value;
      rs.GetFieldValue(0, value);
      char szname[1024] = {};
      // The name goes into line-based files: the decoding has made every control byte of it,
      // a zero byte included, a space.
      DecodeRawText(szname, sizeof(szname), value);
      if (!CopyCut(out, sizeof(record.szCoNm), szname)) {
        WriteLog(Format("GetCO_NM name longer than 127 bytes, cut to [%s]", out), 1);
      }
      std::memcpy(record.szCoNm, out, std::strlen(out));
      std::lock_guard<std::mutex> lock(cache.Mutex());
      cache.Append(record);
      const std::string path = CfgPath();
      if (!StorableId(record.szCoid)) {
        WriteLog(Format("GetCO_NM company id[%s] holds a comma or a control byte: kept for "
                        "this run only, not written to %s",
                        shownId.c_str(), kFileName),
                 1);
      } else if (AppendLine949(path.c_str(), Format("%s,%s", record.szCoid, out),
                               AppendSync::kData) == AppendResult::kWriteFailed) {
        // A file that does not open is skipped without a message. One that fills up may keep
        // a part of the line; the next append starts on a line of its own.
        WriteLog(Format("GetCO_NM write error[%s][%s]", path.c_str(),
                        platform::ErrorText(errno).c_str()),
                 1);
      }
      nret = 1;
    }
    rs.Close();
  } catch (const DbError& e) {
    WriteLog(Format("GetCO_NM error open recordset or GetRecordCount[%s][%s]",
                    OneLine(szsql).c_str(), e.m_strError.c_str()),
             1);
  }
  mark.reset();
  return end();
}

}  // namespace zelvik
