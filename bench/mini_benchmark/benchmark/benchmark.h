#pragma once
// The few pieces of Google Benchmark's interface that bench/export_rows_bench.cpp uses, for the
// Windows cross build, which has no benchmark library: each benchmark runs 10 times more
// iterations until a run takes 0.5 s, and prints its time per iteration as Google Benchmark's
// console does ("NAME  TIME ns  CPU ns  ITERATIONS"), so that the two builds' output compare.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace benchmark {

class State {
 public:
  explicit State(std::int64_t iterations) : iterations_(iterations) {}
  // The loop variable is never read (`for (auto _ : state)`): a type marked unused.
  struct __attribute__((unused)) Value {};
  struct Iterator {
    std::int64_t left;
    bool operator!=(const Iterator& /*end*/) const { return left > 0; }
    void operator++() { --left; }
    Value operator*() const { return {}; }
  };
  Iterator begin() { return {iterations_}; }
  Iterator end() { return {0}; }
  std::int64_t iterations() const { return iterations_; }
  void SetItemsProcessed(std::int64_t /*items*/) {}

 private:
  std::int64_t iterations_;
};

template <class T>
inline void DoNotOptimize(T& value) {
  asm volatile("" : : "r,m"(value) : "memory");
}

struct Registered {
  std::string name;
  std::function<void(State&)> fn;
};
inline std::vector<Registered>& Registry() {
  static std::vector<Registered> all;
  return all;
}
inline int Register(const char* name, void (*fn)(State&)) {
  Registry().push_back({name, fn});
  return 0;
}

inline int RunAll() {
  std::printf("%-30s %13s %13s %12s\n", "Benchmark", "Time", "CPU", "Iterations");
  for (const Registered& b : Registry()) {
    for (std::int64_t n = 1;; n *= 10) {
      State state(n);
      const auto start = std::chrono::steady_clock::now();
      b.fn(state);
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (seconds >= 0.5 || n >= 1000000000) {
        const double ns = seconds * 1e9 / static_cast<double>(n);
        std::printf("%-30s %10.1f ns %10.1f ns %12lld\n", b.name.c_str(), ns, ns,
                    static_cast<long long>(n));
        break;
      }
    }
  }
  return 0;
}

}  // namespace benchmark

#define ZELVIK_BENCH_JOIN2(a, b) a##b
#define ZELVIK_BENCH_JOIN(a, b) ZELVIK_BENCH_JOIN2(a, b)
#define BENCHMARK(fn) \
  static const int ZELVIK_BENCH_JOIN(registered_, __LINE__) = ::benchmark::Register(#fn, fn)
#define BENCHMARK_MAIN() \
  int main() { return ::benchmark::RunAll(); }
