// hessian_by_differences and information_covariance against functions whose
// derivatives are known in closed form: a quadratic (differences exact but for rounding), a
// smooth transcendental function (where Richardson's extrapolation must
// gain several digits over the plain central difference), the Gaussian
// log-likelihood of a sample in (mu, sigma^2), several values differenced
// together, failures passed through, and the covariance's definiteness test.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "module/fit/hessian.hpp"

namespace {

using mvtsa::DifferenceProblem;

struct Diff {
  int status = -1;
  std::vector<double> value, grad, hess;
};

Diff differences(mvtsa::DifferenceFunction f, void* ctx, int m, int k, const std::vector<double>& x,
                 const std::vector<double>& step, int levels = mvtsa::kRichardsonLevels) {
  DifferenceProblem p;
  p.f = f;
  p.context = ctx;
  p.m = m;
  p.k = k;
  std::vector<double> work(std::size_t(mvtsa::hessian_work_size(m, k, levels)));
  Diff d;
  d.value.assign(std::size_t(k), 0.0);
  d.grad.assign(std::size_t(k) * m, 0.0);
  d.hess.assign(std::size_t(k) * m * m, 0.0);
  d.status = mvtsa::hessian_by_differences(p, x.data(), step.data(), levels, d.value.data(),
                                           d.grad.data(), d.hess.data(), work.data());
  return d;
}

// f(x) = x' A x / 2 + b' x with A symmetric: g = A x + b, H = A.
struct Quadratic {
  int m;
  std::vector<double> A, b;
};
int quadratic(void* ctx, const double* x, double* v) {
  const auto* q = static_cast<const Quadratic*>(ctx);
  double s = 0.0;
  for (int i = 0; i < q->m; ++i) {
    s += q->b[i] * x[i];
    for (int j = 0; j < q->m; ++j) s += 0.5 * x[i] * q->A[i * q->m + j] * x[j];
  }
  v[0] = s;
  return 0;
}

// The differences of a quadratic have no truncation error: what is left is
// rounding, about u |f| / (h/4)^2 ~ 1e-11 at the finest step.
TEST(HessianByDifferences, QuadraticToRounding) {
  Quadratic q{4, {}, {1.0, -2.0, 0.5, 3.0}};
  std::mt19937_64 rng(5);
  std::normal_distribution<double> z;
  q.A.assign(16, 0.0);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j <= i; ++j) q.A[i * 4 + j] = q.A[j * 4 + i] = z(rng);
  const std::vector<double> x = {0.3, -0.7, 1.1, 0.05}, h(4, 0x1p-5);
  const Diff d = differences(quadratic, &q, 4, 1, x, h);
  ASSERT_EQ(d.status, 0);
  for (int i = 0; i < 4; ++i) {
    double g = q.b[i];
    for (int j = 0; j < 4; ++j) g += q.A[i * 4 + j] * x[j];
    EXPECT_NEAR(d.grad[i], g, 1e-12);
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(d.hess[i * 4 + j], q.A[i * 4 + j], 1e-9) << i << j;
  }
}

// f(x, y, z) = exp(x/2) sin(y) + x^2 y z + ln(1 + z^2)
int smooth(void*, const double* p, double* v) {
  v[0] = std::exp(0.5 * p[0]) * std::sin(p[1]) + p[0] * p[0] * p[1] * p[2] +
         std::log(1.0 + p[2] * p[2]);
  return 0;
}
std::vector<double> smooth_hessian(const std::vector<double>& p) {
  const double x = p[0], y = p[1], z = p[2], e = std::exp(0.5 * x);
  const double hzz = 2.0 * (1.0 - z * z) / ((1.0 + z * z) * (1.0 + z * z));
  return {0.25 * e * std::sin(y) + 2.0 * y * z, 0.5 * e * std::cos(y) + 2.0 * x * z, 2.0 * x * y,
          0.5 * e * std::cos(y) + 2.0 * x * z, -e * std::sin(y),                   x * x,
          2.0 * x * y,                         x * x,                              hzz};
}

double max_error(const std::vector<double>& a, const std::vector<double>& b) {
  double e = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) e = std::fmax(e, std::fabs(a[i] - b[i]));
  return e;
}

