#include "extract/car_summary.h"

#include <cstring>

#include "log/run_log.h"
#include "util/codepage.h"
#include "util/format.h"
#include "util/number_parse.h"

namespace zelvik {

const std::string& VehicleSummary::HeaderLine() {
  return Kr("회사명,차량번호,일자,레코드수,승빈차변경횟수,마지막-승빈차코드");
}

void VehicleSummary::Reset(std::string_view date) {
  car_ = CarSummary{};
  counters_ = OncCounters{};
  // A zero-padded copy, so that a short date still formats (with the same padding as the
  // widths ask for) and never reads past its end.
  char szDay[16] = {};
  std::size_t n = 0;
  while (n < 8 && n < date.size() && date[n] != '\0') {
    szDay[n] = date[n];
    ++n;
  }
  std::snprintf(szRunDate_, sizeof(szRunDate_), "'%4.4s/%2.2s/%2.2s'", szDay, szDay + 4,
                szDay + 6);
}

bool VehicleSummary::Step(std::FILE* out, const char* szCarNo, const char* szOnc,
                          const char* szCoid) {
  const std::int32_t v = ParseLong32(szOnc);
  switch (v) {
    case 0: ++counters_.n0; break;
    case 1: ++counters_.n1; break;
    case 2: ++counters_.n2; break;
    case 3: ++counters_.n3; break;
    default: ++counters_.nEtc; break;
  }

  if (std::strcmp(szCarNo, car_.szCarNo) == 0) {
    if (v != car_.nLastOnc) {
      ++car_.nChange;
      car_.nLastOnc = v;
    }
    ++car_.nRec;
    return true;
  }

  bool ok = true;
  if (car_.nRec > 0) ok = WriteGroup(out);
  car_ = CarSummary{};
  if (std::strcmp(szCoid, last_.szCoid) != 0) {
    last_ = LastCompany{};
    CopyCut(last_.szCoid, sizeof(last_.szCoid), szCoid);
    if (lookup_) lookup_(last_.szCoid, last_.szCoNm);
    last_.szCoNm[sizeof(last_.szCoNm) - 1] = '\0';
  }
  std::memcpy(car_.szCoNm, last_.szCoNm, sizeof(car_.szCoNm));
  CopyCut(car_.szCarNo, sizeof(car_.szCarNo), szCarNo);
  std::memcpy(car_.szDate, szRunDate_, sizeof(car_.szDate));
  car_.nChange = 1;
  car_.nLastOnc = v;
  car_.nRec = 1;
  return ok;
}

bool VehicleSummary::Final(std::FILE* out) {
  if (car_.nRec > 0) return WriteGroup(out);
  return true;
}

bool VehicleSummary::WriteGroup(std::FILE* out) const {
  return std::fprintf(out, "%s,%s,%s,%d,%d,%d\r\n", car_.szCoNm, car_.szCarNo, car_.szDate,
                      car_.nRec, car_.nChange, car_.nLastOnc) > 0;
}

std::string VehicleSummary::CountersLine(const char* label) const {
  return Format("%s onc_cd 0[%d] 1[%d] 2[%d] 3[%d] etc[%d]", label, counters_.n0, counters_.n1,
                counters_.n2, counters_.n3, counters_.nEtc);
}

}  // namespace zelvik
