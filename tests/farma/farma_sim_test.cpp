// ARFIMA simulation: the fractional-noise factor against an explicit
// Cholesky factorisation, the truncated moving average, the stationary
// start-up against the ARMA covariances, and FARMASIM's streams, filters,
// summation, mean and checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "tests/farma/dense_reference.hpp"
#include "tests/support/allocation.hpp"
#include "tests/support/argument_checks.hpp"
#include "module/farma/farma_sim.hpp"
#include "module/frame/rng.hpp"

namespace {

using mvts::Value;

// gamma_X(0..N-1) of fractional noise and x = L z with L the Cholesky factor
// of its Toeplitz matrix, by the textbook algorithm on the full matrix.
std::vector<double> cholesky_noise(const std::vector<double>& z, double X) {
  const int N = static_cast<int>(z.size());
  std::vector<double> g(N);
  g[0] = std::tgamma(1 - 2 * X) / std::pow(std::tgamma(1 - X), 2);
  for (int k = 1; k < N; ++k) g[k] = g[k - 1] * (k - 1 + X) / (k - X);
  std::vector<double> L(std::size_t(N) * N, 0.0);
  for (int i = 0; i < N; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = g[i - j];
      for (int k = 0; k < j; ++k) s -= L[i * N + k] * L[j * N + k];
      L[i * N + j] = i == j ? std::sqrt(s) : s / L[j * N + j];
    }
  std::vector<double> x(N, 0.0);
  for (int i = 0; i < N; ++i)
    for (int j = 0; j <= i; ++j) x[i] += L[i * N + j] * z[j];
  return x;
}

std::vector<double> deviates(std::uint32_t seed, int skip, int count) {
  for (int i = 0; i < skip; ++i) mvtsa::rng_normal(&seed);
  std::vector<double> z(count);
  for (double& v : z) v = mvtsa::rng_normal(&seed);
  return z;
}

TEST(FracNoise, DurbinLevinsonFactorEqualsTheCholeskyFactor) {
  std::mt19937 gen(4);
  std::normal_distribution<double> nd;
  for (double X : {0.3, -0.3, 0.49, -0.49}) {
    std::vector<double> z(150);
    for (double& v : z) v = nd(gen);
    std::vector<double> x(150), work(mvtsa::frac_noise_work_size(150));
    ASSERT_EQ(mvtsa::frac_noise_cholesky(x.data(), z.data(), 150, X, work.data()), 0);
    const std::vector<double> want = cholesky_noise(z, X);
    for (int t = 0; t < 150; ++t) EXPECT_NEAR(x[t], want[t], 1e-12 * (1 + std::fabs(want[t]))) << X;
  }
}

// gamma_X(0..N-1) by the recursion frac_noise_cholesky uses.
std::vector<double> frac_gamma(double X, int N) {
  std::vector<double> g(N);
  g[0] = std::tgamma(1 - 2 * X) / std::pow(std::tgamma(1 - X), 2);
  for (int k = 1; k < N; ++k) g[k] = g[k - 1] * (k - 1 + X) / (k - X);
  return g;
}

// Largest |a_t - b_t| relative to the largest |b_t|.
double max_rel_diff(const std::vector<double>& a, const std::vector<double>& b) {
  double diff = 0.0, scale = 0.0;
  for (std::size_t t = 0; t < b.size(); ++t) {
    diff = std::max(diff, std::fabs(a[t] - b[t]));
    scale = std::max(scale, std::fabs(b[t]));
  }
  return diff / scale;
}

// The vectorised recursion against the scalar loop it replaced, on long
// series where the two orders of summation have the most room to drift
// apart.  Measured: at most 2e-13.
TEST(FracNoise, VectorisedRecursionMatchesTheScalarLoop) {
  std::mt19937 gen(8);
  std::normal_distribution<double> nd;
  for (double X : {0.49, 0.3, 0.05, -0.2, -0.49}) {
    for (int N : {1, 2, 3, 5, 8, 2000}) {
      std::vector<double> z(N), x(N), work(mvtsa::frac_noise_work_size(N));
      for (double& v : z) v = nd(gen);
      ASSERT_EQ(mvtsa::frac_noise_cholesky(x.data(), z.data(), N, X, work.data()), 0);
      const std::vector<double> want = farma_test::scalar_levinson_noise(frac_gamma(X, N), z);
      EXPECT_LE(max_rel_diff(x, want), 1e-12) << "X " << X << " N " << N;
    }
  }
}

// (y_0..y_(n-1)) from the stationary start-up with white x has the ARMA
// autocovariances: compared over 20000 replications with the truncated
// MA(infinity) sums, within 5 standard errors (about 0.05 gamma(0)).
TEST(ArmaStartUp, ReplicatesTheStationaryCovariances) {
  struct Case {
    std::vector<double> phi, theta;
  } cases[] = {
      {{0.6}, {0.5, -0.4}},        // q > p: the cross block needs psi_0..psi_(q-1)
      {{0.5, -0.3}, {0.6}},        // q < p
      {{1.2, -0.5}, {}},           // q = 0
      {{-0.7}, {0.3, 0.3, 0.3}},   // q = p + 2
  };
  std::mt19937 gen(77);
  std::normal_distribution<double> nd;
  for (const Case& c : cases) {
    const int p = int(c.phi.size()), q = int(c.theta.size()), n = p + 3;
    std::vector<double> ar{1}, ma{1};
    for (double v : c.phi) ar.push_back(-v);
    for (double v : c.theta) ma.push_back(-v);
    // psi-weights and gamma(h) = sum psi_j psi_(j+h)
    std::vector<double> psi(600);
    for (int j = 0; j < 600; ++j) {
      double s = j == 0 ? 1 : (j <= q ? -c.theta[j - 1] : 0);
      for (int k = 1; k <= p && k <= j; ++k) s += c.phi[k - 1] * psi[j - k];
      psi[j] = s;
    }
    std::vector<double> gam(n);
    for (int h = 0; h < n; ++h)
      for (int j = 0; j + h < 600; ++j) gam[h] += psi[j] * psi[j + h];
    std::vector<double> cov(std::size_t(n) * n, 0.0), y(n), x(n + q),
        work(mvtsa::arma_start_work_size(p, q));
    const int reps = 20000;
    for (int r = 0; r < reps; ++r) {
      for (double& v : x) v = nd(gen);
      mvtsa::arma_start_stationary(y.data(), x.data(), n, p, q, ar.data(), ma.data(), gam.data(),
                                   work.data());
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) cov[i * n + j] += y[i] * y[j] / reps;
    }
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        EXPECT_NEAR(cov[i * n + j], gam[std::abs(i - j)], 0.05 * gam[0])
            << "p " << p << " q " << q << " (" << i << ", " << j << ")";
  }
}

