// The AR roots and the stationarity decision that FARMACOV, FARMALIK and
// FARMASIM share, at AR orders where the zeros crowd the unit circle: one
// coefficient at a distant lag (every zero of 1 - phi B^p has modulus
// |phi|^(-1/p), 1.00696 for phi = 1/2 and p = 100) and long lag lists of
// small coefficients.  Each model here is stationary, and each was taken for
// a non-stationary one when the zeros came from the deflating root finder
// alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "host/host.hpp"
#include "module/farma/farma_model.hpp"
#include "module/frame/host.hpp"

namespace {

using mvts::Value;

// Autocovariances of fractional noise (1 - B)^d u_t = e_t, var(e) = 1:
// gamma(0) = Gamma(1 - 2d) / Gamma(1 - d)^2, gamma(k) = gamma(k - 1) (k - 1 + d) / (k - d).
std::vector<double> noise_autocov(double d, int count) {
  std::vector<double> g(count);
  g[0] = std::tgamma(1 - 2 * d) / std::pow(std::tgamma(1 - d), 2);
  for (int k = 1; k < count; ++k) g[k] = g[k - 1] * (k - 1 + d) / (k - d);
  return g;
}

// y_t = phi y_(t-p) + u_t = sum_i phi^i u_(t-ip):
// gamma_y(h) = sum_(i,j >= 0) phi^(i+j) gamma_u(h + p (i - j)), truncated
// where phi^(i+j) < 1e-18.
double lagged_autocov(double d, double phi, int p, int h) {
  const int terms = 60;
  const std::vector<double> g = noise_autocov(d, p * terms + h + 1);
  double s = 0.0;
  for (int i = 0; i < terms; ++i)
    for (int j = 0; j < terms; ++j) s += std::pow(phi, i + j) * g[std::abs(h + p * (i - j))];
  return s;
}

class FarmaModel : public ::testing::Test {
 protected:
  mvts::Session s_;
  const Value o = Value::omitted();
};

TEST_F(FarmaModel, OneCoefficientAtADistantLagIsStationary) {
  // FARMACOV d = 0.2, phi = 0.5 at lag 100 against the MA(infinity) sum.
  for (const double phi : {0.5, -0.5}) {
    const auto r = s_.call("FARMACOV", {Value::scalar(0.2), Value::scalar(phi), o, o,
                                        Value::scalar(100), o, Value::scalar(3)});
    ASSERT_EQ(r.status, 0) << phi;
    ASSERT_TRUE(r.outputs[0].has_value());
    for (int h = 0; h <= 3; ++h)
      EXPECT_NEAR(r.outputs[0]->data[h], lagged_autocov(0.2, phi, 100, h), 1e-12) << phi << " " << h;
  }
  // p = 100 and 60 (lags 60 and 100, gcd 20): the AR polynomial 1 - 0.3 B^60 - 0.4 B^100.
  const auto r = s_.call("FARMACOV", {Value::scalar(0.2), Value::column({0.3, 0.4}), o, o,
                                      Value::row({60, 100}), o, Value::scalar(2)});
  ASSERT_EQ(r.status, 0);
  EXPECT_GT(r.outputs[0]->data[0], 1.0);
}

TEST_F(FarmaModel, LikelihoodAtADistantLagMatchesTheDenseGaussianDensity) {
  // FARMALIK, exact method: rows log-likelihood -1/2 (log det G + y' G^-1 y),
  // log det G and y' G^-1 y, with G(i, j) = gamma_y(|i - j|) from the MA(infinity) sum and a Cholesky
  // factor written here.
  const int n = 12;
  std::vector<double> y(n);
  for (int t = 0; t < n; ++t) y[t] = std::sin(0.7 * t) + 0.1 * t;
  const auto r = s_.call("FARMALIK", {Value::column(y), Value::scalar(0.2), Value::scalar(0.5), o,
                                      o, Value::scalar(100), o, Value::scalar(1)});
  ASSERT_EQ(r.status, 0);
  std::vector<double> gam(n), L(n * n, 0.0);
  for (int h = 0; h < n; ++h) gam[h] = lagged_autocov(0.2, 0.5, 100, h);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = gam[i - j];
      for (int k = 0; k < j; ++k) s -= L[i * n + k] * L[j * n + k];
      L[i * n + j] = i == j ? std::sqrt(s) : s / L[j * n + j];
    }
  double logdet = 0.0, quad = 0.0;
  std::vector<double> z(n);
  for (int i = 0; i < n; ++i) {
    double s = y[i];
    for (int k = 0; k < i; ++k) s -= L[i * n + k] * z[k];
    z[i] = s / L[i * n + i];
    logdet += 2 * std::log(L[i * n + i]);
    quad += z[i] * z[i];
  }
  EXPECT_NEAR(r.outputs[0]->data[0], -0.5 * (logdet + quad), 1e-9);
  EXPECT_NEAR(r.outputs[0]->data[1], logdet, 1e-9);
  EXPECT_NEAR(r.outputs[0]->data[2], quad, 1e-9);
}

