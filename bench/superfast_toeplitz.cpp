// The exact ARFIMA likelihood on long series: the superfast route
// (superfast_toeplitz.hpp, O(n log^2 n)) beside the Durbin-Levinson route
// (O(n^2)) in the same run.
//   BM_ToeplitzRoute/n/route: the Toeplitz kernel alone on the
//     autocovariances of ARFIMA(1, 0.3, 1) (phi = 0.5, theta = -0.4), route
//     0 Durbin-Levinson, 1 superfast (its checks included): the crossover
//     and the growth exponents;
//   BM_ExactLoglik/n: one exact likelihood evaluation as FARMALIK makes it
//     (farma_loglik: the autocovariances, then the route toeplitz_loglik
//     chooses), with the peak resident memory of one call in a forked child;
//   BM_Farmacov/lag: the autocovariances to lag 1e6 through the host;
//   BM_Farmasim/n: FARMASIM through the host (its O(n^2) factor);
//   BM_FarmafitExact/n: one exact ARFIMA(1, d, 1) fit (FARMAFIT, analytic
//     gradients) at n = 1e5;
//   BM_FarmafitMeanExact/n: the same with the mean estimated (FARMAFITMEAN:
//     the GLS mean profiled, on values only), the series' level 10.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <vector>

#include "abi/mcn_abi.h"
#include "tests/farma/long_series.hpp"
#include "host/host.hpp"
#include "module/farma/durbin_levinson.hpp"
#include "module/farma/farma_loglik.hpp"
#include "module/farma/superfast_toeplitz.hpp"
#include "module/frame/host.hpp"

extern "C" void* mcn_main(const mcn_host_table* table, void* second);

