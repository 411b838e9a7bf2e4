// One call through the host's C++ call API, for the Python package's
// overhead benchmark (bench/python_call.py runs this program beside the same
// calls from Python): VARMALIK with k = 2, T = 1000 (Kalman filter), and a
// tiny VTSROOT (one 2 x 2 AR block).  The arguments are built once; each call
// copies them into the argument block, as a call from Python copies them
// once from its arrays.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "host/host.hpp"

namespace {

const std::vector<double> kPhi = {0.5, 0.1, -0.2, 0.4};
const std::vector<double> kTheta = {-0.4, 0.2, 0.0, -0.3};

// A fixed series of T rows: a deterministic, bounded, non-periodic pattern.
mvts::Value series(int T) {
  std::vector<double> y(std::size_t(T) * 2);
  for (int t = 0; t < T; ++t) {
    y[2 * t] = std::sin(0.37 * t) + 0.3 * std::cos(1.91 * t);
    y[2 * t + 1] = std::cos(0.53 * t) - 0.2 * std::sin(2.71 * t);
  }
  return mvts::Value::matrix(T, 2, std::move(y));
}

void BM_Varmalik(benchmark::State& state) {
  mvts::Session s;
  const std::vector<mvts::Value> args = {series(1000), mvts::Value::matrix(2, 2, kPhi),
                                         mvts::Value::matrix(2, 2, kTheta)};
  for (auto _ : state) {
    mvts::CallResult r = s.call("VARMALIK", args);
    if (r.status != 0) state.SkipWithError("VARMALIK failed");
    benchmark::DoNotOptimize(r.outputs[0]->data.data());
  }
}
BENCHMARK(BM_Varmalik)->Unit(benchmark::kMicrosecond);

void BM_Vtsroot(benchmark::State& state) {
  mvts::Session s;
  const std::vector<mvts::Value> args = {mvts::Value::matrix(2, 2, kPhi)};
  for (auto _ : state) {
    mvts::CallResult r = s.call("VTSROOT", args);
    if (r.status != 0) state.SkipWithError("VTSROOT failed");
    benchmark::DoNotOptimize(r.outputs[0]->data.data());
  }
}
BENCHMARK(BM_Vtsroot)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
