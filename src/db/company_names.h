#pragma once
// The company-name directory: taxi company ids to names. Every pair learned is kept in memory
// (CompanyNameCache) and appended to "com_nm.cfg" in the program directory, so that a name is
// asked from CARCO_MST once over the life of the installation.

#include <cstddef>
#include <mutex>
#include <vector>

namespace zelvik {

class CancelToken;
class Database;

// One pair; both texts zero-terminated, the rest of each field zero.
struct CompanyNameRecord {
  char szCoid[128];  // company id, at most 127 bytes
  char szCoNm[128];  // company name in code page 949, at most 127 bytes
};

// A growable array of pairs in insertion order (the file's entries first, then the pairs
// learned from the database). Ids are unique. Every operation but Mutex() must be called with
// Mutex() held. The lock covers scans and appends only, never a statement: a lookup marks its
// id as being asked while its statement runs, and a lookup of the same id waits for that mark
// (so an id is asked, cached and appended once) while lookups of other ids go on.
class CompanyNameCache {
 public:
  CompanyNameCache() = default;
  CompanyNameCache(const CompanyNameCache&) = delete;
  CompanyNameCache& operator=(const CompanyNameCache&) = delete;

  std::mutex& Mutex() { return mutex_; }
  std::size_t Size() const { return records_.size(); }
  const CompanyNameRecord& At(std::size_t i) const { return records_[i]; }
  // The first of the first `count` records whose id equals coid byte for byte, or null.
  const CompanyNameRecord* Find(const char* coid, std::size_t count) const;
  // Appends; a full array grows to size + max(size, 1) records.
  void Append(const CompanyNameRecord& record);
  // Empties the array; its capacity is kept.
  void Clear() { records_.clear(); }

 private:
  std::mutex mutex_;
  std::vector<CompanyNameRecord> records_;
};

// The process's directory.
extern CompanyNameCache g_CompanyNameCache;

// Fills the cache from "com_nm.cfg" (emptied first) and logs "LoadMemoryCOM_NM ncnt[%d]".
// Called once by the main window before any worker starts.
void LoadMemoryCOM_NM();

// Looks the company id up: in the cache, else in CARCO_MST over db (which may be null or
// closed). out is the caller's 128-byte area and receives the name, or the empty text when
// none was found. Returns 1 when a name was found (an empty one included), else 0. An id
// holding a single quote, or longer than 127 bytes, is never sent to the server: it is logged
// and answered empty. Control bytes of a name become spaces. A lookup that waits for another
// worker's statement on the same id gives up, answering empty, once cancel is raised.
int GetCO_NM(Database* db, const char* coid, char* out, const CancelToken* cancel = nullptr);

}  // namespace zelvik