class Farmasim : public ::testing::Test {
 protected:
  // d, phi, theta, mu, sigma, n, AR lags, MA lags, initial, seed
  mvts::CallResult call(std::vector<Value> args) { return s_.call("FARMASIM", args); }
  std::vector<double> sim(std::vector<Value> args) {
    auto r = call(std::move(args));
    EXPECT_EQ(r.status, 0);
    return r.status == 0 && r.outputs[0] ? r.outputs[0]->data : std::vector<double>{};
  }
  static int first_message(const mvts::CallResult& r) {
    return r.messages.empty() ? 0 : r.messages.front().number;
  }
  mvts::Session s_;
  const Value o = Value::omitted();
};

TEST_F(Farmasim, SeedsRepeatAndContinueTheStream) {
  auto with_seed = [&](double seed) {
    return sim({Value::scalar(0.3), o, o, o, o, Value::scalar(40), o, o, o, Value::scalar(seed)});
  };
  const auto a = with_seed(5), b = with_seed(5);
  ASSERT_EQ(a.size(), 40u);
  EXPECT_EQ(a, b);
  const auto first = cholesky_noise(deviates(5, 0, 40), 0.3);
  for (int t = 0; t < 40; ++t) EXPECT_NEAR(a[t], first[t], 1e-12);
  // Seed -7 starts the stream at 7; seed 0 then continues it.
  with_seed(-7);
  const auto next = with_seed(0);
  ASSERT_EQ(next.size(), 40u);
  const auto want = cholesky_noise(deviates(7, 40, 40), 0.3);
  for (int t = 0; t < 40; ++t) EXPECT_NEAR(next[t], want[t], 1e-12);
  // Defaults: 100 values.
  EXPECT_EQ(sim({Value::scalar(0.3), o, o, o, o, o, o, o, o, Value::scalar(2)}).size(), 100u);
}

