// FARMALIK and farma_loglik: the exact method against the dense route it
// replaced (packed Sigma, sweep, Cholesky) and against a Durbin-Levinson
// decomposition written here, its status rules on singular and indefinite
// matrices, the conditional sum of squares by hand, the choice of method,
// and the argument checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "module/farma/durbin_levinson.hpp"
#include "module/farma/farma_loglik.hpp"
#include "module/frame/host.hpp"
#include "tests/farma/dense_reference.hpp"
#include "tests/support/allocation.hpp"
#include "tests/support/argument_checks.hpp"
#include "module/frame/status.hpp"

namespace {

using mvts::Value;

struct Lik {
  int status = -1;
  double loglik = 0, logdet = 0, quad = 0;
  int message = 0;
};

class Farmalik : public ::testing::Test {
 protected:
  // series, d, phi, theta, sigma, AR lags, MA lags, opt
  Lik lik(std::vector<Value> args) {
    auto r = s_.call("FARMALIK", args);
    Lik l;
    l.status = r.status;
    l.message = r.messages.empty() ? 0 : r.messages.front().number;
    if (r.status == 0) {
      EXPECT_TRUE(r.outputs[0] && r.outputs[0]->rows == 3);
    }
    if (r.status == 0 && r.outputs[0] && r.outputs[0]->data.size() == 3) {
      l.loglik = r.outputs[0]->data[0];
      l.logdet = r.outputs[0]->data[1];
      l.quad = r.outputs[0]->data[2];
    }
    return l;
  }
  std::vector<double> farmacov(double d, const std::vector<double>& phi,
                               const std::vector<double>& theta, double sigma, int lag,
                               Value ar_lags = Value::omitted(),
                               Value ma_lags = Value::omitted()) {
    auto r = s_.call("FARMACOV", {Value::scalar(d),
                                  phi.empty() ? Value::omitted() : Value::column(phi),
                                  theta.empty() ? Value::omitted() : Value::column(theta),
                                  Value::scalar(sigma), ar_lags, ma_lags,
                                  Value::scalar(lag)});
    EXPECT_EQ(r.status, 0);
    if (r.status != 0 || !r.outputs[0]) return {};
    return r.outputs[0]->data;
  }
  static std::vector<double> series(int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> z;
    std::vector<double> y(n);
    double prev = 0;
    for (double& v : y) v = prev = 0.6 * prev + z(gen);
    return y;
  }
  mvts::Session s_;
};

// Durbin-Levinson: y_t - yhat_t = e_t with variance v_t, so
// ln det Sigma = sum ln v_t and y' Sigma^-1 y = sum e_t^2 / v_t.
void durbin_levinson(const std::vector<double>& g, const std::vector<double>& y, double* logdet,
                     double* quad) {
  const std::size_t n = y.size();
  std::vector<double> phi(n + 1, 0.0), prev(n + 1, 0.0);
  double v = g[0];
  *logdet = std::log(v);
  *quad = y[0] * y[0] / v;
  for (std::size_t t = 1; t < n; ++t) {
    double num = g[t];
    for (std::size_t j = 1; j < t; ++j) num -= prev[j] * g[t - j];
    const double ptt = num / v;
    for (std::size_t j = 1; j < t; ++j) phi[j] = prev[j] - ptt * prev[t - j];
    phi[t] = ptt;
    v *= 1 - ptt * ptt;
    double pred = 0;
    for (std::size_t j = 1; j <= t; ++j) pred += phi[j] * y[t - j];
    *logdet += std::log(v);
    *quad += (y[t] - pred) * (y[t] - pred) / v;
    prev = phi;
  }
}

TEST_F(Farmalik, ExactMethodMatchesDurbinLevinson) {
  struct Case {
    double d;
    std::vector<double> phi, theta;
    double sigma;
  } cases[] = {
      {0.3, {}, {}, 1.0},
      {0.2, {0.5}, {-0.4}, 2.5},
      {-0.3, {2 * 0.8 * std::cos(0.7), -0.64}, {}, 0.7},
      {0.45, {0.9}, {0.3, 0.2}, 1.0},
  };
  const Value o = Value::omitted();
  for (const Case& c : cases) {
    const std::vector<double> y = series(80, 11);
    const std::vector<double> g = farmacov(c.d, c.phi, c.theta, c.sigma, 79);
    ASSERT_EQ(g.size(), 80u);
    double logdet, quad;
    durbin_levinson(g, y, &logdet, &quad);
    Lik l = lik({Value::column(y), Value::scalar(c.d),
                 c.phi.empty() ? o : Value::column(c.phi),
                 c.theta.empty() ? o : Value::column(c.theta), Value::scalar(c.sigma), o, o,
                 Value::scalar(1)});
    ASSERT_EQ(l.status, 0) << c.d;
    EXPECT_NEAR(l.logdet, logdet, 1e-9 * (1 + std::fabs(logdet))) << c.d;
    EXPECT_NEAR(l.quad, quad, 1e-9 * quad) << c.d;
    EXPECT_NEAR(l.loglik, -0.5 * (logdet + quad), 1e-9 * (1 + std::fabs(logdet + quad))) << c.d;
  }
}

// The dense route on the same autocovariances (the sweep runs through this
// session's host).
Lik dense(mvts::Session& s, const std::vector<double>& g, const std::vector<double>& y) {
  s.activate();
  mvtsa::set_host_table(s.table());
  Lik l;
  l.status = farma_test::dense_toeplitz_loglik(g, y, &l.logdet, &l.quad);
  l.loglik = -0.5 * (l.logdet + l.quad);
  return l;
}

struct ModelCase {
  const char* what;
  int n;
  double d;
  std::vector<double> phi, theta;
  double sigma;
  std::vector<double> ar_lags, ma_lags;  // empty: lags 1..p, 1..q
};

Value vector_or_omitted(const std::vector<double>& v) {
  return v.empty() ? Value::omitted() : Value::column(v);
}

// Every model region against the dense route to relative 1e-10.  Measured:
// at most 2.3e-11 (n = 500, d = 0.49 with a complex pair).
TEST_F(Farmalik, ExactMethodMatchesTheDenseRoute) {
  const double r = 0.95;  // the largest AR root modulus
  const ModelCase cases[] = {
      {"noise d -0.49", 120, -0.49, {}, {}, 1.0, {}, {}},
      {"noise d -0.25", 120, -0.25, {}, {}, 1.0, {}, {}},
      {"noise d 0.1", 120, 0.1, {}, {}, 3.0, {}, {}},
      {"noise d 0.49", 120, 0.49, {}, {}, 1.0, {}, {}},
      {"AR root 0.95", 120, 0.4, {r}, {}, 1.0, {}, {}},
      {"AR root -0.95", 120, -0.3, {-r}, {}, 0.5, {}, {}},
      {"complex pair", 120, 0.2, {2 * r * std::cos(0.6), -r * r}, {}, 2.5, {}, {}},
      {"ARMA(1, 2)", 120, 0.45, {0.5}, {0.6, -0.3}, 0.01, {}, {}},
      {"subset lags", 120, -0.2, {0.8}, {0.4}, 1.7, {3}, {2}},
      {"subset pair", 120, 0.35, {-0.5, 0.3}, {0.5}, 1.0, {1, 4}, {}},
      {"one value", 1, 0.3, {0.5}, {}, 2.0, {}, {}},
      {"two values", 2, -0.3, {}, {0.5}, 1.0, {}, {}},
      {"long, d 0.49, MA", 300, 0.49, {}, {-0.4}, 1.0, {}, {}},
      {"long, d 0.3, AR 0.95, MA", 300, 0.3, {r}, {-0.4}, 1.0, {}, {}},
      {"long, d 0.49, complex pair at angle 0.3", 500, 0.49, {2 * r * std::cos(0.3), -r * r}, {},
       1.0, {}, {}},
      {"long, d -0.49, complex pair at angle 2", 500, -0.49, {2 * r * std::cos(2.0), -r * r}, {},
       4.0, {}, {}},
  };
  for (const ModelCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<double> y = series(c.n, 21);
    std::vector<double> g = farmacov(c.d, c.phi, c.theta, c.sigma, std::max(c.n - 1, 1),
                                     vector_or_omitted(c.ar_lags), vector_or_omitted(c.ma_lags));
    ASSERT_EQ(g.size(), std::size_t(std::max(c.n - 1, 1) + 1));
    g.resize(std::size_t(c.n));
    const Lik want = dense(s_, g, y);
    ASSERT_EQ(want.status, 0);
    const Lik got = lik({Value::column(y), Value::scalar(c.d), vector_or_omitted(c.phi),
                         vector_or_omitted(c.theta), Value::scalar(c.sigma),
                         vector_or_omitted(c.ar_lags), vector_or_omitted(c.ma_lags),
                         Value::scalar(1)});
    ASSERT_EQ(got.status, 0);
    EXPECT_NEAR(got.loglik, want.loglik, 1e-10 * std::fabs(want.loglik));
    EXPECT_NEAR(got.logdet, want.logdet, 1e-10 * std::fabs(want.logdet));
    EXPECT_NEAR(got.quad, want.quad, 1e-10 * want.quad);
    EXPECT_EQ(s_.live_blocks(), 0);
  }
}

// d = 0.49 with an AR root of 0.95 puts a spectral peak of order 1e4 beside
// the innovation variance, and an MA root near -1 a trough near frequency
// pi: Sigma's condition number reaches 1e7 .. 1e9 at n = 500, and every
// double route loses digits to it, by amounts that depend on the order of
// its roundings.  Against the same recursion in long double, measured at
// n = 500 (ln det, quadratic form):
//   MA -0.4:  Durbin-Levinson 1.5e-10, 8e-11;  dense route 5.7e-11, 7e-14;
//   MA -0.9:  Durbin-Levinson 9.4e-10, 6.9e-9; dense route 9.1e-10, 4.5e-10;
// (another summation order of the same recursion gave 1.7e-10, 2.0e-10 and
// 1.5e-9, 2.0e-10).  The two routes agree there only to 1e-10 .. 1e-8, so
// each result is checked against the wide reference, to 2e-8.
TEST_F(Farmalik, IllConditionedCornerAgainstExtendedPrecision) {
  for (double theta : {-0.4, -0.9}) {
    SCOPED_TRACE(theta);
    const std::vector<double> y = series(500, 21);
    const std::vector<double> g = farmacov(0.49, {0.95}, {theta}, 1.0, 499);
    ASSERT_EQ(g.size(), 500u);
    Lik want;
    farma_test::wide_toeplitz_loglik(g, y, &want.logdet, &want.quad);
    const Lik got = lik({Value::column(y), Value::scalar(0.49), Value::scalar(0.95),
                         Value::scalar(theta), Value::omitted(), Value::omitted(),
                         Value::omitted(), Value::scalar(1)});
    ASSERT_EQ(got.status, 0);
    EXPECT_NEAR(got.logdet, want.logdet, 2e-8 * std::fabs(want.logdet));
    EXPECT_NEAR(got.quad, want.quad, 2e-8 * want.quad);
  }
}

// d near 1/2 with AR roots of modulus 0.95 makes gamma(0) of order 1e9 and
// the prediction variances near 1, below 2^-26.5 gamma(0) from the pivot
// that the AR part reaches (pivot 1, 2 or 3 here; each at least 4 times
// below the threshold, the pivots before it at least 1.3 times above):
// 178 from both routes.  A variance of 1e-16 puts every pivot below 1.11e-14
// but leaves each above both thresholds, which are relative to gamma(0): a
// likelihood (status 0), the same from both routes; with the near-singular
// model as well, 178.
TEST_F(Farmalik, SingularAndZeroPivotsGiveTheDenseRouteStatuses) {
  const double d = 0.4999999;
  const ModelCase cases[] = {
      {"pivot 1", 60, d, {0.95}, {}, 1.0, {}, {}},
      {"pivot 2, complex pair", 60, d, {2 * 0.95 * std::cos(0.2), -0.9025}, {0.4}, 2.0, {}, {}},
      {"pivot 3, AR lag 3", 60, d, {0.95}, {}, 1.0, {3}, {}},
      {"variance 1e-16", 30, 0.3, {0.5}, {}, 1e-16, {}, {}},
      {"variance 1e-16, pivot 1", 30, d, {0.95}, {}, 1e-16, {}, {}},
  };
  const int want_status[] = {178, 178, 178, 0, 178};
  int i = 0;
  for (const ModelCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<double> y = series(c.n, 4);
    const std::vector<double> g = farmacov(c.d, c.phi, c.theta, c.sigma, c.n - 1,
                                           vector_or_omitted(c.ar_lags),
                                           vector_or_omitted(c.ma_lags));
    const Lik ref = dense(s_, g, y);
    EXPECT_EQ(ref.status, want_status[i]);
    const Lik got = lik({Value::column(y), Value::scalar(c.d), vector_or_omitted(c.phi),
                         vector_or_omitted(c.theta), Value::scalar(c.sigma),
                         vector_or_omitted(c.ar_lags), vector_or_omitted(c.ma_lags),
                         Value::scalar(1)});
    EXPECT_EQ(got.status, want_status[i]);
    if (want_status[i] == 0) {
      EXPECT_NEAR(got.logdet, ref.logdet, 1e-10 * std::fabs(ref.logdet));
      EXPECT_NEAR(got.quad, ref.quad, 1e-10 * ref.quad);
    } else {
      EXPECT_EQ(got.message, want_status[i]);
    }
    EXPECT_EQ(s_.live_blocks(), 0);
    ++i;
  }
}

// toeplitz_loglik on sequences that no model gives, against the dense
// route and closed forms.
TEST_F(Farmalik, ToeplitzKernelOnHandMadeSequences) {
  auto run = [](const std::vector<double>& g, const std::vector<double>& y, Lik* l) {
    std::vector<double> work(mvtsa::toeplitz_loglik_work_size(std::int64_t(y.size())));
    return mvtsa::toeplitz_loglik(g.data(), y.data(), std::int64_t(y.size()), work.data(),
                                  &l->logdet, &l->quad);
  };
  Lik got;
  // AR(1) with phi = 1/2 and variance 4/3 (gamma(h) = 2^-h): v_0 = 1, then
  // v_t = 3/4 and e_t = y_t - y_(t-1)/2.
  const std::vector<double> g = {1, 0.5, 0.25, 0.125}, y = {1, -2, 0.5, 3};
  ASSERT_EQ(run(g, y, &got), 0);
  EXPECT_NEAR(got.logdet, 3 * std::log(0.75), 1e-15);
  const double q = 1 + (6.25 + 2.25 + 2.75 * 2.75) / 0.75;
  EXPECT_NEAR(got.quad, q, 1e-14 * q);
  // One value: ln gamma(0) and y^2 / gamma(0).
  ASSERT_EQ(run({2.0}, {3.0}, &got), 0);
  EXPECT_DOUBLE_EQ(got.logdet, std::log(2.0));
  EXPECT_DOUBLE_EQ(got.quad, 4.5);
  // Rank one: the second pivot is 0.
  EXPECT_EQ(run({1, 1, 1}, {1, 2, 3}, &got), 178);
  EXPECT_EQ(dense(s_, {1, 1, 1}, {1, 2, 3}).status, 178);
  // Indefinite: v_2 = 0.19 (1 - (0.81 / 0.19)^2) < 0 passes the sweep's
  // magnitude test and fails the factorisation.
  EXPECT_EQ(run({1, 0.9, 0.0}, {1, 2, 3}, &got), 315);
  EXPECT_EQ(dense(s_, {1, 0.9, 0.0}, {1, 2, 3}).status, 315);
  // ... unless a later pivot is singular: the sweep's 178 comes first.  With
  // phi_(2,2) = k2 = -0.81 / 0.19 and v_2 = 0.19 (1 - k2^2),
  // g3 = v_2 + 0.9 k2 makes phi_(3,3) = 1 and v_3 = 0 (up to rounding).
  const double k2 = -0.81 / 0.19, v2 = 0.19 * (1 - k2 * k2);
  const std::vector<double> g4 = {1, 0.9, 0.0, v2 + 0.9 * k2}, y4 = {1, 2, 3, 4};
  EXPECT_EQ(run(g4, y4, &got), 178);
  EXPECT_EQ(dense(s_, g4, y4).status, 178);
}

TEST_F(Farmalik, ExactMethodHandlesVariancesFarFromOne) {
  // det Sigma = 100^300 (times the unit-variance determinant) is far beyond
  // the double range; ln det Sigma is not.
  const std::vector<double> y = series(300, 5);
  const Value o = Value::omitted();
  Lik one = lik({Value::column(y), Value::scalar(0.3), Value::scalar(0.5), o, Value::scalar(1),
                 o, o, Value::scalar(1)});
  Lik big = lik({Value::column(y), Value::scalar(0.3), Value::scalar(0.5), o, Value::scalar(100),
                 o, o, Value::scalar(1)});
  Lik small = lik({Value::column(y), Value::scalar(0.3), Value::scalar(0.5), o,
                   Value::scalar(0.01), o, o, Value::scalar(1)});
  ASSERT_EQ(one.status, 0);
  ASSERT_EQ(big.status, 0);
  ASSERT_EQ(small.status, 0);
  EXPECT_NEAR(big.logdet, one.logdet + 300 * std::log(100.0), 1e-9 * big.logdet);
  EXPECT_NEAR(small.logdet, one.logdet + 300 * std::log(0.01), 1e-9 * std::fabs(small.logdet));
  EXPECT_NEAR(big.quad, one.quad / 100, 1e-9 * one.quad);
}

// A change of units: the series times c with the variance times c^2 gives
// ln det + 2 n ln c and the same quadratic form, for c from 1e-10 (variance
// 1e-20, far below the Cholesky tolerance 1.11e-14 in absolute terms) to
// 1e10, with an ARFIMA(1, d, 1) and with fractional noise.
TEST_F(Farmalik, ExactMethodIsEquivariantUnderAChangeOfUnits) {
  const std::vector<double> y = series(200, 6);
  const Value o = Value::omitted();
  for (const bool arma : {true, false}) {
    auto at = [&](double c) {
      std::vector<double> yc = y;
      for (double& x : yc) x *= c;
      return lik({Value::column(yc), Value::scalar(0.3), arma ? Value::scalar(0.5) : o,
                  arma ? Value::scalar(-0.3) : o, Value::scalar(1.5 * c * c), o, o,
                  Value::scalar(1)});
    };
    const Lik one = at(1.0);
    ASSERT_EQ(one.status, 0);
    for (double c : {1e-10, 1e-8, 1e-4, 1e4, 1e10}) {
      const Lik r = at(c);
      ASSERT_EQ(r.status, 0) << c;
      EXPECT_NEAR(r.logdet - 400 * std::log(c), one.logdet, 1e-10 * std::fabs(one.logdet)) << c;
      EXPECT_NEAR(r.quad, one.quad, 1e-10 * one.quad) << c;
    }
  }
}

TEST_F(Farmalik, ConditionalSumOfSquaresByHand) {
  const std::vector<double> y = {1, 2, -1, 0.5, 3, -2};
  const double d = 0.3, phi = 0.5, theta = 0.2;
  // (1 - B)^d: w_0 = 1, w_k = w_(k-1) (k - 1 - d) / k; u_0 = 0.
  double w[6] = {1};
  for (int k = 1; k < 6; ++k) w[k] = w[k - 1] * (k - 1 - d) / k;
  double u[6] = {0};
  for (int t = 1; t < 6; ++t)
    for (int j = 0; j <= t; ++j) u[t] += w[j] * y[t - j];
  // e_t = u_t - phi u_(t-1) + theta e_(t-1); m = 1.
  double e[6], S = 0;
  for (int t = 0; t < 6; ++t) {
    e[t] = u[t] - (t >= 1 ? phi * u[t - 1] : 0) + (t >= 1 ? theta * e[t - 1] : 0);
    if (t >= 1) S += e[t] * e[t];
  }
  Lik l = lik({Value::column(y), Value::scalar(d), Value::scalar(phi), Value::scalar(theta)});
  ASSERT_EQ(l.status, 0);
  EXPECT_NEAR(l.loglik, -2.5 * std::log(S / 5), 1e-13);
  EXPECT_TRUE(mvtsa::is_missing(l.logdet));
  EXPECT_TRUE(mvtsa::is_missing(l.quad));
  // Only y and d: m = 0 and e_0 = 0 counts.
  double S0 = 0;
  for (int t = 0; t < 6; ++t) S0 += u[t] * u[t];
  l = lik({Value::row(y), Value::scalar(d)});
  ASSERT_EQ(l.status, 0);
  EXPECT_NEAR(l.loglik, -3.0 * std::log(S0 / 6), 1e-13);
  // Too short for m = max(p, q) = 2: message 315.
  l = lik({Value::row({1, 2}), Value::scalar(d), Value::column({0.5, 0.2})});
  EXPECT_EQ(l.status, 315);
  EXPECT_EQ(l.message, 315);
}

TEST_F(Farmalik, MethodChoice) {
  const std::vector<double> y = series(40, 3);
  const Value o = Value::omitted();
  auto with_opt = [&](double d, double opt) {
    return lik({Value::column(y), Value::scalar(d), o, o, o, o, o, Value::scalar(opt)});
  };
  Lik l = with_opt(0.3, 1);  // exact
  ASSERT_EQ(l.status, 0);
  EXPECT_FALSE(mvtsa::is_missing(l.logdet));
  l = with_opt(0.3, 0.9);  // truncates to 0
  ASSERT_EQ(l.status, 0);
  EXPECT_TRUE(mvtsa::is_missing(l.logdet));
  l = with_opt(0.7, 1);  // d beyond 1/2: conditional method whatever opt says
  ASSERT_EQ(l.status, 0);
  EXPECT_TRUE(mvtsa::is_missing(l.logdet));
  EXPECT_EQ(with_opt(0.3, 1.5).status, 11);
  EXPECT_EQ(with_opt(0.3, -1).status, 11);
  // An explosive AR part: refused by the exact method only.
  l = lik({Value::column(y), Value::scalar(0.3), Value::scalar(1.1), o, o, o, o,
           Value::scalar(1)});
  EXPECT_EQ(l.status, 390);
  EXPECT_EQ(l.message, 390);
  l = lik({Value::column(y), Value::scalar(0.3), Value::scalar(1.1)});
  EXPECT_EQ(l.status, 0);
  // Repeated AR roots with the exact method.
  l = lik({Value::column(y), Value::scalar(0.3), Value::column({1.0, -0.25}), o, o, o, o,
           Value::scalar(1)});
  EXPECT_EQ(l.status, 373);
}

TEST_F(Farmalik, ArgumentChecks) {
  const Value o = Value::omitted();
  const double nan = std::nan("");
  const Value y = Value::row({1, 2, 3, 4});
  const std::vector<test_support::ArgumentCase> cases = {
      {"nothing", {}, 2, 0},
      {"series empty slot", {o, Value::scalar(0.3)}, 2, 0},
      {"series character", {Value::character("y"), Value::scalar(0.3)}, 13, 0},
      {"series matrix", {Value::matrix(2, 2, {1, 2, 3, 4}), Value::scalar(0.3)}, 6, 0},
      {"series missing", {Value::row({1, nan}), Value::scalar(0.3)}, 17, 0},
      {"d omitted", {y}, 17, 0},
      {"d too large", {y, Value::scalar(1.0)}, 100, 372},
      {"d = 0", {y, Value::scalar(0.0)}, 100, 372},
      {"phi matrix", {y, Value::scalar(0.3), Value::matrix(2, 2, {0, 0, 0, 0})}, 6, 0},
      {"sigma zero", {y, Value::scalar(0.3), o, o, Value::scalar(0)}, 8, 0},
      {"MA lags count", {y, Value::scalar(0.3), o, Value::scalar(0.2), o, o, Value::row({1, 2})},
       100, 356},
      {"opt vector", {y, Value::scalar(0.3), o, o, o, o, o, Value::row({0, 1})}, 15, 0},
      {"opt missing", {y, Value::scalar(0.3), o, o, o, o, o, Value::scalar(nan)}, 17, 0},
  };
  test_support::expect_argument_failures(s_, "FARMALIK", cases);
}

TEST_F(Farmalik, EveryAllocationFailureIsReportedWithoutLeaks) {
  const std::vector<Value> args = {Value::column(series(30, 9)), Value::scalar(0.3),
                                   Value::scalar(0.5),           Value::scalar(0.2),
                                   Value::omitted(),             Value::omitted(),
                                   Value::omitted(),             Value::scalar(1)};
  EXPECT_GE(test_support::expect_allocation_failures(s_, "FARMALIK", args, 50), 4);
}

}  // namespace
