// ARFIMA likelihood, simulation and exact fits through the host:
//   FARMALIK exact method (autocovariances, then the Durbin-Levinson
//     prediction-error decomposition): O(n^2) time, O(n) memory, n = 500
//     to 1e5; the recursion alone on the same autocovariances
//     (BM_ToeplitzLoglik, the figure bench/durbin_levinson.py sets beside
//     numpy's), and the growth exponent from consecutive sizes;
//   FARMALIK conditional sum of squares: O(n^2) for the fractional filter;
//   FARMASIM: fractional noise by the Durbin-Levinson form of the Cholesky
//     factor, O(n^2) time and O(n) memory;
//   FARMAFIT exact, ARFIMA(1, d, 1) at n = 2000 and 1e4: seconds per fit,
//     the estimates, and the number of likelihood evaluations estimated as
//     the fit's CPU time over one FARMALIK call's at the estimates.
// The peak memory of one call is measured in a forked child (maximum
// resident set size, less that of a child that makes no call).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <cstdlib>
#include <functional>
#include <vector>

#include "host/host.hpp"
#include "module/farma/durbin_levinson.hpp"
#include "module/farma/farma_loglik.hpp"
#include "tests/fit/simulate.hpp"

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
BENCHMARK(BM_FarmalikExact)
    ->Arg(500)->Arg(1000)->Arg(2000)->Arg(5000)->Arg(10000)->Arg(20000)->Arg(50000)
    ->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The recursion alone, on the autocovariances FARMACOV gives for the model
// of lik_args (the data bench/durbin_levinson.py hands to numpy).
void BM_ToeplitzLoglik(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  const std::vector<double> y = series(n);
  auto g = session().call("FARMACOV", {Value::scalar(0.3), Value::scalar(0.5), Value::scalar(-0.4),
                                       Value::omitted(), Value::omitted(), Value::omitted(),
                                       Value::scalar(double(n - 1))});
  if (g.status != 0) {
    state.SkipWithError("FARMACOV failed");
    return;
  }
  std::vector<double> work(std::size_t(mvtsa::toeplitz_loglik_work_size(n)));
  double logdet = 0.0, quad = 0.0;
  for (auto _ : state) {
    if (mvtsa::toeplitz_loglik(g.outputs[0]->data.data(), y.data(), n, work.data(), &logdet,
                               &quad) != 0)
      state.SkipWithError("toeplitz_loglik failed");
    benchmark::DoNotOptimize(quad);
  }
  state.counters["logdet"] = logdet;
  state.counters["quad"] = quad;
}
BENCHMARK(BM_ToeplitzLoglik)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);

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

// FARMAFIT by the exact method on an ARFIMA(1, 0.3, 1) series with
// phi = -0.5, theta = 0.3 (the series of the fitting tests).
void BM_FarmafitExact(benchmark::State& state) {
  const int n = int(state.range(0));
  const Value y = Value::column(fit_test::arfima11(0.3, -0.5, 0.3, n, 7));
  mvts::CallResult r;
  for (auto _ : state) {
    r = session().call("FARMAFIT", {y, Value::scalar(1), Value::scalar(1), Value::scalar(1)});
    if (r.status != 0) state.SkipWithError("FARMAFIT failed");
  }
  if (r.status != 0) return;
  const double d = r.outputs[0]->at(0, 0), ar = r.outputs[1]->at(0, 0),
               ma = r.outputs[2]->at(0, 0), s2 = r.outputs[3]->at(0, 0);
  state.counters["d"] = d;
  state.counters["ar"] = ar;
  state.counters["ma"] = ma;
  state.counters["sigma2"] = s2;
  const std::vector<Value> at = {y, Value::scalar(d), Value::scalar(ar), Value::scalar(ma),
                                 Value::scalar(s2), Value::omitted(), Value::omitted(),
                                 Value::scalar(1)};
  auto l = session().call("FARMALIK", at);
  state.counters["loglik"] = l.status == 0 ? l.outputs[0]->at(0, 0) : std::nan("");
  // One likelihood evaluation at the estimates, timed over a few calls, and
  // the fit again, both in process CPU time (steadier than wall time on a
  // shared machine).
  const int reps = 5;
  const std::clock_t c0 = std::clock();
  for (int i = 0; i < reps; ++i) session().call("FARMALIK", at);
  const double one = double(std::clock() - c0) / reps;
  const std::clock_t c1 = std::clock();
  session().call("FARMAFIT", {y, Value::scalar(1), Value::scalar(1), Value::scalar(1)});
  const double fit = double(std::clock() - c1);
  state.counters["evals_est"] = fit / one;
}
BENCHMARK(BM_FarmafitExact)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond)
    ->Iterations(1)->UseRealTime();

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