namespace {

using mvts::Value;

constexpr double kD = 0.3, kPhi = 0.5, kTheta = -0.4;
const double kAr[2] = {1.0, -kPhi}, kMa[2] = {1.0, -kTheta};

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

struct Problem {
  std::vector<double> y, gamma;
};

Problem problem(std::int64_t n) {
  Problem p;
  p.y = farma_test::arfima_series(kD, {kPhi}, {kTheta}, n, 5);
  p.gamma.resize(std::size_t(n));
  std::vector<double> w(mvtsa::farma_model_gamma_work_size(n - 1, 1, 1));
  mvtsa::farma_model_gamma(p.gamma.data(), n - 1, kD, 1, 1, kAr, kMa, 1.0, w.data());
  return p;
}

void BM_ToeplitzRoute(benchmark::State& state) {
  mvts::Host host;
  host.activate();
  mvtsa::set_host_table(host.table());
  const std::int64_t n = state.range(0);
  const bool superfast = state.range(1) != 0;
  const Problem p = problem(n);
  std::vector<double> work(superfast ? mvtsa::superfast_work_size(n)
                                     : std::uint64_t(mvtsa::levinson_work_size(n)));
  double logdet = 0.0, quad = 0.0, v = 0.0;
  for (auto _ : state) {
    const int st = superfast ? mvtsa::toeplitz_superfast(p.gamma.data(), p.y.data(), n,
                                                          work.data(), &logdet, &quad, &v)
                             : mvtsa::toeplitz_loglik_levinson(p.gamma.data(), p.y.data(), n,
                                                               work.data(), &logdet, &quad);
    if (st != 0) state.SkipWithError("the route failed or declined");
    benchmark::DoNotOptimize(quad);
  }
  state.counters["loglik"] = -(logdet + quad) / 2;
}
BENCHMARK(BM_ToeplitzRoute)
    ->ArgsProduct({{1024, 2048, 3072, 4096, 6144, 8192, 16384}, {0, 1}})
    ->Args({100000, 0})->Args({200000, 0})
    ->Args({100000, 1})->Args({200000, 1})->Args({1000000, 1})
    ->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_ExactLoglik(benchmark::State& state) {
  mvts::Host host;
  host.activate();
  mvtsa::set_host_table(host.table());
  const std::int64_t n = state.range(0);
  const std::vector<double> y = farma_test::arfima_series(kD, {kPhi}, {kTheta}, n, 5);
  auto call = [&] {
    std::vector<double> w(mvtsa::farma_loglik_work_size(n, 1, 1, mvtsa::kFarmaExact));
    const int st = mvtsa::farma_loglik(w.data(), y.data(), n, kD, 1, 1, kAr, kMa, 1.0,
                                       mvtsa::kFarmaExact);
    return st == 0 ? w[0] : 0.0;
  };
  double L = 0.0;
  for (auto _ : state) {
    L = call();
    benchmark::DoNotOptimize(L);
  }
  state.counters["loglik"] = L;
  const long base = child_peak_kib([] {});
  state.counters["peak_MiB"] = double(child_peak_kib([&] { call(); }) - base) / 1024.0;
}
BENCHMARK(BM_ExactLoglik)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()->UseRealTime();

void BM_Farmacov(benchmark::State& state) {
  mvts::Session s;
  const std::vector<Value> args = {Value::scalar(kD), Value::scalar(kPhi), Value::scalar(kTheta),
                                   Value::omitted(), Value::omitted(), Value::omitted(),
                                   Value::scalar(double(state.range(0)))};
  for (auto _ : state) {
    auto r = s.call("FARMACOV", args);
    if (r.status != 0) state.SkipWithError("FARMACOV failed");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_Farmacov)->Arg(1000000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_Farmasim(benchmark::State& state) {
  mvts::Session s;
  const std::vector<Value> args = {Value::scalar(kD), Value::scalar(kPhi), Value::scalar(kTheta),
                                   Value::omitted(), Value::omitted(),
                                   Value::scalar(double(state.range(0))), Value::omitted(),
                                   Value::omitted(), Value::omitted(), Value::scalar(17)};
  for (auto _ : state) {
    auto r = s.call("FARMASIM", args);
    if (r.status != 0) state.SkipWithError("FARMASIM failed");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_Farmasim)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);

void BM_FarmafitExact(benchmark::State& state) {
  mvts::Host host;
  if (!host.attach(mcn_main)) {
    state.SkipWithError("the module could not be attached");
    return;
  }
  const std::int64_t n = state.range(0);
  const Value y = Value::column(farma_test::arfima_series(kD, {kPhi}, {kTheta}, n, 7));
  mvts::CallResult r;
  for (auto _ : state) {
    r = host.call("FARMAFIT", {y, Value::scalar(1), Value::scalar(1), Value::scalar(1)});
    if (r.status != 0) {
      state.SkipWithError("FARMAFIT failed");
      return;
    }
  }
  state.counters["d"] = r.outputs[0]->at(0, 0);
  state.counters["ar"] = r.outputs[1]->at(0, 0);
  state.counters["ma"] = r.outputs[2]->at(0, 0);
}
BENCHMARK(BM_FarmafitExact)->Arg(100000)->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);

void BM_FarmafitMeanExact(benchmark::State& state) {
  mvts::Session s;
  const std::int64_t n = state.range(0);
  std::vector<double> y = farma_test::arfima_series(kD, {kPhi}, {kTheta}, n, 7);
  for (double& v : y) v += 10.0;
  const std::vector<Value> args = {Value::column(y), Value::scalar(1), Value::scalar(1),
                                   Value::scalar(1)};
  mvts::CallResult r;
  for (auto _ : state) {
    r = s.call("FARMAFITMEAN", args);
    if (r.status != 0) {
      state.SkipWithError("FARMAFITMEAN failed");
      return;
    }
  }
  state.counters["d"] = r.outputs[0]->at(0, 0);
  state.counters["ar"] = r.outputs[1]->at(0, 0);
  state.counters["ma"] = r.outputs[2]->at(0, 0);
  state.counters["mean"] = r.outputs[4]->at(0, 0);
}
BENCHMARK(BM_FarmafitMeanExact)->Arg(100000)->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
