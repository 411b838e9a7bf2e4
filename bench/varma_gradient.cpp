// The VARMA Kalman likelihood with and without its adjoint gradient
// (varma_kalman_gradient.hpp): seconds per evaluation of the value alone
// (varmafit_kalman_loglik, VARMAFIT's objective) and of the value with the
// gradient, on VAR(2), VARMA(1,1) and VARMA(2,1) models of dimension 2 and 3
// at T = 200 and 1000.  The ratio of the two is the cost of the gradient in
// values; differences would cost n + 1 values (n the parameters).
//   build/bin/bench_varma_gradient --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "module/linalg/covariance.hpp"
#include "module/varma/varma_kalman.hpp"
#include "module/varma/varma_kalman_gradient.hpp"
#include "module/varma/varmafit_kalman.hpp"

namespace {

// A stationary model (AR blocks 0.4 I + 0.1 off the diagonal, then 0.2 I;
// MA blocks -0.3 I, then 0.1 I), a series simulated from it.
struct Problem {
  int k, p, q;
  std::int64_t T;
  std::vector<int> ar_lags, ma_lags;
  std::vector<double> ar, ma, packed, y;
  Problem(int k_, int p_, int q_, std::int64_t T_) : k(k_), p(p_), q(q_), T(T_) {
    const int kk = k * k;
    ar.assign(std::size_t(p * kk), 0.0);
    ma.assign(std::size_t(q * kk), 0.0);
    for (int b = 0; b < p; ++b) {
      ar_lags.push_back(b + 1);
      for (int i = 0; i < k; ++i) {
        ar[b * kk + i * k + i] = b == 0 ? 0.4 : 0.2;
        if (b == 0 && i + 1 < k) ar[b * kk + i * k + i + 1] = 0.1;
      }
    }
    for (int b = 0; b < q; ++b) {
      ma_lags.push_back(b + 1);
      for (int i = 0; i < k; ++i) ma[b * kk + i * k + i] = b == 0 ? -0.3 : 0.1;
    }
    std::vector<double> sigma(std::size_t(kk), 0.0);
    for (int i = 0; i < k; ++i) {
      sigma[i * k + i] = 1.0;
      if (i + 1 < k) sigma[i * k + i + 1] = sigma[(i + 1) * k + i] = 0.3;
    }
    packed.resize(std::size_t(mvtsa::packed_size(k)));
    mvtsa::pack_symmetric(sigma.data(), k, packed.data());
    std::mt19937 g(7);
    std::normal_distribution<double> N;
    const std::int64_t burn = 200;
    std::vector<double> z(std::size_t((T + burn) * k), 0.0), e(z.size());
    for (double& x : e) x = N(g);
    for (std::int64_t t = 0; t < T + burn; ++t)
      for (int i = 0; i < k; ++i) {
        double v = e[t * k + i];
        for (int b = 0; b < p; ++b)
          for (int j = 0; j < k; ++j)
            if (t > b) v += ar[b * kk + i * k + j] * z[(t - b - 1) * k + j];
        for (int b = 0; b < q; ++b)
          for (int j = 0; j < k; ++j)
            if (t > b) v -= ma[b * kk + i * k + j] * e[(t - b - 1) * k + j];
        z[t * k + i] = v;
      }
    y.assign(z.begin() + burn * k, z.end());
  }
  int pmax() const { return p; }
  int qmax() const { return q; }
};

void run(benchmark::State& state, bool gradient) {
  mvts::Host host;
  host.activate();
  mvtsa::set_host_table(host.table());
  const Problem pr(int(state.range(0)), int(state.range(1)), int(state.range(2)),
                   state.range(3));
  std::vector<double> fw(mvtsa::varmafit_kalman_work_size(pr.k, pr.p, pr.q));
  std::vector<double> gw(mvtsa::kalman_gradient_work(pr.k, pr.p, pr.q, pr.T));
  std::vector<double> gar(pr.ar.size()), gma(pr.ma.size()), gs(std::size_t(pr.k * pr.k));
  mvtsa::KalmanGradient g{gar.data(), gma.data(), gs.data()};
  double out[3];
  for (auto _ : state) {
    const int st =
        gradient
            ? mvtsa::varma_kalman_loglik_gradient(out, &g, pr.y.data(), pr.T, pr.k, pr.ar.data(),
                                                  pr.p, pr.p, pr.ar_lags.data(), pr.ma.data(),
                                                  pr.q, pr.q, pr.ma_lags.data(),
                                                  pr.packed.data(), fw.data(), gw.data())
            : mvtsa::varmafit_kalman_loglik(out, pr.y.data(), pr.T, pr.k, pr.ar.data(), pr.p,
                                            pr.p, pr.ar_lags.data(), pr.ma.data(), pr.q, pr.q,
                                            pr.ma_lags.data(), pr.packed.data(), fw.data());
    if (st != 0 || (gradient && !g.given)) {
      state.SkipWithError("the likelihood failed");
      return;
    }
    benchmark::DoNotOptimize(out[0]);
  }
  state.counters["params"] = double((pr.p + pr.q) * pr.k * pr.k + pr.k * (pr.k + 1) / 2);
}

void BM_Value(benchmark::State& state) { run(state, false); }
void BM_ValueAndGradient(benchmark::State& state) { run(state, true); }

void cases(benchmark::internal::Benchmark* b) {
  for (int k : {2, 3})
    for (auto pq : {std::pair{2, 0}, std::pair{1, 1}, std::pair{2, 1}})
      for (int T : {200, 1000}) b->Args({k, pq.first, pq.second, T});
}

BENCHMARK(BM_Value)->Apply(cases)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ValueAndGradient)->Apply(cases)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
