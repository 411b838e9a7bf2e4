// VARMA likelihood: seconds per evaluation of the Kalman filter (method 2),
// the innovations algorithm (method 0, autocovariances included) and the
// conditional likelihood (method 1), with their work space in bytes.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "module/linalg/covariance.hpp"
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
  mvts::Host& host() { return h_; }

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

// A wide state: k = 10 variables, an AR block at every lag 1 .. p (the
// VARMA(1,1) coefficients divided by p, so the model stays stationary), T = 50.
// The state dimension is f = k p = 100.  The host's memory limit is set to
// 50 MiB, so a call needing more ends with status 1 and the benchmark fails;
// max_rss_MiB is the process's peak resident set after the runs.
void BM_KalmanWide(benchmark::State& st) {
  HostScope scope;
  const Problem base(10, 50);
  const int k = base.k, p = int(st.range(0));
  std::vector<double> ar;
  for (int l = 0; l < p; ++l)
    for (double x : base.phi) ar.push_back(x / p);
  scope.host().set_memory_limit(std::uint64_t(50) << 20);
  double r[3];
  for (auto _ : st) {
    const int s = mvtsa::varma_kalman_loglik(&r[0], &r[1], &r[2], base.y.data(), base.T, k,
                                             ar.data(), p, p, nullptr, base.theta.data(), 1, 1,
                                             nullptr, base.packed.data());
    if (s != 0) st.SkipWithError("status");
    benchmark::DoNotOptimize(r[0]);
  }
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  st.counters["f"] = double(k) * std::max(p, 2);
  st.counters["max_rss_MiB"] = double(ru.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_KalmanWide)->Arg(2)->Arg(5)->Arg(10)->Unit(benchmark::kMillisecond);

// The stationary initial covariance alone for the model of BM_KalmanWide:
// T (f x f, f = 10 max(p, 2)) and Q = R Sigma R' as the filter builds them.
// bench/varmalik_peer.py times scipy.linalg.solve_discrete_lyapunov on them.
void BM_InitialCovariance(benchmark::State& st) {
  const Problem base(10, 1);
  const int k = base.k, p = int(st.range(0)), m = std::max(p, 2);
  const std::int64_t f = std::int64_t(k) * m, kk = std::int64_t(k) * k;
  std::vector<double> ar, T(std::size_t(f * f), 0.0), Q(std::size_t(f * f), 0.0);
  for (int l = 0; l < p; ++l)
    for (double x : base.phi) ar.push_back(x / p);
  for (std::int64_t i = 0; i + k < f; ++i) T[std::size_t(i * f + i + k)] = 1.0;
  for (int l = 1; l <= p; ++l)
    for (int r = 0; r < k; ++r)
      for (int c = 0; c < k; ++c)
        T[std::size_t(((m - 1) * k + r) * f + (m - l) * k + c)] =
            ar[std::size_t((l - 1) * kk + r * k + c)];
  // Q = R Sigma R' with R = [Psi_0; ...; Psi_{m-1}]
  std::vector<double> psi(std::size_t(m * kk));
  mvtsa::varma_psi_weights(ar.data(), p, base.theta.data(), 1, k, m, psi.data());
  auto R = [&](std::int64_t r, int a) { return psi[std::size_t((r / k) * kk + (r % k) * k + a)]; };
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t c = 0; c < f; ++c) {
      double acc = 0.0;
      for (int a = 0; a < k; ++a)
        for (int b = 0; b < k; ++b) acc += R(r, a) * base.sigma[std::size_t(a * k + b)] * R(c, b);
      Q[std::size_t(r * f + c)] = acc;
    }
  std::vector<double> P(std::size_t(f * f)), work(mvtsa::kalman_initial_covariance_work(f));
  for (auto _ : st) {
    if (mvtsa::kalman_initial_covariance(f, k, T.data(), Q.data(), P.data(), work.data()) != 0)
      st.SkipWithError("not stationary");
    benchmark::DoNotOptimize(P[0]);
  }
  st.counters["f"] = double(f);
  st.counters["work_bytes"] = double(work.size() * sizeof(double));
}
BENCHMARK(BM_InitialCovariance)->Arg(2)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);

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
