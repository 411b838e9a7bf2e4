// The Hessian by extrapolated differences on functions with known second
// derivatives, the covariance it gives, and the normal quantile function
// against scipy.special.ndtri.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "module/fit/normal_quantile.hpp"
#include "module/fit/richardson_hessian.hpp"

namespace {

using Vec = std::vector<double>;

// f(x) = exp(a'x) + sin(x0 x1) + x'Bx/2 + x2^4, with its exact Hessian.
struct Smooth {
  Vec a = {0.3, -0.2, 0.5, 0.1};
  Vec B = {2, 1, 0, 0, 1, 3, 0.5, 0, 0, 0.5, 1, 0.25, 0, 0, 0.25, 4};
  int calls = 0;
  int fail_at = -1;  // the call that fails, counting from 0
  double value(const double* x) const {
    double ax = 0, q = 0;
    for (int i = 0; i < 4; ++i) {
      ax += a[i] * x[i];
      for (int j = 0; j < 4; ++j) q += 0.5 * x[i] * B[i * 4 + j] * x[j];
    }
    return std::exp(ax) + std::sin(x[0] * x[1]) + q + std::pow(x[2], 4);
  }
  Vec hessian(const double* x) const {
    double ax = 0;
    for (int i = 0; i < 4; ++i) ax += a[i] * x[i];
    Vec H(16);
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) H[i * 4 + j] = std::exp(ax) * a[i] * a[j] + B[i * 4 + j];
    const double s = std::sin(x[0] * x[1]), c = std::cos(x[0] * x[1]);
    H[0] -= s * x[1] * x[1];
    H[5] -= s * x[0] * x[0];
    H[1] += c - s * x[0] * x[1];
    H[4] = H[1];
    H[10] += 12 * x[2] * x[2];
    return H;
  }
  static int call(void* ctx, const double* x, double* v) {
    auto* s = static_cast<Smooth*>(ctx);
    if (s->calls++ == s->fail_at) return 7;
    *v = s->value(x);
    return 0;
  }
};

TEST(RichardsonHessian, MatchesTheExactSecondDerivatives) {
  Smooth s;
  const Vec x = {0.7, -1.2, 0.4, 2.0};
  const Vec step = {0.05, 0.05, 0.1, 0.02};
  Vec H(16), work(mvtsa::richardson_hessian_work(4));
  ASSERT_EQ(mvtsa::richardson_hessian(4, x.data(), step.data(), 4, Smooth::call, &s, H.data(),
                                      work.data()),
            0);
  const Vec want = s.hessian(x.data());
  for (int e = 0; e < 16; ++e) EXPECT_NEAR(H[e], want[e], 1e-9 * (1 + std::fabs(want[e]))) << e;
  EXPECT_EQ(s.calls, 1 + 2 * 4 * 4 + 4 * 3 * 4);
  // one level of plain central differences at the smallest step is far worse:
  // the extrapolation is what buys the accuracy
  const double h = 0.05 / 8, f0 = s.value(x.data());
  Vec xp = x, xm = x;
  xp[0] += h, xm[0] -= h;
  const double plain = (s.value(xp.data()) - 2 * f0 + s.value(xm.data())) / (h * h);
  EXPECT_GT(std::fabs(plain - want[0]), 1e3 * std::fabs(H[0] - want[0]));
}

TEST(RichardsonHessian, AFailedEvaluationEndsItWithItsStatus) {
  for (int fail : {0, 1, 20, 40}) {
    Smooth s;
    s.fail_at = fail;
    const Vec x = {0.1, 0.2, 0.3, 0.4}, step(4, 0.01);
    Vec H(16, -1.0), work(mvtsa::richardson_hessian_work(4));
    EXPECT_EQ(mvtsa::richardson_hessian(4, x.data(), step.data(), 2, Smooth::call, &s, H.data(),
                                        work.data()),
              7);
    EXPECT_EQ(s.calls, fail + 1) << "no evaluation after the failure";
  }
}

