// FARMAFIT through the host: the argument edge cases, fits of simulated
// ARFIMA(1, d, 1) series by both methods, the bounds on d, and both fits when
// the optimizer module cannot be loaded.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "tests/fit/simulate.hpp"
#include "module/farma/farmafit_start.hpp"
#include "module/farma/frac_diff.hpp"
#include "module/farma/gph.hpp"
#include "module/frame/host.hpp"
#include "module/linalg/covariance.hpp"
#include "module/varma/varmafit.hpp"

namespace {

using mvts::Value;

class FarmafitEntry : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(s_.live_blocks(), 0); }
  mvts::CallResult fit(const std::vector<double>& y, Value p, Value q, Value opt = Value::omitted()) {
    return s_.call("FARMAFIT", {Value::column(y), p, q, opt});
  }
  static int first_message(const mvts::CallResult& r) {
    return r.messages.empty() ? 0 : r.messages.front().number;
  }
  double css_loglik(const std::vector<double>& y, double d) {
    auto r = s_.call("FARMALIK", {Value::column(y), Value::scalar(d)});
    EXPECT_EQ(r.status, 0);
    return r.status == 0 && r.outputs[0] ? r.outputs[0]->at(0, 0) : std::nan("");
  }
  mvts::Session s_;
};

TEST_F(FarmafitEntry, OnlyTheSeries) {
  const auto y = fit_test::arfima11(0.25, 0.0, 0.0, 600, 2);
  auto r = fit(y, Value::omitted(), Value::omitted());
  ASSERT_EQ(r.status, 0);
  const double d = r.outputs[0]->at(0, 0);
  EXPECT_NEAR(d, 0.25, 0.1);
  EXPECT_TRUE(std::isnan(r.outputs[1]->at(0, 0)));
  EXPECT_TRUE(std::isnan(r.outputs[2]->at(0, 0)));
  // result 4 = exp(-2L/n) with L the conditional log-likelihood at d
  const double L = css_loglik(y, d);
  EXPECT_NEAR(r.outputs[3]->at(0, 0), std::exp(-2.0 * L / 600.0), 1e-12);
  // a maximum of L over d
  EXPECT_GE(L, css_loglik(y, d + 1e-3));
  EXPECT_GE(L, css_loglik(y, d - 1e-3));
}

TEST_F(FarmafitEntry, LagShapes) {
  const auto y = fit_test::arfima11(0.2, 0.4, 0.0, 300, 3);
  // a single number 2 is the one lag 2: a 2 x 1 column with 0 at lag 1
  auto r = fit(y, Value::scalar(2), Value::omitted());
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.outputs[1]->rows, 2);
  EXPECT_EQ(r.outputs[1]->at(0, 0), 0.0);
  EXPECT_NE(r.outputs[1]->at(1, 0), 0.0);
  // p = {1 2}: contiguous lags, both estimated
  r = fit(y, Value::row({2, 1}), Value::omitted());
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.outputs[1]->rows, 2);
  EXPECT_NE(r.outputs[1]->at(0, 0), 0.0);
  EXPECT_NE(r.outputs[1]->at(1, 0), 0.0);
  // MA lag 3 only
  r = fit(y, Value::omitted(), Value::scalar(3));
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.outputs[2]->rows, 3);
  EXPECT_EQ(r.outputs[2]->at(0, 0), 0.0);
  EXPECT_EQ(r.outputs[2]->at(1, 0), 0.0);
}