// A seed gives the series it gave before the recursion was vectorised: the
// scalar loop on the same deviates, within 1e-12 of the largest value
// (measured: at most 2e-13).
TEST_F(Farmasim, SeriesOfASeedAreThoseOfTheScalarLoop) {
  for (double d : {0.3, -0.4, 0.45}) {
    const auto y = sim({Value::scalar(d), o, o, o, o, Value::scalar(1500), o, o, o,
                        Value::scalar(5)});
    ASSERT_EQ(y.size(), 1500u);
    const auto want = farma_test::scalar_levinson_noise(frac_gamma(d, 1500), deviates(5, 0, 1500));
    EXPECT_LE(max_rel_diff(y, want), 1e-12) << d;
  }
}

TEST_F(Farmasim, SampleAutocovariancesOfLongFractionalNoise) {
  const double d = 0.2;
  auto g = s_.call("FARMACOV", {Value::scalar(d), o, o, o, o, o, Value::scalar(3)});
  ASSERT_EQ(g.status, 0);
  ASSERT_TRUE(g.outputs[0]);
  ASSERT_EQ(g.outputs[0]->data.size(), 4u);
  const int n = 4000, runs = 8;
  std::vector<double> acf(4, 0.0);
  for (int r = 0; r < runs; ++r) {
    const auto y =
        sim({Value::scalar(d), o, o, o, o, Value::scalar(n), o, o, o, Value::scalar(100 + r)});
    ASSERT_EQ(y.size(), std::size_t(n));
    for (int k = 0; k < 4; ++k)
      for (int t = 0; t + k < n; ++t) acf[k] += y[t] * y[t + k] / (double(n) * runs);
  }
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(acf[k], g.outputs[0]->data[k], 0.06) << k;
}

TEST_F(Farmasim, NonstationaryArPartsStartFromTheInitialValue) {
  const auto x = sim({Value::scalar(0.3), o, o, o, o, Value::scalar(50), o, o, o, Value::scalar(3)});
  // Unit root: y_t = y_(t-1) + x_t with y_(-1) = 5.
  const auto u = sim({Value::scalar(0.3), Value::scalar(1), o, o, o, Value::scalar(50), o, o,
                      Value::scalar(5), Value::scalar(3)});
  ASSERT_EQ(x.size(), 50u);
  ASSERT_EQ(u.size(), 50u);
  EXPECT_NEAR(u[0] - 5, x[0], 1e-12);
  for (int t = 1; t < 50; ++t) EXPECT_NEAR(u[t] - u[t - 1], x[t], 1e-10);
  // Roots 0.5 twice: y_t = y_(t-1) - 0.25 y_(t-2) + x_t.
  const auto r = sim({Value::scalar(0.3), Value::column({1.0, -0.25}), o, o, o, Value::scalar(50),
                      o, o, Value::scalar(2), Value::scalar(3)});
  ASSERT_EQ(r.size(), 50u);
  auto prev = [&](int t) { return t >= 0 ? r[t] : 2.0; };
  for (int t = 0; t < 50; ++t) EXPECT_NEAR(r[t] - prev(t - 1) + 0.25 * prev(t - 2), x[t], 1e-10);
  // An explosive root overflows: message 316.
  auto big = call({Value::scalar(0.3), Value::scalar(2), o, o, o, Value::scalar(2000), o, o, o,
                   Value::scalar(3)});
  EXPECT_EQ(big.status, 100);
  EXPECT_EQ(first_message(big), 316);
  EXPECT_FALSE(big.outputs[0].has_value());
}

TEST_F(Farmasim, MovingAverageTermsFilterTheNoise) {
  // p = 0: y_t = x_(t+q) - theta_1 x_(t+q-1) from n + q values of noise.
  const auto x = sim({Value::scalar(0.2), o, o, o, o, Value::scalar(31), o, o, o, Value::scalar(8)});
  const auto y = sim({Value::scalar(0.2), o, Value::scalar(0.6), o, o, Value::scalar(30), o, o, o,
                      Value::scalar(8)});
  ASSERT_EQ(x.size(), 31u);
  ASSERT_EQ(y.size(), 30u);
  for (int t = 0; t < 30; ++t) EXPECT_NEAR(y[t], x[t + 1] - 0.6 * x[t], 1e-12);
}

