// The direct fractional-difference filter: O(n^2) multiply-adds.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "module/farma/frac_diff.hpp"

namespace {

void BM_FracDiffFilter(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  std::vector<double> x(n), out(n), w(n), work(n);
  for (std::int64_t t = 0; t < n; ++t) x[t] = std::sin(0.01 * t) + 0.001 * t;
  for (auto _ : state) {
    int st = mvtsa::frac_diff_filter(out.data(), w.data(), 0.3, x.data(), n, work.data());
    benchmark::DoNotOptimize(st);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["values/s"] = benchmark::Counter(double(n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_FracDiffFilter)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