TEST_F(FarmafitEntry, ArgumentChecks) {
  const std::vector<double> y = {0.3, -0.2, 0.5, 0.1, -0.4, 0.2};
  EXPECT_EQ(s_.call("FARMAFIT", {}).status, 2);
  EXPECT_EQ(s_.call("FARMAFIT", {Value::character("y")}).status, 13);
  EXPECT_EQ(s_.call("FARMAFIT", {Value::matrix(2, 3, y)}).status, 6);
  EXPECT_EQ(s_.call("FARMAFIT", {Value::row({1, std::nan(""), 2})}).status, 17);
  EXPECT_EQ(fit(y, Value::omitted(), Value::omitted(), Value::row({0, 2})).status, 11);
  EXPECT_EQ(fit(y, Value::omitted(), Value::omitted(), Value::scalar(1.5)).status, 11);
  EXPECT_EQ(fit(y, Value::omitted(), Value::omitted(), Value::scalar(-0.5)).status, 11);
  auto r = fit(y, Value::scalar(0), Value::omitted());
  EXPECT_EQ(r.status, 100);
  EXPECT_EQ(first_message(r), 353);
  r = fit(y, Value::matrix(2, 2, {1, 2, 3, 4}), Value::omitted());
  EXPECT_EQ(first_message(r), 351);
  r = fit(y, Value::omitted(), Value::omitted(), Value::matrix(2, 2, {0, 0, 0, 0}));
  EXPECT_EQ(first_message(r), 351);
  // length 3 with p = {1 2}: too few observations
  r = fit({0.1, 0.2, 0.3}, Value::row({1, 2}), Value::omitted());
  EXPECT_EQ(r.status, 100);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].number, 248);
  for (auto& o : r.outputs) EXPECT_FALSE(o);
  // opt = 0.9 truncates to the conditional method; a missing second value is 0
  r = fit(y, Value::omitted(), Value::omitted(), Value::row({0.9, std::nan("")}));
  EXPECT_EQ(r.status, 0);
}

// ARFIMA(1, d, 1), n = 2000, by the conditional sum of squares.  With
// phi = -0.5 the AR part does not mimic long memory, so the estimates are
// well separated; tolerances are about three asymptotic standard errors.
TEST_F(FarmafitEntry, ConditionalFitNearTheTruth) {
  const auto y = fit_test::arfima11(0.3, -0.5, 0.3, 2000, 7);
  auto r = fit(y, Value::scalar(1), Value::scalar(1));
  ASSERT_EQ(r.status, 0);
  EXPECT_NEAR(r.outputs[0]->at(0, 0), 0.3, 0.1);
  EXPECT_NEAR(r.outputs[1]->at(0, 0), -0.5, 0.15);
  EXPECT_NEAR(r.outputs[2]->at(0, 0), 0.3, 0.15);
  EXPECT_NEAR(r.outputs[3]->at(0, 0), 1.0, 0.1);
}

// The exact method costs O(n^3) per evaluation, so short series.  On 100
// values of an ARFIMA(1, d, 1) the likelihood ridge between d and phi is
// flat, so the fit is checked as a maximum: inside the bounds, at least the
// likelihood of the truth, and no better point one small step away.
TEST_F(FarmafitEntry, ExactFitIsAMaximum) {
  const auto y = fit_test::arfima11(0.3, -0.5, 0.3, 100, 11);
  auto r = fit(y, Value::scalar(1), Value::scalar(1), Value::scalar(1));
  ASSERT_EQ(r.status, 0);
  std::vector<double> est = {r.outputs[0]->at(0, 0), r.outputs[1]->at(0, 0),
                             r.outputs[2]->at(0, 0), r.outputs[3]->at(0, 0)};
  auto lik = [&](const std::vector<double>& p) {
    auto l = s_.call("FARMALIK", {Value::column(y), Value::scalar(p[0]), Value::scalar(p[1]),
                                  Value::scalar(p[2]), Value::scalar(p[3]), Value::omitted(),
                                  Value::omitted(), Value::scalar(1)});
    return l.status == 0 ? l.outputs[0]->at(0, 0) : -HUGE_VAL;
  };
  EXPECT_LE(std::fabs(est[0]), 0.4999999894632879);
  const double at_fit = lik(est);
  EXPECT_GE(at_fit, lik({0.3, -0.5, 0.3, 1.0}));
  for (int i = 0; i < 4; ++i)
    for (double h : {-1e-4, 1e-4}) {
      std::vector<double> p = est;
      p[i] += h;
      if (i == 0 && std::fabs(p[0]) > 0.4999999894632879) continue;
      EXPECT_LE(lik(p), at_fit + 1e-7) << i << " " << h;
    }
}

// Fractional noise: the exact estimates of d and sigma^2 near the truth.
TEST_F(FarmafitEntry, ExactFitOfFractionalNoise) {
  const auto y = fit_test::arfima11(0.3, 0.0, 0.0, 200, 13);
  auto r = fit(y, Value::omitted(), Value::omitted(), Value::scalar(1));
  ASSERT_EQ(r.status, 0);
  EXPECT_NEAR(r.outputs[0]->at(0, 0), 0.3, 0.15);
  EXPECT_NEAR(r.outputs[3]->at(0, 0), 1.0, 0.25);
}

