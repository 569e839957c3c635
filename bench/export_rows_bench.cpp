// The export's own work per row, without the database: the row formatting against printf
// writing the same row (the reference in the same process), the writer side of a run
// (conversion, formatting, writing to /dev/null), the summary's per-row step and the copy of
// a fetched row into its slot.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "extract/car_summary.h"
#include "extract/row_format.h"
#include "extract/export_writer.h"
#include "bessel_loop.h"
#include "geo/datum.h"
#include "util/codepage.h"

namespace {

// Rows as a day brings them: a vehicle's records in a row, positions wandering.
struct Rows {
  std::vector<zelvik::ExportRowSlot> slots;
  std::vector<std::pair<double, double>> positions;
  Rows() {
    slots.resize(4096);
    positions.resize(slots.size());
    for (std::size_t i = 0; i < slots.size(); ++i) {
      const std::string cols[zelvik::kExportColumns] = {
          "서울12아" + std::to_string(1000 + i / 200), "20220718" + std::to_string(100000 + i),
          "0718" + std::to_string(10 + i % 14), "00001", std::to_string(4571208 + (i * 37) % 5000),
          std::to_string(1352394 + (i * 53) % 4000), std::to_string(i % 4), "1042",
          "1042" + std::to_string(10000 + i % 90000)};
      for (int c = 0; c < zelvik::kExportColumns; ++c) {
        std::memcpy(slots[i].szCol[c], cols[c].c_str(), cols[c].size() + 1);
        slots[i].nLen[c] = static_cast<std::uint8_t>(cols[c].size());
      }
      zelvik::BesselToWgs84(static_cast<std::uint32_t>(4571208 + (i * 37) % 5000),
                            static_cast<std::uint32_t>(1352394 + (i * 53) % 4000),
                            positions[i].first, positions[i].second);
    }
  }
  zelvik::ExportRow Row(std::size_t i) const {
    const auto& s = slots[i];
    const auto sv = [&s](int c) { return std::string_view(s.szCol[c], s.nLen[c]); };
    return {sv(0), sv(1), sv(2), sv(3), sv(4), sv(5), sv(6), sv(7), sv(8)};
  }
};

// The null device of the system the benchmark runs on.
#ifdef _WIN32
constexpr const char* kNullDevice = "NUL";
#else
constexpr const char* kNullDevice = "/dev/null";
#endif

const Rows& TheRows() {
  static const Rows rows;
  return rows;
}

// Formats the rows one after another into one buffer: format(rows, i, out) writes row i and
// returns its length.
template <typename Format>
void FormatRows(benchmark::State& state, Format format) {
  const Rows& rows = TheRows();
  char out[zelvik::kMaxRowBytes];
  std::size_t i = 0, bytes = 0;
  for (auto _ : state) {
    bytes += format(rows, i, out);
    benchmark::DoNotOptimize(out);
    i = (i + 1) % rows.slots.size();
  }
  state.SetItemsProcessed(state.iterations());
  benchmark::DoNotOptimize(bytes);
}

void BM_FormatExportRow(benchmark::State& state) {
  FormatRows(state, [](const Rows& rows, std::size_t i, char* out) {
    const auto& p = rows.positions[i];
    return zelvik::FormatExportRow(rows.Row(i), p.first, p.second, out);
  });
}
BENCHMARK(BM_FormatExportRow);

// Reference: the same row through printf's "%s,...,%f,%f".
void BM_PrintfExportRow(benchmark::State& state) {
  FormatRows(state, [](const Rows& rows, std::size_t i, char* out) {
    const auto& s = rows.slots[i].szCol;
    const auto& p = rows.positions[i];
    return static_cast<std::size_t>(
        std::snprintf(out, zelvik::kMaxRowBytes, "%s,%s,%s,%s,%s,%s,%s,%s,%s,%f,%f\r\n", s[0],
                      s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8] + 4, p.first, p.second));
  });
}
BENCHMARK(BM_PrintfExportRow);

// The writer side of a run on the calling thread: positions parsed and converted, the row
// formatted and written (to the null device).
void BM_WriterRow(benchmark::State& state) {
  const Rows& rows = TheRows();
  std::FILE* f = std::fopen(kNullDevice, "wb");
  std::atomic<std::int32_t> bessel{1};
  {
    zelvik::ExportFileWriter writer(f, bessel, false);
    std::size_t i = 0;
    for (auto _ : state) {
      writer.Next() = rows.slots[i];
      writer.Commit();
      i = (i + 1) % rows.slots.size();
    }
    writer.Finish();
  }
  std::fclose(f);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriterRow);

// The conversion alone, the largest part of the writer side.
void BM_BesselToWgs84(benchmark::State& state) { ConvertWanderingPositions(state); }
BENCHMARK(BM_BesselToWgs84);

// The summary's per-row step (the run's thread), 200 rows a vehicle, the lookup a no-op.
void BM_SummaryStep(benchmark::State& state) {
  const Rows& rows = TheRows();
  std::FILE* f = std::fopen(kNullDevice, "wb");
  zelvik::LastCompany last{};
  zelvik::VehicleSummary summary(last, [](const char*, char*) {});
  summary.Reset("20220718");
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& s = rows.slots[i].szCol;
    summary.Step(f, s[0], s[6], s[7]);
    i = (i + 1) % rows.slots.size();
  }
  std::fclose(f);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SummaryStep);

// A fetched row copied into its slot as the run's thread does it, without (the reference) and
// with the rule that turns control bytes into spaces over each value's whole length.
template <bool kOneLine>
void CopyRows(benchmark::State& state) {
  const Rows& rows = TheRows();
  zelvik::ExportRowSlot slot{};
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& from = rows.slots[i];
    for (int c = 0; c < zelvik::kExportColumns; ++c) {
      const std::size_t n = from.nLen[c];
      std::memcpy(slot.szCol[c], from.szCol[c], n);
      if constexpr (kOneLine) {
        if (zelvik::HasControlBytes({from.szCol[c], n})) {
          zelvik::ControlBytesToSpaces(slot.szCol[c], n);
        }
      }
      slot.szCol[c][n] = '\0';
      slot.nLen[c] = static_cast<std::uint8_t>(n);
    }
    benchmark::DoNotOptimize(slot);
    i = (i + 1) % rows.slots.size();
  }
  state.SetItemsProcessed(state.iterations());
}
void BM_CopyRow(benchmark::State& state) { CopyRows<false>(state); }
BENCHMARK(BM_CopyRow);
void BM_CopyRowOneLine(benchmark::State& state) { CopyRows<true>(state); }
BENCHMARK(BM_CopyRowOneLine);

}  // namespace

BENCHMARK_MAIN();