TEST(HessianByDifferences, RichardsonGainsDigitsOnASmoothFunction) {
  const std::vector<double> x = {0.4, 1.3, -0.6}, h(3, 0x1p-5);
  const auto exact = smooth_hessian(x);
  const Diff one = differences(smooth, nullptr, 3, 1, x, h, 1);
  const Diff three = differences(smooth, nullptr, 3, 1, x, h, 3);
  ASSERT_EQ(one.status, 0);
  ASSERT_EQ(three.status, 0);
  const double e1 = max_error(one.hess, exact), e3 = max_error(three.hess, exact);
  // the plain central difference errs by O(h^2) ~ 1e-4; three levels by O(h^6)
  EXPECT_GT(e1, 1e-6);
  EXPECT_LT(e3, 1e-9);
  // the gradient: (x y z terms) d/dx = e sin(y)/2 + 2 x y z, ...
  const double e = std::exp(0.2);
  EXPECT_NEAR(three.grad[0], 0.5 * e * std::sin(1.3) + 2 * 0.4 * 1.3 * -0.6, 1e-10);
  EXPECT_NEAR(three.grad[1], e * std::cos(1.3) + 0.16 * -0.6, 1e-10);
  EXPECT_NEAR(three.grad[2], 0.16 * 1.3 + 2 * -0.6 / 1.36, 1e-10);
  // symmetric by construction
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(three.hess[i * 3 + j], three.hess[j * 3 + i]);
}

// The Gaussian log-likelihood of a sample x_1..n in (mu, s = sigma^2), and
// the same with the two parameters swapped as a second value:
//   L = -n/2 ln s - sum (x_t - mu)^2 / (2 s),
//   L_mumu = -n / s,  L_mus = -sum (x_t - mu) / s^2,
//   L_ss = n / (2 s^2) - sum (x_t - mu)^2 / s^3.
struct Sample {
  std::vector<double> x;
};
int gauss(void* ctx, const double* p, double* v) {
  const auto* s = static_cast<const Sample*>(ctx);
  if (!(p[1] > 0.0)) return 9;
  double q = 0.0;
  for (double xt : s->x) q += (xt - p[0]) * (xt - p[0]);
  const double n = double(s->x.size());
  v[0] = -0.5 * n * std::log(p[1]) - 0.5 * q / p[1];
  v[1] = 2.0 * v[0] + p[0];  // a second value: its Hessian is twice the first's
  return 0;
}

TEST(HessianByDifferences, GaussianInformationAndTwoValues) {
  Sample s;
  std::mt19937_64 rng(11);
  std::normal_distribution<double> z(3.0, 2.0);
  for (int t = 0; t < 500; ++t) s.x.push_back(z(rng));
  const std::vector<double> p = {2.9, 4.2}, h = {0x1p-6, 0x1p-5};
  const Diff d = differences(gauss, &s, 2, 2, p, h);
  ASSERT_EQ(d.status, 0);
  double sum = 0.0, q = 0.0;
  for (double xt : s.x) {
    sum += xt - p[0];
    q += (xt - p[0]) * (xt - p[0]);
  }
  const double n = 500.0, v = p[1];
  const double H[4] = {-n / v, -sum / (v * v), -sum / (v * v), n / (2 * v * v) - q / (v * v * v)};
  for (int e = 0; e < 4; ++e) {
    EXPECT_NEAR(d.hess[e], H[e], 1e-8 * std::fabs(H[0])) << e;
    EXPECT_NEAR(d.hess[4 + e], 2.0 * H[e], 2e-8 * std::fabs(H[0])) << e;
  }
  EXPECT_NEAR(d.grad[2], 2.0 * (sum / v) + 1.0, 1e-7);
  // the covariance of the estimates at the maximum: diag(v / n, 2 v^2 / n)
  double mean = 0.0;
  for (double xt : s.x) mean += xt;
  mean /= n;
  double var = 0.0;
  for (double xt : s.x) var += (xt - mean) * (xt - mean);
  var /= n;
  const Diff at_max = differences(gauss, &s, 2, 2, {mean, var}, h);
  ASSERT_EQ(at_max.status, 0);
  std::vector<double> cov(4), work(std::size_t(mvtsa::information_work_size(2)));
  ASSERT_EQ(mvtsa::information_covariance(at_max.hess.data(), 2, cov.data(), work.data()), 0);
  EXPECT_NEAR(cov[0], var / n, 1e-9 * var / n);
  EXPECT_NEAR(cov[3], 2 * var * var / n, 1e-8 * var * var / n);
  EXPECT_NEAR(cov[1], 0.0, 1e-9 * var / n);
}

TEST(HessianByDifferences, AFailedPointStopsWithItsCode) {
  Sample s{{1.0, 2.0, 4.0}};
  // sigma^2 = 0.02 with a step 2^-5: x - h is negative, where gauss returns 9
  const Diff d = differences(gauss, &s, 2, 2, {2.0, 0.02}, {0x1p-5, 0x1p-5});
  EXPECT_EQ(d.status, 9);
  const Diff at = differences(gauss, &s, 2, 2, {2.0, -1.0}, {0x1p-5, 0x1p-5});
  EXPECT_EQ(at.status, 9);
}