// A random walk has d = 1; the exact method keeps d inside its bounds.
TEST_F(FarmafitEntry, ExactMethodKeepsDInsideItsBounds) {
  std::mt19937_64 rng(4);
  std::normal_distribution<double> z;
  std::vector<double> y(120);
  double s = 0.0;
  for (auto& v : y) v = (s += z(rng));
  auto r = fit(y, Value::omitted(), Value::omitted(), Value::scalar(1));
  ASSERT_EQ(r.status, 0);
  const double d = r.outputs[0]->at(0, 0);
  EXPECT_LE(d, 0.4999999894632879);
  EXPECT_GT(d, 0.4);
}

// ---- The returned point is a maximum.
//
// sigma^2: the likelihood at sigma^2 (1 +- 1e-4) is not higher (exact: by
// FARMALIK; conditional: -(n - m)/2 ln s - S/(2 s) with S from FARMALIK's
// profiled value, and the reported sigma^2 must be S / (n - m)).
// Gradient: central differences of FARMALIK over d and the coefficients
// (h = 1e-5), each |dL/dx_i| max(|x_i|, 1/2) / max(|L|, 1) at most 1e-5
// (the optimizer stops at 1e-7 in these units; the rest is the test's own
// difference error), except at a bound of d that the gradient pushes against.
class FarmafitOptimality : public FarmafitEntry {
 protected:
  struct Estimate {
    double d, phi, theta, sigma2;
    bool has_phi, has_theta;
  };
  static Estimate read(const mvts::CallResult& r) {
    Estimate e{r.outputs[0]->at(0, 0), r.outputs[1]->at(0, 0), r.outputs[2]->at(0, 0),
               r.outputs[3]->at(0, 0), !std::isnan(r.outputs[1]->at(0, 0)),
               !std::isnan(r.outputs[2]->at(0, 0))};
    return e;
  }
  // FARMALIK at (d, phi, theta, sigma2): ARMA(1, 1) lags where present.
  double lik(const std::vector<double>& y, const Estimate& e, int method) {
    auto r = s_.call("FARMALIK",
                     {Value::column(y), Value::scalar(e.d),
                      e.has_phi ? Value::scalar(e.phi) : Value::omitted(),
                      e.has_theta ? Value::scalar(e.theta) : Value::omitted(),
                      Value::scalar(e.sigma2), Value::omitted(), Value::omitted(),
                      Value::scalar(method)});
    return r.status == 0 ? r.outputs[0]->at(0, 0) : -HUGE_VAL;
  }
  void expect_maximum(const std::vector<double>& y, const mvts::CallResult& r, int method) {
    ASSERT_EQ(r.status, 0);
    const Estimate e = read(r);
    const double n = double(y.size());
    const double L = lik(y, e, method);
    ASSERT_TRUE(std::isfinite(L));
    if (method == 1) {
      for (double f : {1 - 1e-4, 1 + 1e-4}) {
        Estimate b = e;
        b.sigma2 *= f;
        EXPECT_LE(lik(y, b, 1), L) << f;
      }
    } else {
      const double kept = n - ((e.has_phi || e.has_theta) ? 1.0 : 0.0);
      const double s2 = std::exp(-2.0 * L / kept);
      EXPECT_NEAR(e.sigma2, s2, 1e-12 * s2);
      const double S = kept * s2;
      auto css = [&](double v) { return -kept / 2 * std::log(v) - S / (2 * v); };
      EXPECT_LE(css(e.sigma2 * (1 - 1e-4)), css(e.sigma2));
      EXPECT_LE(css(e.sigma2 * (1 + 1e-4)), css(e.sigma2));
    }
    const double h = 1e-5;
    for (int i = 0; i < 3; ++i) {
      if ((i == 1 && !e.has_phi) || (i == 2 && !e.has_theta)) continue;
      double Estimate::*field = i == 0 ? &Estimate::d : i == 1 ? &Estimate::phi : &Estimate::theta;
      Estimate up = e, dn = e;
      up.*field += h;
      dn.*field -= h;
      const double bound = 0.4999999894632879;
      const double lu = lik(y, up, method), ld = lik(y, dn, method);
      double g;
      if (i == 0 && method == 1 && up.d > bound) {
        g = (L - ld) / h;
        if (g > 0) continue;  // on the upper bound, pushing out
      } else if (i == 0 && method == 1 && dn.d < -bound) {
        g = (lu - L) / h;
        if (g < 0) continue;
      } else {
        g = (lu - ld) / (2 * h);
      }
      const double x = e.*field;
      EXPECT_LE(std::fabs(g) * std::max(std::fabs(x), 0.5) / std::max(std::fabs(L), 1.0), 1e-5)
          << "parameter " << i << " gradient " << g;
    }
  }
};

