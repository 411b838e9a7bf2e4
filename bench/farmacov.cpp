// FARMACOV at long lags through the host: one hypergeometric table per AR
// root (one series, then one step per lag), so that the time grows linearly
// in the lag whatever the modulus of the roots.  (bench_farma keeps the
// phi = 0.95 case beside the likelihoods.)
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "host/host.hpp"

namespace {

using mvts::Value;

mvts::Session& session() {
  static mvts::Session s;
  return s;
}

void run(benchmark::State& state, double d, const std::vector<double>& phi,
         const std::vector<double>& theta) {
  const std::vector<Value> args = {Value::scalar(d),
                                   Value::column(phi),
                                   theta.empty() ? Value::omitted() : Value::column(theta),
                                   Value::omitted(),
                                   Value::omitted(),
                                   Value::omitted(),
                                   Value::scalar(double(state.range(0)))};
  for (auto _ : state) {
    auto r = session().call("FARMACOV", args);
    if (r.status != 0) state.SkipWithError("FARMACOV failed");
    benchmark::DoNotOptimize(r);
  }
}

// ARFIMA(1, 0.3, 0), phi = 0.99 (the series at the far end has some 4000
// terms).
void BM_FarmacovRealRoot099(benchmark::State& state) { run(state, 0.3, {0.99}, {}); }
BENCHMARK(BM_FarmacovRealRoot099)->Arg(1000)->Arg(10000)->Arg(100000)
    ->Unit(benchmark::kMillisecond);

// ARFIMA(2, -0.2, 1): a complex pair of modulus 0.99 at angle 0.3.
void BM_FarmacovComplexPair099(benchmark::State& state) {
  run(state, -0.2, {2 * 0.99 * std::cos(0.3), -0.99 * 0.99}, {0.4});
}
BENCHMARK(BM_FarmacovComplexPair099)->Arg(1000)->Arg(10000)->Arg(100000)
    ->Unit(benchmark::kMillisecond);

// ARFIMA(3, 0.45, 2) with roots 0.95, 0.5 and -0.6.
void BM_FarmacovThreeRoots(benchmark::State& state) {
  run(state, 0.45, {0.95 + 0.5 - 0.6, -(0.95 * 0.5 - 0.95 * 0.6 - 0.5 * 0.6), -0.95 * 0.5 * 0.6},
      {0.3, -0.2});
}
BENCHMARK(BM_FarmacovThreeRoots)->Arg(1000)->Arg(10000)->Arg(100000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("OPENBLAS_NUM_THREADS", "1", 0);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
