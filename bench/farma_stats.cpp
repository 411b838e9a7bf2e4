// The ARFIMA statistics through the host, ARFIMA(1, d, 1) with d = 0.3,
// phi = 0.5, theta = -0.4 (and d = 0, its ARMA part):
//   FARMAFCST: h = 20 forecasts with their mean squared errors and 95%
//     intervals from the whole series, n = 1e3 and 1e4 (the Durbin-Levinson
//     pass over n + h values: O((n + h)^2));
//   FARMARES exact: the standardised innovations, n = 1e4;
//   FARMAINFO exact: the Hessian in (d, phi, theta, sigma) and the
//     covariance, n = 2000 and 1e4 (about 37 likelihood evaluations).
// bench/farma_stats_peer.py times statsmodels' ARIMA forecast on the same
// data beside FARMAFCST.
#include <benchmark/benchmark.h>

#include <vector>

#include "host/host.hpp"

namespace {

using mvts::Value;

mvts::Session& session() {
  static mvts::Session s;
  return s;
}

std::vector<double> series(std::int64_t n) {
  auto r = session().call("FARMASIM", {Value::scalar(0.3), Value::scalar(0.5), Value::scalar(-0.4),
                                       Value::omitted(), Value::omitted(), Value::scalar(double(n)),
                                       Value::omitted(), Value::omitted(), Value::omitted(),
                                       Value::scalar(17)});
  return r.outputs[0]->data;
}

// series d phi theta sigma p q, then each function's own
std::vector<Value> model_args(const std::vector<double>& y, double d) {
  return {Value::column(y), Value::scalar(d), Value::scalar(0.5), Value::scalar(-0.4),
          Value::scalar(1.0), Value::omitted(), Value::omitted()};
}

void run(benchmark::State& state, const char* name, const std::vector<Value>& args) {
  for (auto _ : state) {
    auto r = session().call(name, args);
    if (r.status != 0) state.SkipWithError(name);
    benchmark::DoNotOptimize(r);
  }
}

void BM_FarmafcstArfima(benchmark::State& state) {
  auto args = model_args(series(state.range(0)), 0.3);
  args.push_back(Value::scalar(20));  // h; mean 0, level 0.95
  run(state, "FARMAFCST", args);
}
BENCHMARK(BM_FarmafcstArfima)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_FarmafcstArma(benchmark::State& state) {
  auto args = model_args(series(state.range(0)), 0.0);
  args.push_back(Value::scalar(20));
  run(state, "FARMAFCST", args);
}
BENCHMARK(BM_FarmafcstArma)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_FarmaresExact(benchmark::State& state) {
  auto args = model_args(series(state.range(0)), 0.3);
  args.push_back(Value::scalar(1));
  run(state, "FARMARES", args);
}
BENCHMARK(BM_FarmaresExact)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_FarmainfoExact(benchmark::State& state) {
  auto args = model_args(series(state.range(0)), 0.3);
  args.push_back(Value::scalar(1));
  run(state, "FARMAINFO", args);
}
BENCHMARK(BM_FarmainfoExact)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond)
    ->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