// The periodogram start of an ARFIMA(1, 0.45, 0) series with phi = 0.6 lies
// far above 1/2; on the bound, with the AR term, the covariance matrix is
// numerically singular (its log-determinant and quadratic form are not
// finite), so a start projected there cannot be evaluated.  The fit starts
// from d0 = 0.45 instead.
TEST_F(FarmafitOptimality, PeriodogramStartAboveOneHalfWithAnArTerm) {
  const int n = 150;
  const auto y = fit_test::arfima11(0.45, 0.6, 0.0, n, 1);
  std::vector<double> work(mvtsa::gph_work_size(n));
  ASSERT_GT(mvtsa::gph_start(y.data(), n, work.data()), 0.5);
  auto at_bound = s_.call("FARMALIK", {Value::column(y), Value::scalar(0.4999999894632879),
                                       Value::scalar(0.6), Value::omitted(), Value::scalar(1.0),
                                       Value::omitted(), Value::omitted(), Value::scalar(1)});
  EXPECT_TRUE(at_bound.status != 0 || !std::isfinite(at_bound.outputs[0]->at(1, 0)));
  auto r = fit(y, Value::scalar(1), Value::omitted(), Value::scalar(1));
  expect_maximum(y, r, 1);
  EXPECT_GE(lik(y, read(r), 1), lik(y, {0.45, 0.6, 0.0, 1.0, true, false}, 1));
}

// Near-cancelling AR and MA roots (phi = 0.5, theta = 0.45): the
// Hannan-Rissanen start lands at a non-stationary AR and a non-invertible MA
// coefficient, where the conditional sum of squares overflows.  The start's
// roots are reflected inside and the fit goes on.
TEST_F(FarmafitOptimality, NearCancellingRootsMakeTheRegressionStartExplode) {
  const int n = 2000;
  const auto y = fit_test::arfima11(0.2, 0.5, 0.45, n, 3);
  std::vector<double> work(mvtsa::gph_work_size(n));
  const double d0 = mvtsa::gph_start(y.data(), n, work.data());
  std::vector<double> u(n), fw(mvtsa::frac_diff_work_size(n));
  ASSERT_EQ(mvtsa::frac_diff_filter(u.data(), fw.data(), d0, y.data(), n, fw.data() + n), 0);
  const int lag[1] = {1};
  mvtsa::ArmaLags lags;
  lags.ar = lags.ma = lag;
  lags.na = lags.nm = lags.P = lags.Q = 1;
  std::vector<double> hw(mvtsa::hannan_rissanen_work_size(n - 1, lags));
  double start[2] = {0, 0};
  {
    mvts::Host h;
    h.activate();
    mvtsa::set_host_table(h.table());
    ASSERT_EQ(mvtsa::hannan_rissanen_start(u.data() + 1, n - 1, lags, false, start, hw.data()), 0);
  }
  ASSERT_GT(std::fabs(start[0]), 1.0);
  ASSERT_GT(std::fabs(start[1]), 1.0);
  EXPECT_EQ(lik(y, {d0, start[0], start[1], 1.0, true, true}, 0), -HUGE_VAL);
  auto r = fit(y, Value::scalar(1), Value::scalar(1));
  expect_maximum(y, r, 0);
}

// An ARMA(1, 1) with phi = 0.93 and theta = 0.83 mimics long memory: its
// exact likelihood over (d, phi, theta) has a mode with d near 0.3 and
// small ARMA terms, where the periodogram start leads, and a higher one
// with d below 0 and both roots near the unit circle.  The second start
// (d = 0) finds the higher mode, and the note says so.
TEST_F(FarmafitOptimality, BimodalLikelihoodTakesTheHigherMode) {
  const auto y = fit_test::arfima11(0.0, 0.93, 0.83, 150, 4);
  auto r = fit(y, Value::scalar(1), Value::scalar(1), Value::scalar(1));
  expect_maximum(y, r, 1);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].number, 397);
  EXPECT_GT(std::get<double>(r.messages[0].inserts[0]), 0.5);
  EXPECT_GT(read(r).phi, 0.9);
  EXPECT_LT(std::fabs(read(r).d), 0.1);
}

