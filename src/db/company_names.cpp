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
#include "db/raw_text.h"
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

const CompanyNameRecord* CompanyNameCache::Find(const char* coid, std::size_t count) const {
  count = std::min(count, records_.size());
  for (std::size_t i = 0; i < count; ++i) {
    if (std::strcmp(records_[i].szCoid, coid) == 0) return &records_[i];
  }
  return nullptr;
}

void CompanyNameCache::Append(const CompanyNameRecord& record) {
  // The growth is chosen here, not left to the vector: capacities 1, 2, 4, 8, ...
  if (records_.size() == records_.capacity()) {
    records_.reserve(records_.size() + std::max<std::size_t>(records_.size(), 1));
  }
  records_.push_back(record);
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

// Whether an id written with "%s,%s" comes back from com_nm.cfg as itself.
bool StorableId(const char* id) {
  std::string shown = OneLine(id);
  return shown == id && shown.find(',') == std::string::npos;
}

// Where a lookup stands after the cache was asked.
enum class CacheAnswer {
  kFound,     // the name is in the caller's area
  kNotAsked,  // no name, and the server is not to be asked (logged)
  kAsk,       // not cached: the id is marked as being asked
};

// Asks the cache under its lock, waiting while another worker asks the server for the same
// id. An id that is not cached is asked for only when it holds no quote and the connection is
// open; it is then marked, so that other lookups of it wait for this one.
CacheAnswer AskCache(Database* db, const CompanyNameRecord& record, const std::string& shownId,
                     const CancelToken* cancel, char* out,
                     std::unique_ptr<InFlightMark>* mark) {
  CompanyNameCache& cache = g_CompanyNameCache;
  std::unique_lock<std::mutex> lock(cache.Mutex());
  for (;;) {
    if (const CompanyNameRecord* hit = cache.Find(record.szCoid, cache.Size())) {
      CopyCut(out, sizeof(record.szCoNm), hit->szCoNm);
      return CacheAnswer::kFound;
    }
    if (!IsInFlight(record.szCoid)) break;
    // Another worker is asking the server for this id: its answer is awaited, not asked
    // for twice.
    if (cancel != nullptr && cancel->IsCancelled()) {
      WriteLog("GetCO_NM cancelled while another worker asks for the same id", 1);
      return CacheAnswer::kNotAsked;
    }
    Flights().cv.wait_for(lock, kWaitSlice);
  }
  if (std::strchr(record.szCoid, '\'') != nullptr) {
    // The id would go into the statement unescaped: it is not sent at all.
    WriteLog(Format("GetCO_NM Error: quote in company id[%s], no statement sent",
                    shownId.c_str()),
             1);
    return CacheAnswer::kNotAsked;
  }
  if (db == nullptr || !db->IsOpen()) {
    WriteLog("GetCO_NM Error: !pDB || !pDB->IsOpen()", 1);
    return CacheAnswer::kNotAsked;
  }
  *mark = std::make_unique<InFlightMark>(record.szCoid);
  return CacheAnswer::kAsk;
}

// Keeps a pair the server gave: in the cache, and as a line of com_nm.cfg when the id reads
// back as itself from there.
void RememberName(const CompanyNameRecord& record, const std::string& shownId) {
  std::lock_guard<std::mutex> lock(g_CompanyNameCache.Mutex());
  g_CompanyNameCache.Append(record);
  const std::string path = CfgPath();
  if (!StorableId(record.szCoid)) {
    WriteLog(Format("GetCO_NM company id[%s] holds a comma or a control byte: kept for "
                    "this run only, not written to %s",
                    shownId.c_str(), kFileName),
             1);
  } else if (AppendLine949(path.c_str(), Format("%s,%s", record.szCoid, record.szCoNm),
                           AppendSync::kData) == AppendResult::kWriteFailed) {
    // A file that does not open is skipped without a message. One that fills up may keep
    // a part of the line; the next append starts on a line of its own.
    WriteLog(Format("GetCO_NM write error[%s][%s]", path.c_str(),
                    platform::ErrorText(errno).c_str()),
             1);
  }
}

// Asks CARCO_MST for the id's name: 1 with the name in out (and remembered) when the server
// has a row for it, else 0. A database failure is logged with the statement.
int AskDatabase(Database* db, CompanyNameRecord& record, const std::string& shownId, char* out) {
  char szsql[1024] = {};
  std::snprintf(szsql, sizeof(szsql),
                "select CONCAT(UTL_RAW.CAST_TO_RAW(CO_NM), '00000000') as %s from CARCO_MST "
                "where COID = '%s'",
                Kr("회사명").c_str(), record.szCoid);
  WriteLog(OneLine(szsql), 1);
  int nret = 0;
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
      RememberName(record, shownId);
      nret = 1;
    }
    rs.Close();
  } catch (const DbError& e) {
    WriteLog(Format("GetCO_NM error open recordset or GetRecordCount[%s][%s]",
                    OneLine(szsql).c_str(), e.m_strError.c_str()),
             1);
  }
  return nret;
}

}  // namespace

int GetCO_NM(Database* db, const char* coid, char* out, const CancelToken* cancel) {
  const std::string shownId = coid != nullptr ? OneLine(coid) : "(null)";
  WriteLog(Format("============== START GetCO_NM(%s)", shownId.c_str()), 1);
  if (coid == nullptr || coid[0] == '\0' || out == nullptr) return 0;

  std::memset(out, 0, 4);
  int nret = 0;
  CompanyNameRecord record = {};
  if (!CopyCut(record.szCoid, sizeof(record.szCoid), coid)) {
    // A key is never cut: the cut id could name another company.
    WriteLog("GetCO_NM Error: company id longer than 127 bytes, not looked up", 1);
  } else {
    std::unique_ptr<InFlightMark> mark;  // cleared before the END line
    switch (AskCache(db, record, shownId, cancel, out, &mark)) {
      case CacheAnswer::kFound:
        nret = 1;
        break;
      case CacheAnswer::kAsk:
        nret = AskDatabase(db, record, shownId, out);
        break;
      case CacheAnswer::kNotAsked:
        break;
    }
  }
  WriteLog(Format("============== END GetCO_NM (%s) => (%s)", shownId.c_str(), out), 1);
  return nret;
}

}  // namespace zelvik
