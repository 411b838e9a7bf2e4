// FARMACOV at long lags through the host: one hypergeometric table per AR
// root (one series, then one step per lag), so that the time grows linearly
// in the lag whatever the modulus of the roots.  (bench_farma keeps the
// phi = 0.95 case beside the likelihoods.)
#include <benchmark/benchmark.h>

#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "host/host.hpp"
#include "module/farma/arfima_autocov.hpp"
#include "module/farma/poly_roots.hpp"
#include "module/frame/host.hpp"

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

// One AR coefficient at a distant lag s (the s roots of z^s = phi, of
// modulus phi^(1/s)): FARMACOV d = 0.3 through the host, which sums the
// roots as one group, and the two routes to the root sums alone on the same
// model, the per-root route (sowell_root_sums, s series and s tables) as
// the peer of the grouped one (sowell_grouped_sums) in the same run.
void BM_FarmacovOneDistantLag(benchmark::State& state) {
  const double phi = state.range(1) / 1000.0;
  const std::vector<Value> args = {Value::scalar(0.3), Value::scalar(phi), Value::omitted(),
                                   Value::omitted(), Value::scalar(double(state.range(0))),
                                   Value::omitted(), Value::scalar(12)};
  for (auto _ : state) {
    auto r = session().call("FARMACOV", args);
    if (r.status != 0) state.SkipWithError("FARMACOV failed");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_FarmacovOneDistantLag)
    ->Args({300, 990})->Args({1000, 900})->Args({1000, 990})->Args({2000, 999})
    ->Unit(benchmark::kMillisecond);

void root_sums(benchmark::State& state, bool grouped) {
  mvts::Host host;
  host.activate();
  mvtsa::set_host_table(host.table());
  const int s = int(state.range(0));
  const double phi = state.range(1) / 1000.0, d = 0.3;
  std::vector<double> a(std::size_t(s) + 1, 0.0), re(s), im(s), jt(mvtsa::poly_roots_work_size(s));
  a[0] = 1.0;
  a[std::size_t(s)] = -phi;
  int degree = s;
  mvtsa::poly_zeros(a.data(), &degree, re.data(), im.data(), jt.data());
  std::vector<double> roots(2 * std::size_t(s)), zeta(2 * std::size_t(s));
  for (int j = 0; j < s; ++j) {
    roots[2 * j] = re[j];
    roots[2 * j + 1] = im[j];
  }
  const std::int64_t hlo = -12, hhi = s, X = s;
  std::vector<double> S(std::size_t(hhi - hlo + 1)),
      work(std::size_t(std::max<std::int64_t>(2 * (2 * X + 1),
                                              mvtsa::sowell_grouped_work_size(s, X))));
  for (auto _ : state) {
    int st;
    if (grouped) {
      st = mvtsa::sowell_grouped_sums(d, a.data(), s, s, X, hlo, hhi, S.data(), work.data());
    } else {
      mvtsa::sowell_weights(roots.data(), s, true, zeta.data());
      st = mvtsa::sowell_root_sums(d, roots.data(), zeta.data(), s, true, X, hlo, hhi, S.data(),
                                   work.data());
    }
    if (st != 0) state.SkipWithError("root sums failed");
    benchmark::DoNotOptimize(S[0]);
  }
}
void BM_SowellRootSums(benchmark::State& state) { root_sums(state, false); }
void BM_SowellGroupedSums(benchmark::State& state) { root_sums(state, true); }
BENCHMARK(BM_SowellRootSums)->Args({300, 900})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SowellGroupedSums)->Args({300, 900})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("OPENBLAS_NUM_THREADS", "1", 0);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
