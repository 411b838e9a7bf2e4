// UCMSIM simulation: two cycles, a trigonometric seasonal of length 12 and
// every variance positive (18 normal deviates per step).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "host/host.hpp"
#include "module/ucm/ucm_sim.hpp"

namespace {

// The kernel alone.
void BM_UcmSimulate(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  std::vector<double> y(n), seas(mvtsa::ucm_seasonal_work_size(12));
  const double e[11] = {1, -0.5, 0.3, 0.2, -0.1, 0.4, -0.3, 0.1, 0.05, -0.2, 0.6};
  for (auto _ : state) {
    mvtsa::UcmModel m;
    m.level = 10;
    m.sd_level = 0.1;
    m.slope = 0.01;
    m.sd_slope = 0.01;
    mvtsa::ucm_cycle_init(&m.cycle[0], 1, 0, 40, 0.95, 0.2);
    mvtsa::ucm_cycle_init(&m.cycle[1], 0.5, 0.5, 7, 0.9, 0.1);
    mvtsa::ucm_seasonal_init(&m.seasonal[0], e, 11, true, 0.05, seas.data());
    m.sd_irregular = 1;
    std::uint32_t seed = 12345;
    mvtsa::ucm_simulate(&m, n, &seed, y.data());
    benchmark::DoNotOptimize(y.data());
  }
  state.counters["values/s"] = benchmark::Counter(double(n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_UcmSimulate)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Through the host: checks, work space, result creation and copy included.
void BM_UcmsimCall(benchmark::State& state) {
  using mvts::Value;
  mvts::Session s;
  const std::int64_t n = state.range(0);
  std::vector<Value> args = {
      Value::row({10, 0.01}), Value::row({0.01, 0.0001}),
      Value::row({1, 0, 40, 0.95, 0.04}), Value::row({0.5, 0.5, 7, 0.9, 0.01}),
      Value::omitted(), Value::row({1, 0.0025}),
      Value::row({1, -0.5, 0.3, 0.2, -0.1, 0.4, -0.3, 0.1, 0.05, -0.2, 0.6}),
      Value::omitted(), Value::omitted(), Value::omitted(), Value::omitted(),
      Value::scalar(1), Value::scalar(double(n)), Value::scalar(12345)};
  for (auto _ : state) {
    auto r = s.call("UCMSIM", args);
    if (r.status != 0) state.SkipWithError("UCMSIM failed");
    benchmark::DoNotOptimize(r);
  }
  state.counters["values/s"] = benchmark::Counter(double(n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_UcmsimCall)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