TEST(InformationCovariance, InverseOnlyWhenMinusHIsPositiveDefinite) {
  // -H = B B' + I is positive definite: cov (-H) = I
  const int m = 4;
  std::mt19937_64 rng(3);
  std::normal_distribution<double> z;
  std::vector<double> B(16), H(16), cov(16, -7.0), work(std::size_t(mvtsa::information_work_size(m)));
  for (double& b : B) b = z(rng);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) {
      double s = i == j ? 1.0 : 0.0;
      for (int c = 0; c < m; ++c) s += B[i * m + c] * B[j * m + c];
      H[i * m + j] = -s;
    }
  ASSERT_EQ(mvtsa::information_covariance(H.data(), m, cov.data(), work.data()), 0);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) {
      double s = 0.0;
      for (int c = 0; c < m; ++c) s -= cov[i * m + c] * H[c * m + j];
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-12);
    }
  // The same in other units (parameters rescaled by 1e-6 .. 1e6): still accepted.
  const double scale[4] = {1e-6, 1.0, 1e3, 1e6};
  std::vector<double> Hs(16);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) Hs[i * m + j] = H[i * m + j] * scale[i] * scale[j];
  EXPECT_EQ(mvtsa::information_covariance(Hs.data(), m, cov.data(), work.data()), 0);
  EXPECT_NEAR(cov[0] * scale[0] * scale[0], [&] {
    std::vector<double> c(16);
    mvtsa::information_covariance(H.data(), m, c.data(), work.data());
    return c[0];
  }(), 1e-10);
  // An indefinite H (one positive eigenvalue), a positive diagonal element,
  // a singular -H and a missing value: refused, cov untouched.
  std::fill(cov.begin(), cov.end(), -7.0);
  std::vector<double> indefinite = {-2.0, 0.0, 0.0, 0.5};  // diag(-2, 0.5)
  EXPECT_EQ(mvtsa::information_covariance(indefinite.data(), 2, cov.data(), work.data()), 1);
  std::vector<double> saddle = {-1.0, 2.0, 2.0, -1.0};  // eigenvalues 1 and -3
  EXPECT_EQ(mvtsa::information_covariance(saddle.data(), 2, cov.data(), work.data()), 1);
  std::vector<double> singular = {-1.0, -1.0, -1.0, -1.0};
  EXPECT_EQ(mvtsa::information_covariance(singular.data(), 2, cov.data(), work.data()), 1);
  std::vector<double> missing = {-1.0, 0.0, 0.0, std::nan("")};
  EXPECT_EQ(mvtsa::information_covariance(missing.data(), 2, cov.data(), work.data()), 1);
  for (int e = 0; e < 4; ++e) EXPECT_EQ(cov[e], -7.0);
}

// f(x) = exp(a'x) + sin(x0 x1) + x'Bx/2 + x2^4, counting its calls, failing
// at the call numbered fail_at (from 0).
struct Counted {
  int calls = 0;
  int fail_at = -1;
  static int call(void* ctx, const double* x, double* v) {
    auto* c = static_cast<Counted*>(ctx);
    if (c->calls++ == c->fail_at) return 7;
    *v = std::exp(0.3 * x[0] - 0.2 * x[1] + 0.5 * x[2] + 0.1 * x[3]) + std::sin(x[0] * x[1]) +
         x[0] * x[0] + x[1] * x[2] + 2 * x[3] * x[3] + std::pow(x[2], 4);
    return 0;
  }
};

// One evaluation at x and m (m + 1) per level; none after a failure.
TEST(HessianByDifferences, EvaluatesEachPointOnceAndNoneAfterAFailure) {
  const std::vector<double> x = {0.1, 0.2, 0.3, 0.4}, step(4, 0.01);
  for (int levels : {1, 2, 4}) {
    Counted c;
    EXPECT_EQ(differences(Counted::call, &c, 4, 1, x, step, levels).status, 0);
    EXPECT_EQ(c.calls, 1 + 4 * 5 * levels) << levels;
  }
  for (int fail : {0, 1, 20, 40}) {
    Counted c;
    c.fail_at = fail;
    EXPECT_EQ(differences(Counted::call, &c, 4, 1, x, step, 2).status, 7);
    EXPECT_EQ(c.calls, fail + 1) << fail;
  }
}

}  // namespace
