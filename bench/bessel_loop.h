#pragma once
// The datum conversion over positions wandering about one city, as the export's rows bring
// them: the loop the datum benchmark and the export's row benchmark both time.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "geo/datum.h"

inline void ConvertWanderingPositions(benchmark::State& state) {
  std::uint32_t x = 4571208, y = 1352394;
  double lon = 0, lat = 0;
  for (auto _ : state) {
    zelvik::BesselToWgs84(x, y, lon, lat);
    benchmark::DoNotOptimize(lon);
    benchmark::DoNotOptimize(lat);
    x = 4566208 + (x + 37) % 10000;
    y = 1348394 + (y + 53) % 8000;
  }
  state.SetItemsProcessed(state.iterations());
}