TEST_F(FarmafitOptimality, EveryReturnedPointIsAMaximum) {
  const auto y = fit_test::arfima11(0.25, 0.0, 0.0, 600, 2);
  expect_maximum(y, fit(y, Value::omitted(), Value::omitted()), 0);
  const auto y2 = fit_test::arfima11(0.3, -0.5, 0.3, 2000, 7);
  expect_maximum(y2, fit(y2, Value::scalar(1), Value::scalar(1)), 0);
  const auto y3 = fit_test::arfima11(0.3, 0.0, 0.0, 200, 13);
  expect_maximum(y3, fit(y3, Value::omitted(), Value::omitted(), Value::scalar(1)), 1);
  const auto y4 = fit_test::arfima11(0.3, -0.5, 0.3, 100, 11);
  expect_maximum(y4, fit(y4, Value::scalar(1), Value::scalar(1), Value::scalar(1)), 1);
}

// A module directory holding the product module and an optimizer module that
// cannot be loaded: both fits go on from their starting points.
class NoOptimizer : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    dir_ = fs::temp_directory_path() / ("mvts_noopt_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    fs::copy_file(fs::path(MVTS_BUILD_DIR) / "lib" / "orvmvtsa.so", dir_ / "orvmvtsa.so",
                  fs::copy_options::overwrite_existing);
    std::ofstream(dir_ / "orvnlbrg.so") << "not a shared object";
    std::string error;
    ASSERT_TRUE(host_.load((dir_ / "orvmvtsa.so").string(), &error)) << error;
  }
  void TearDown() override {
    EXPECT_EQ(host_.live_blocks(), 0);
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_;
  mvts::Host host_;
};

TEST_F(NoOptimizer, FitsReturnTheirStartingPoints) {
  const auto y = fit_test::arfima11(0.3, 0.0, 0.0, 500, 5);
  auto r = host_.call("FARMAFIT", {Value::column(y)});
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_EQ(r.notes[0], "could not load orvnlbrg bridge: Bye.");
  std::vector<double> work(mvtsa::gph_work_size(500));
  EXPECT_EQ(r.outputs[0]->at(0, 0), mvtsa::gph_start(y.data(), 500, work.data()));
  EXPECT_GT(r.outputs[3]->at(0, 0), 0.0);

  std::vector<double> yy(200);
  for (int i = 0; i < 200; ++i) yy[i] = std::sin(0.7 * i) + 0.1 * (i % 3);
  auto v = host_.call("VARMAFIT", {Value::matrix(100, 2, yy), Value::scalar(1), Value::scalar(2)});
  ASSERT_EQ(v.status, 0);
  ASSERT_EQ(v.notes.size(), 1u);
  // the start: least-squares AR block, zero MA blocks, residual covariance
  // (found in standard units and carried back, so equal up to roundings)
  const int lag1[1] = {1}, lag2[1] = {2};  // q = 2 is the one lag 2
  mvtsa::VarmafitData data;
  data.series = yy.data();
  data.T = 100;
  data.k = 2;
  data.ar_lags = lag1;
  data.P = 1;
  data.pmax = 1;
  data.ma_lags = lag2;
  data.Q = 1;
  data.qmax = 2;
  std::vector<double> ar(4), ma(4), sigma(3), sigma_full(4), sw(mvtsa::varmafit_start_work_size(2, 1));
  mvtsa::varmafit_start(data, ar.data(), ma.data(), sigma.data(), sw.data());
  mvtsa::unpack_symmetric(sigma.data(), 2, sigma_full.data());
  EXPECT_NE(ar, std::vector<double>(4, 0.0));
  for (int o : {0, 1, 2}) {
    ASSERT_TRUE(v.outputs[o]) << o;
    ASSERT_EQ(v.outputs[o]->data.size(), 4u) << o;
  }
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(v.outputs[0]->data[i], ar[i], 1e-14 * std::fabs(ar[i]));
  EXPECT_EQ(v.outputs[1]->data, std::vector<double>(4, 0.0));
  for (int i = 0; i < 4; ++i)
    EXPECT_NEAR(v.outputs[2]->data[i], sigma_full[i], 1e-14 * std::fabs(sigma_full[0]));
}

}  // namespace
