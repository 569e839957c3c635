// Conversions per second of the datum conversion, against the bare cost of the trigonometry
// it is made of (one sin/cos/atan2/sqrt round) as the reference in the same process.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

#include "bessel_loop.h"

static void BM_BesselToWgs84(benchmark::State& state) { ConvertWanderingPositions(state); }
BENCHMARK(BM_BesselToWgs84);

// Reference: the eight transcendental calls and two square roots a conversion needs.
static void BM_TrigReference(benchmark::State& state) {
  double a = 0.66, b = 2.21, s = 0;
  for (auto _ : state) {
    s += std::sin(a) + std::cos(b) + std::cos(a) * std::sin(b) + std::atan2(a, b) +
         std::sin(b) + std::cos(a) + std::atan2(b, a) + std::atan2(s, a) +
         std::sqrt(a + s * s) + std::sqrt(b + a);
    benchmark::DoNotOptimize(s);
    a += 1e-9;
    b -= 1e-9;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TrigReference);
