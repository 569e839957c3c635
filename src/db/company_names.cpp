#include "db/company_names.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "db/odbc.h"
#include "log/run_log.h"
#include "util/codepage.h"
#include "util/file_io.h"
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
  FixCut(fields[0], id);
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
      cache.Append(record);
    }
    std::fclose(f);
  }
  WriteLog(Format("LoadMemoryCOM_NM ncnt[%d]", ncnt), 1);
}

int GetCO_NM(Database* db, const char* coid, char* out) {
  CompanyNameCache& cache = g_CompanyNameCache;
  std::lock_guard<std::mutex> lock(cache.Mutex());
  const std::size_t ncount = cache.Size();
  WriteLog(Format("============== START GetCO_NM(%s)", coid != nullptr ? coid : "(null)"), 1);
  if (coid == nullptr || coid[0] == '\0' || out == nullptr) return 0;

  std::memset(out, 0, 4);
  CompanyNameRecord record = {};
  if (!CopyCut(record.szCoid, sizeof(record.szCoid), coid)) {
    WriteLog(Format("GetCO_NM id longer than 127 bytes, cut to [%s]", record.szCoid), 1);
  }
  int nret = 0;
  if (const CompanyNameRecord* hit = cache.Find(record.szCoid, ncount)) {
    CopyCut(out, sizeof(record.szCoNm), hit->szCoNm);
    nret = 1;
  } else if (std::strchr(record.szCoid, '\'') != nullptr) {
    // The id would go into the statement unescaped: it is not sent at all.
    WriteLog(Format("GetCO_NM Error: quote in company id[%s], no statement sent", record.szCoid),
             1);
  } else if (db == nullptr || !db->IsOpen()) {
    WriteLog("GetCO_NM Error: !pDB || !pDB->IsOpen()", 1);
  } else {
    char szsql[1024] = {};
    std::snprintf(szsql, sizeof(szsql),
                  "select CONCAT(UTL_RAW.CAST_TO_RAW(CO_NM), '00000000') as %s from CARCO_MST "
                  "where COID = '%s'",
                  Kr("회사명").c_str(), record.szCoid);
    WriteLog(szsql, 1);
    try {
      Recordset rs(db);
      rs.Open(szsql);
      if (rs.GetRecordCount() > 0) {
        std::string value;
        rs.GetFieldValue(0, value);
        char szname[1024] = {};
        DecodeRawText(szname, sizeof(szname), value);
        if (!CopyCut(out, sizeof(record.szCoNm), szname)) {
          WriteLog(Format("GetCO_NM name longer than 127 bytes, cut to [%s]", out), 1);
        }
        std::memcpy(record.szCoNm, out, std::strlen(out));
        cache.Append(record);
        // A file that does not open is skipped without a message; one that fills up keeps
        // no part of the line (the next pair would run into it and be read as this name).
        const std::string path = CfgPath();
        if (AppendLine949(path.c_str(), Format("%s,%s", record.szCoid, out)) ==
            AppendResult::kWriteFailed) {
          WriteLog(Format("GetCO_NM write error[%s][%s]", path.c_str(),
                          platform::ErrorText(errno).c_str()),
                   1);
        }
        nret = 1;
      }
      rs.Close();
    } catch (const DbError& e) {
      WriteLog(Format("GetCO_NM error open recordset or GetRecordCount[%s][%s]", szsql,
                      e.m_strError.c_str()),
               1);
    }
  }
  WriteLog(Format("============== END GetCO_NM (%s) => (%s)", record.szCoid, out), 1);
  return nret;
}

}  // namespace zelvik
