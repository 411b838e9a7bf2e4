// Throughput of the normal generator and of VNORMAL.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "host/host.hpp"
#include "module/frame/rng.hpp"

static void BM_RngNormal(benchmark::State& state) {
  std::uint32_t seed = 12345;
  std::vector<double> out(std::size_t(1) << 16);
  for (auto _ : state) {
    mvtsa::rng_normal_fill(&seed, out.data(), std::int64_t(out.size()));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(out.size()));
}
BENCHMARK(BM_RngNormal);

static void BM_RngUniform(benchmark::State& state) {
  std::uint32_t seed = 12345;
  double s = 0;
  for (auto _ : state) {
    for (int i = 0; i < 4096; ++i) s += mvtsa::rng_uniform(&seed);
  }
  benchmark::DoNotOptimize(s);
  state.SetItemsProcessed(std::int64_t(state.iterations()) * 4096);
}
BENCHMARK(BM_RngUniform);

// VNORMAL with k = 5 and n = 10^6 through the host: deviates per second.
static void BM_Vnormal(benchmark::State& state) {
  mvts::Session s;
  const std::vector<mvts::Value> args = {
      mvts::Value::row({1, 2, 3, 4, 5}),
      mvts::Value::matrix(5, 5, {2, .5, .1, 0, 0, .5, 2, .5, .1, 0, .1, .5, 2, .5, .1,
                                 0, .1, .5, 2, .5, 0, 0, .1, .5, 2}),
      mvts::Value::scalar(double(state.range(0))), mvts::Value::scalar(7)};
  for (auto _ : state) {
    auto r = s.call("VNORMAL", args);
    if (r.status != 0) state.SkipWithError("VNORMAL failed");
    benchmark::DoNotOptimize(r.outputs[0]->data.data());
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * state.range(0) * 5);
}
BENCHMARK(BM_Vnormal)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