TEST_F(Farmasim, TruncatedMovingAverageForDBelowMinusOneHalf) {
  const double X = -0.7;
  const auto y = sim({Value::scalar(X), o, o, o, o, Value::scalar(30), o, o, o, Value::scalar(9)});
  ASSERT_EQ(y.size(), 30u);
  const auto z = deviates(9, 0, 130);
  double w[100] = {1, X};  // Gamma(1 + X) / Gamma(X) = X
  for (int k = 2; k < 100; ++k) w[k] = w[k - 1] * (k - 1 + X) / k;
  for (int t = 0; t < 30; ++t) {
    double want = 0;
    for (int u = 0; u < 100; ++u) want += w[u] * z[100 + t - u];
    EXPECT_NEAR(y[t], want, 1e-12);
  }
}

TEST_F(Farmasim, SummationMeanAndSigma) {
  // d = 0.7: noise of d - 1 = -0.3, summed from `initial`.
  const auto x = sim({Value::scalar(-0.3), o, o, o, o, Value::scalar(30), o, o, o, Value::scalar(4)});
  const auto s = sim({Value::scalar(0.7), o, o, o, o, Value::scalar(30), o, o, Value::scalar(2),
                      Value::scalar(4)});
  ASSERT_EQ(x.size(), 30u);
  ASSERT_EQ(s.size(), 30u);
  EXPECT_NEAR(s[0], 2 + x[0], 1e-12);
  for (int t = 1; t < 30; ++t) EXPECT_NEAR(s[t] - s[t - 1], x[t], 1e-12);
  const auto m = sim({Value::scalar(-0.3), o, o, Value::scalar(10), o, Value::scalar(30), o, o, o,
                      Value::scalar(4)});
  const auto v = sim({Value::scalar(-0.3), o, o, o, Value::scalar(4), Value::scalar(30), o, o, o,
                      Value::scalar(4)});
  ASSERT_EQ(m.size(), 30u);
  ASSERT_EQ(v.size(), 30u);
  for (int t = 0; t < 30; ++t) {
    EXPECT_NEAR(m[t], x[t] + 10, 1e-12);
    EXPECT_NEAR(v[t], 2 * x[t], 1e-12);
  }
}

TEST_F(Farmasim, ArgumentChecks) {
  const double nan = std::nan("");
  const std::vector<test_support::ArgumentCase> cases = {
      {"nothing", {}, 17, 0},
      {"d = 1", {Value::scalar(1)}, 100, 372},
      {"d missing", {Value::scalar(nan)}, 17, 0},
      {"phi matrix", {Value::scalar(0.3), Value::matrix(2, 2, {0, 0, 0, 0})}, 6, 0},
      {"mu vector", {Value::scalar(0.3), o, o, Value::row({1, 2})}, 15, 0},
      {"sigma zero", {Value::scalar(0.3), o, o, o, Value::scalar(0)}, 8, 0},
      {"n below one", {Value::scalar(0.3), o, o, o, o, Value::scalar(0.5)}, 100, 353},
      {"n too large", {Value::scalar(0.3), o, o, o, o, Value::scalar(3e9)}, 18, 0},
      {"p not below n", {Value::scalar(0.3), Value::scalar(0.5), o, o, o, Value::scalar(1)}, 100,
       358},
      {"AR lag beyond n",
       {Value::scalar(0.3), Value::scalar(0.5), o, o, o, Value::scalar(5), Value::scalar(5)}, 100,
       358},
      {"MA lags count",
       {Value::scalar(0.3), o, Value::scalar(0.5), o, o, o, o, Value::row({1, 2})}, 100, 356},
      {"initial character",
       {Value::scalar(0.3), o, o, o, o, o, o, o, Value::character("i")}, 13, 0},
      {"seed vector", {Value::scalar(0.3), o, o, o, o, o, o, o, o, Value::row({1, 2})}, 15, 0},
  };
  test_support::expect_argument_failures(s_, "FARMASIM", cases);
}

TEST_F(Farmasim, EveryAllocationFailureIsReportedWithoutLeaks) {
  for (double d : {0.3, -0.7}) {
    const std::vector<Value> args = {Value::scalar(d), Value::scalar(0.5), Value::scalar(0.3), o,
                                     o, Value::scalar(20), o, o, o, Value::scalar(1)};
    EXPECT_GE(test_support::expect_allocation_failures(s_, "FARMASIM", args, 50), 5) << d;
  }
}

}  // namespace