// The simulation must take the stationary start-up for these models: there
// the value for the observations before the first one plays no part, so the
// series with and without it are the same.  The recursion from fixed start
// values would carry it into every value.
TEST_F(FarmaModel, SimulationOfAStationaryModelIgnoresTheInitialValue) {
  struct Case {
    Value phi, lags;
    int n;
  };
  std::vector<double> many(300, 1e-3), lags(300);
  for (int j = 0; j < 300; ++j) lags[j] = j + 1;
  const Case cases[] = {
      {Value::scalar(0.5), Value::scalar(99), 102},   // zeros of modulus 2^(1/99)
      {Value::scalar(0.5), Value::scalar(98), 102},
      {Value::column(many), Value::column(lags), 302},  // sum |phi| = 0.3, no common factor
  };
  for (const Case& c : cases) {
    const auto with = s_.call("FARMASIM", {Value::scalar(0.2), c.phi, o, o, o, Value::scalar(c.n),
                                           c.lags, o, Value::scalar(1e6), Value::scalar(1)});
    const auto without = s_.call("FARMASIM", {Value::scalar(0.2), c.phi, o, o, o,
                                              Value::scalar(c.n), c.lags, o, o, Value::scalar(1)});
    ASSERT_EQ(with.status, 0) << c.n;
    ASSERT_EQ(without.status, 0) << c.n;
    EXPECT_EQ(with.outputs[0]->data, without.outputs[0]->data) << c.n;
    for (double v : with.outputs[0]->data) ASSERT_LT(std::fabs(v), 50.0) << c.n;
  }
  // A unit root at the same lag still takes the fixed start from `initial`.
  const auto unit = s_.call("FARMASIM", {Value::scalar(0.2), Value::scalar(1.0), o, o, o,
                                         Value::scalar(102), Value::scalar(99), o,
                                         Value::scalar(1e6), Value::scalar(1)});
  ASSERT_EQ(unit.status, 0);
  EXPECT_GT(unit.outputs[0]->data[0], 1e5);
}

TEST_F(FarmaModel, NonstationaryAndRepeatedRootsAtADistantLagAreRefused) {
  // 1 - 1.01 B^100: zeros of modulus 1.01^(-1/100) < 1.
  auto r = s_.call("FARMACOV", {Value::scalar(0.2), Value::scalar(1.01), o, o, Value::scalar(100)});
  EXPECT_EQ(r.status, 100);
  ASSERT_FALSE(r.messages.empty());
  EXPECT_EQ(r.messages.front().number, 390);
  // (1 - 0.5 B^50)^2 = 1 - B^50 + 0.25 B^100: every zero twice.
  r = s_.call("FARMACOV", {Value::scalar(0.2), Value::column({1.0, -0.25}), o, o,
                           Value::row({50, 100})});
  EXPECT_EQ(r.status, 100);
  ASSERT_FALSE(r.messages.empty());
  EXPECT_EQ(r.messages.front().number, 373);
}

// farma_ar_roots and farma_root_check at an order where comparing every
// pair of roots (2 10^10 comparisons) would take minutes: the roots come
// sorted, so the repeated-root test compares neighbours only.
TEST(FarmaRoots, SortedRootsAreCheckedInLinearTime) {
  mvts::Host host;
  host.activate();
  mvtsa::set_host_table(host.table());
  const int p = 200000;
  // 1 - 0.5 B^p, as the polynomial a_0 = 1, a_p = -0.5.
  std::vector<double> ar(p + 1, 0.0), roots(2 * std::size_t(p)),
      work(std::size_t(mvtsa::farma_roots_work_size(p)));
  ar[0] = 1.0;
  ar[p] = -0.5;
  bool complex_roots = false;
  ASSERT_EQ(mvtsa::farma_ar_roots(ar.data(), p, roots.data(), work.data(), &complex_roots), 0);
  EXPECT_TRUE(complex_roots);
  const double modulus = std::pow(0.5, 1.0 / p);
  double worst = 0.0;
  int out_of_order = 0;
  for (int j = 0; j < p; ++j) {
    worst = std::max(worst, std::fabs(std::hypot(roots[2 * j], roots[2 * j + 1]) - modulus));
    if (j > 0 && (roots[2 * j - 2] > roots[2 * j] ||
                  (roots[2 * j - 2] == roots[2 * j] && roots[2 * j - 1] >= roots[2 * j + 1])))
      ++out_of_order;
  }
  EXPECT_LT(worst, 1e-15);
  EXPECT_EQ(out_of_order, 0);
  EXPECT_EQ(mvtsa::farma_root_check(roots.data(), p), 0);
  // The same zeros twice: (1 - 0.5 B^(p/2))^2.
  std::fill(ar.begin(), ar.end(), 0.0);
  ar[0] = 1.0;
  ar[p / 2] = -1.0;
  ar[p] = 0.25;
  ASSERT_EQ(mvtsa::farma_ar_roots(ar.data(), p, roots.data(), work.data(), &complex_roots), 0);
  EXPECT_EQ(mvtsa::farma_root_check(roots.data(), p), 373);
  EXPECT_EQ(host.live_blocks(), 0);
}

}  // namespace
