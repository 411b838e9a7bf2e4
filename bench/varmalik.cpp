// VARMA likelihood: seconds per evaluation of the Kalman filter (method 2),
// the innovations algorithm (method 0, autocovariances included) and the
// conditional likelihood (method 1), with their work space in bytes.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "module/varma/covariance.hpp"
#include "module/varma/varma_autocov.hpp"
#include "module/varma/varma_cond.hpp"
#include "module/varma/varma_innov.hpp"
#include "module/varma/varma_kalman.hpp"

namespace {

// A stationary VARMA(1,1) of dimension k with a series simulated from it.
struct Problem {
  int k;
  std::int64_t T;
  std::vector<double> phi, theta, sigma, packed, y;
  Problem(int k_, std::int64_t T_) : k(k_), T(T_) {
    std::mt19937 g(1);
    std::normal_distribution<double> N;
    const int kk = k * k;
    phi.assign(kk, 0.0);
    theta.assign(kk, 0.0);
    sigma.assign(kk, 0.0);
    for (int i = 0; i < k; ++i) {
      phi[i * k + i] = 0.5;
      theta[i * k + i] = -0.3;
      sigma[i * k + i] = 1.0;
      if (i + 1 < k) {
        phi[i * k + i + 1] = 0.1;
        theta[(i + 1) * k + i] = 0.2;
        sigma[i * k + i + 1] = sigma[(i + 1) * k + i] = 0.3;
      }
    }
    packed.resize(std::size_t(mvtsa::packed_size(k)));
    mvtsa::pack_symmetric(sigma.data(), k, packed.data());
    // Y(t) = Phi Y(t-1) + e(t) - Theta e(t-1), e with covariance ~ sigma
    y.assign(std::size_t(T) * k, 0.0);
    std::vector<double> e_prev(k, 0.0), e(k);
    for (std::int64_t t = 0; t < T; ++t) {
      for (int i = 0; i < k; ++i) e[i] = N(g);
      for (int i = 0; i < k; ++i) {
        double v = e[i];
        for (int j = 0; j < k; ++j) {
          if (t > 0) v += phi[i * k + j] * y[(t - 1) * k + j];
          v -= theta[i * k + j] * e_prev[j];
        }
        y[t * k + i] = v;
      }
      e_prev = e;
    }
  }
};

class HostScope {
 public:
  HostScope() {
    h_.activate();
    mvtsa::set_host_table(h_.table());
  }

 private:
  mvts::Host h_;
};

void BM_Kalman(benchmark::State& st) {
  HostScope host;
  const Problem p(int(st.range(0)), st.range(1));
  double r[3];
  for (auto _ : st) {
    const int s = mvtsa::varma_kalman_loglik(&r[0], &r[1], &r[2], p.y.data(), p.T, p.k,
                                             p.phi.data(), 1, 1, nullptr, p.theta.data(), 1, 1,
                                             nullptr, p.packed.data());
    if (s != 0) st.SkipWithError("status");
    benchmark::DoNotOptimize(r[0]);
  }
  st.counters["T"] = double(p.T);
}
BENCHMARK(BM_Kalman)->Args({2, 200})->Args({2, 1000})->Args({2, 10000})->Args({3, 1000})
    ->Unit(benchmark::kMicrosecond);

void BM_Innovations(benchmark::State& st) {
  HostScope host;
  const Problem p(int(st.range(0)), st.range(1));
  const int k = p.k;
  std::vector<double> gam(2 * std::size_t(k) * k);
  const std::uint64_t words = mvtsa::varma_innov_work_size(p.T, k, 1, 1);
  std::vector<double> work(words);
  std::vector<char> flags(static_cast<std::size_t>(k));
  double r[3];
  for (auto _ : st) {
    if (mvtsa::varma_autocov(gam.data(), 1, p.sigma.data(), p.phi.data(), p.theta.data(), 1, 1,
                             k) != 0)
      st.SkipWithError("autocov");
    const int s = mvtsa::varma_innov_loglik(&r[0], &r[1], &r[2], p.y.data(), p.T, k,
                                            p.phi.data(), 1, p.theta.data(), 1, p.sigma.data(),
                                            gam.data(), work.data(), flags.data());
    if (s != 0) st.SkipWithError("status");
    benchmark::DoNotOptimize(r[0]);
  }
  st.counters["work_bytes"] = double(words * sizeof(double));
}
BENCHMARK(BM_Innovations)->Args({3, 10000})->Args({3, 20000})->Unit(benchmark::kMicrosecond);

void BM_Conditional(benchmark::State& st) {
  HostScope host;
  const Problem p(int(st.range(0)), st.range(1));
  const int k = p.k;
  const std::uint64_t words = mvtsa::varma_cond_work_size(k, 1);
  std::vector<double> work(words);
  std::vector<char> flags(static_cast<std::size_t>(k));
  double r[3];
  for (auto _ : st) {
    const int s = mvtsa::varma_cond_loglik(&r[0], &r[1], &r[2], p.y.data(), p.T, k, p.phi.data(),
                                           1, p.theta.data(), 1, p.packed.data(), work.data(),
                                           flags.data());
    if (s != 0) st.SkipWithError("status");
    benchmark::DoNotOptimize(r[0]);
  }
  st.counters["work_bytes"] = double(words * sizeof(double));
}
BENCHMARK(BM_Conditional)->Args({3, 10000})->Args({3, 20000})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
