// ARFIMA likelihood and simulation through the host:
//   FARMALIK exact method (packed Toeplitz Sigma, sweep inverse, Cholesky):
//     O(n^3) time, O(n^2) memory;
//   FARMALIK conditional sum of squares: O(n^2) for the fractional filter;
//   FARMASIM: fractional noise by the Durbin-Levinson form of the Cholesky
//     factor, O(n^2) time and O(n) memory.
// The peak memory of one call is measured in a forked child (maximum
// resident set size, less that of a child that makes no call).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <vector>

#include "host/host.hpp"

namespace {

using mvts::Value;

mvts::Session& session() {
  static mvts::Session s;
  return s;
}

// Maximum resident set size (KiB) of a child that runs fn.
long child_peak_kib(const std::function<void()>& fn) {
  const pid_t pid = fork();
  if (pid == 0) {
    fn();
    _exit(0);
  }
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  return ru.ru_maxrss;
}

void report_peak(benchmark::State& state, const std::function<void()>& call) {
  const long base = child_peak_kib([] {});
  const long peak = child_peak_kib(call);
  state.counters["peak_MiB"] = double(peak - base) / 1024.0;
}

std::vector<double> series(std::int64_t n) {
  auto r = session().call("FARMASIM", {Value::scalar(0.3), Value::scalar(0.5), Value::scalar(-0.4),
                                       Value::omitted(), Value::omitted(), Value::scalar(double(n)),
                                       Value::omitted(), Value::omitted(), Value::omitted(),
                                       Value::scalar(17)});
  return r.outputs[0]->data;
}

std::vector<Value> lik_args(const std::vector<double>& y, double opt) {
  return {Value::column(y),  Value::scalar(0.3), Value::scalar(0.5), Value::scalar(-0.4),
          Value::omitted(),  Value::omitted(),   Value::omitted(),   Value::scalar(opt)};
}

void BM_FarmalikExact(benchmark::State& state) {
  const auto args = lik_args(series(state.range(0)), 1);
  for (auto _ : state) {
    auto r = session().call("FARMALIK", args);
    if (r.status != 0) state.SkipWithError("FARMALIK failed");
    benchmark::DoNotOptimize(r);
  }
  report_peak(state, [&] { session().call("FARMALIK", args); });
}
BENCHMARK(BM_FarmalikExact)->Arg(500)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_FarmalikCss(benchmark::State& state) {
  const auto args = lik_args(series(state.range(0)), 0);
  for (auto _ : state) {
    auto r = session().call("FARMALIK", args);
    if (r.status != 0) state.SkipWithError("FARMALIK failed");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_FarmalikCss)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_Farmasim(benchmark::State& state) {
  const std::vector<Value> args = {Value::scalar(0.3), Value::scalar(0.5), Value::scalar(-0.4),
                                   Value::omitted(),   Value::omitted(),
                                   Value::scalar(double(state.range(0))), Value::omitted(),
                                   Value::omitted(),   Value::omitted(),   Value::scalar(3)};
  for (auto _ : state) {
    auto r = session().call("FARMASIM", args);
    if (r.status != 0) state.SkipWithError("FARMASIM failed");
    benchmark::DoNotOptimize(r);
  }
  report_peak(state, [&] { session().call("FARMASIM", args); });
}
BENCHMARK(BM_Farmasim)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);

// FARMACOV at long lags with an AR root of modulus 0.95 (the series length
// of the hypergeometric sums grows with |h| only logarithmically).
void BM_FarmacovLongLag(benchmark::State& state) {
  const std::vector<Value> args = {Value::scalar(0.3), Value::scalar(0.95), Value::omitted(),
                                   Value::omitted(),   Value::omitted(),    Value::omitted(),
                                   Value::scalar(double(state.range(0)))};
  for (auto _ : state) {
    auto r = session().call("FARMACOV", args);
    if (r.status != 0) state.SkipWithError("FARMACOV failed");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_FarmacovLongLag)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("OPENBLAS_NUM_THREADS", "1", 0);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
