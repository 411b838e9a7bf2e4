// VARMACOV and VARMASIM: run time through the host, and the peak memory of
// VARMASIM as a function of n (it must grow linearly).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "module/varma/varma_autocov.hpp"

namespace {

using mvts::Value;
const Value kNone = Value::omitted();

// A stationary VARMA(4, 2) with k = 3: diagonal-dominant AR blocks that
// shrink with the lag, small MA blocks.
std::vector<Value> varma42() {
  std::vector<double> phi(4 * 9), theta(2 * 9);
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int i = 0; i < 4; ++i)
    for (int e = 0; e < 9; ++e) phi[i * 9 + e] = (e % 4 == 0 ? 0.25 : 0.05) * u(rng) / (i + 1);
  for (double& x : theta) x = 0.2 * u(rng);
  return {Value::matrix(12, 3, phi), Value::matrix(6, 3, theta),
          Value::matrix(3, 3, {2, 0.5, 0.1, 0.5, 1, 0.2, 0.1, 0.2, 1.5})};
}

void BM_Varmacov(benchmark::State& state) {
  mvts::Session s;
  std::vector<Value> args = varma42();
  args.insert(args.end(), {kNone, kNone, Value::scalar(100)});
  for (auto _ : state) {
    auto r = s.call("VARMACOV", args);
    if (r.status != 0) state.SkipWithError("VARMACOV failed");
    benchmark::DoNotOptimize(r.outputs[0]->data.data());
  }
}
BENCHMARK(BM_Varmacov)->Unit(benchmark::kMicrosecond);

// The kernel alone (no argument checks, no stationarity test).
void BM_VarmaAutocovKernel(benchmark::State& state) {
  const std::vector<Value> m = varma42();
  std::vector<double> out(9 * 101), work(mvtsa::varma_autocov_work_size(4, 2, 3));
  for (auto _ : state) {
    int st = mvtsa::varma_autocov_work(out.data(), 100, m[2].m.data.data(), m[0].m.data.data(),
                                       m[1].m.data.data(), 4, 2, 3, work.data());
    benchmark::DoNotOptimize(st);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_VarmaAutocovKernel)->Unit(benchmark::kMicrosecond);

std::vector<Value> varmasim21(std::int64_t n) {
  return {Value::matrix(6, 3, {0.5, 0.1, 0, 0.1, 0.4, 0.1, 0, 0.1, 0.3,  //
                               0.2, 0, 0, 0, -0.2, 0, 0, 0, 0.1}),
          Value::matrix(3, 3, {0.3, 0.1, 0, 0, 0.3, 0.1, 0, 0, 0.3}),
          Value::row({1, 2, 3}),
          Value::matrix(3, 3, {2, 0.5, 0.1, 0.5, 1, 0.2, 0.1, 0.2, 1.5}),
          Value::scalar(double(n)),
          kNone,
          kNone,
          kNone,
          Value::scalar(7)};
}

// VARMASIM, k = 3, VARMA(2,1), stationary start.
void BM_Varmasim(benchmark::State& state) {
  mvts::Session s;
  const std::vector<Value> args = varmasim21(state.range(0));
  for (auto _ : state) {
    auto r = s.call("VARMASIM", args);
    if (r.status != 0) state.SkipWithError("VARMASIM failed");
    benchmark::DoNotOptimize(r.outputs[0]->data.data());
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Varmasim)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Peak resident memory of one VARMASIM call in a fresh child process, in
// KiB (wait4 reports the child's own maximum resident set).
long child_peak_kib(std::int64_t n) {
  const pid_t pid = fork();
  if (pid == 0) {
    mvts::Session s;
    auto r = s.call("VARMASIM", varmasim21(n));
    _exit(r.status == 0 ? 0 : 1);
  }
  int status = 0;
  struct rusage ru {};
  if (pid < 0 || wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0)
    return -1;
  return ru.ru_maxrss;
}

// Counters: the peak of the call, and the bytes per observation above the
// peak of an n = 1000 call.  Linear growth shows as a constant bytes/obs
// across n (the output alone is 24 bytes an observation for k = 3).
void BM_VarmasimPeakMemory(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  long base = 0, peak = 0;
  for (auto _ : state) {
    base = child_peak_kib(1000);
    peak = child_peak_kib(n);
  }
  if (base < 0 || peak < 0) state.SkipWithError("child call failed");
  state.counters["peak_MiB"] = double(peak) / 1024.0;
  state.counters["bytes/obs"] = double(peak - base) * 1024.0 / double(n - 1000);
}
BENCHMARK(BM_VarmasimPeakMemory)
    ->Arg(250000)
    ->Arg(500000)
    ->Arg(1000000)
    ->Arg(2000000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