// cov (-H) = I for random negative definite H, whatever the units of the
// parameters (entries from 1e-6 to 1e6).
TEST(HessianCovariance, InvertsMinusTheHessianInAnyUnits) {
  std::mt19937 g(21);
  std::normal_distribution<double> N;
  for (int n : {1, 3, 12}) {
    Vec A(static_cast<std::size_t>(n * n)), u(static_cast<std::size_t>(n));
    for (double& v : A) v = N(g);
    for (int i = 0; i < n; ++i) u[i] = std::pow(10.0, (i % 5 - 2) * 3.0);
    Vec H(std::size_t(n * n), 0.0);  // H = -D (A A' + I) D, D = diag(u)
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        double s = i == j ? 1.0 : 0.0;
        for (int l = 0; l < n; ++l) s += A[i * n + l] * A[j * n + l];
        H[i * n + j] = -u[i] * u[j] * s;
      }
    Vec cov(std::size_t(n * n)), work(mvtsa::hessian_covariance_work(n));
    ASSERT_EQ(mvtsa::hessian_covariance(n, H.data(), cov.data(), work.data()),
              mvtsa::kCovarianceOk);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        double s = 0;  // (cov (-H))_ij, scaled back to units of 1
        for (int l = 0; l < n; ++l) s -= cov[i * n + l] * H[l * n + j];
        EXPECT_NEAR(s * u[i] / u[j], i == j ? 1.0 : 0.0, 1e-10) << n << " " << i << " " << j;
        EXPECT_EQ(cov[i * n + j], cov[j * n + i]);
      }
  }
}

TEST(HessianCovariance, RefusesWhatIsNotAMaximum) {
  Vec cov(4, 5.0), work(mvtsa::hessian_covariance_work(2));
  const Vec saddle = {-2.0, 0.0, 0.0, 1.0};
  const Vec indefinite = {-1.0, 2.0, 2.0, -1.0};  // diagonal negative, eigenvalues 1, -3
  const Vec flat = {-1.0, 1.0, 1.0, -1.0};        // singular
  const Vec nan = {-1.0, 0.0, 0.0, std::nan("")};
  for (const Vec& H : {saddle, indefinite, flat, nan})
    EXPECT_EQ(mvtsa::hessian_covariance(2, H.data(), cov.data(), work.data()),
              mvtsa::kNotNegativeDefinite);
  for (double c : cov) EXPECT_EQ(c, 5.0) << "nothing written";
}

// Peer: scipy 1.10.1 special.ndtri.
TEST(NormalQuantile, MatchesThePeer) {
  const double table[][2] = {
      {1e-300, -37.0470962993612},       {1e-100, -21.273453560965322},
      {1e-20, -9.262340089798409},       {1e-10, -6.361340902404056},
      {1e-05, -4.264890793922825},       {0.001, -3.090232306167813},
      {0.01, -2.3263478740408408},       {0.025, -1.9599639845400545},
      {0.05, -1.6448536269514729},       {0.1, -1.2815515655446004},
      {0.3, -0.5244005127080409},        {0.45, -0.12566134685507402},
      {0.5, 0.0},                        {0.55, 0.12566134685507416},
      {0.7, 0.5244005127080407},         {0.9, 1.2815515655446004},
      {0.975, 1.959963984540054},        {0.99, 2.3263478740408408},
      {0.999, 3.090232306167813},        {0.9999999999990905, 7.047700256664409},
      {0.9999999999999999, 8.209536151601387}};
  for (const auto& row : table)
    EXPECT_NEAR(mvtsa::normal_quantile(row[0]), row[1], 1e-15 * std::fabs(row[1]) + 1e-300)
        << row[0];
  for (double p : {0.0, 1.0, -0.5, 2.0, std::nan("")})
    EXPECT_TRUE(std::isnan(mvtsa::normal_quantile(p))) << p;
  for (double p : {0.125, 0.0625, 0x1p-20})  // 1 - p exact: the function is odd about 1/2
    EXPECT_EQ(mvtsa::normal_quantile(1 - p), -mvtsa::normal_quantile(p));
}

}  // namespace
