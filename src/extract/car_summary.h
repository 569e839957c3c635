#pragma once
// The per-vehicle occupancy summary of an export run: one line per vehicle group (company
// name, vehicle number, date, records, occupancy changes, last code) and the run's five
// occupancy counters. It holds one group at a time, so it relies on the rows of one vehicle
// arriving together.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace zelvik {

// The group being accumulated.
struct CarSummary {
  char szDate[32];    // "'YYYY/MM/DD'", apostrophes included
  char szCarNo[128];  // decoded vehicle number
  char szCoNm[128];   // company name
  std::int32_t nLastOnc;
  std::int32_t nChange;
  std::int32_t nRec;
};

// A worker's last company lookup, kept across the runs of that worker.
struct LastCompany {
  char szCoid[128];
  char szCoNm[128];
};

// Rows per occupancy code over one run.
struct OncCounters {
  std::int32_t n0, n1, n2, n3, nEtc;
};

// Fills szCoNm (128 bytes, already empty) with the company's name, or leaves it empty.
using CompanyLookup = std::function<void(const char* szCoid, char* szCoNm)>;

class VehicleSummary {
 public:
  VehicleSummary(LastCompany& last, CompanyLookup lookup)
      : last_(last), lookup_(std::move(lookup)) {}

  // The summary file's first line, without its line end (code page 949).
  static const std::string& HeaderLine();

  // Starts a run: clears the group and the counters. Only the first 8 characters of the
  // run's date (YYYYMMDD) are used.
  void Reset(std::string_view date);

  // One row: the decoded vehicle number, the onc_cd text and the tax_coid text. A group that
  // ends here is written to out; returns false when that write failed.
  bool Step(std::FILE* out, const char* szCarNo, const char* szOnc, const char* szCoid);

  // Writes the group still held, if any; false on a write error.
  bool Final(std::FILE* out);

  // "<label> onc_cd 0[%d] 1[%d] 2[%d] 3[%d] etc[%d]".
  std::string CountersLine(const char* label) const;

 private:
  bool WriteGroup(std::FILE* out) const;

  LastCompany& last_;
  CompanyLookup lookup_;
  CarSummary car_{};
  OncCounters counters_{};
  char szRunDate_[32] = {};
};

}  // namespace zelvik
