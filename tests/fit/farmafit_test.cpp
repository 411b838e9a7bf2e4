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
#include "module/farma/gph.hpp"
#include "module/varma/covariance.hpp"
#include "module/varma/varmafit.hpp"

namespace {

using mvts::Value;

class FarmafitEntry : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(s_.live_blocks(), 0); }
  mvts::CallResult fit(const std::vector<double>& y, Value p, Value q, Value opt = Value::omitted()) {
    return s_.call("FARMAFIT", {Value::column(y), p, q, opt});
  }
  double css_loglik(const std::vector<double>& y, double d) {
    auto r = s_.call("FARMALIK", {Value::column(y), Value::scalar(d)});
    EXPECT_EQ(r.status, 0);
    return r.outputs[0]->at(0, 0);
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
  EXPECT_EQ(r.messages[0].number, 353);
  r = fit(y, Value::matrix(2, 2, {1, 2, 3, 4}), Value::omitted());
  EXPECT_EQ(r.messages[0].number, 351);
  r = fit(y, Value::omitted(), Value::omitted(), Value::matrix(2, 2, {0, 0, 0, 0}));
  EXPECT_EQ(r.messages[0].number, 351);
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
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(v.outputs[0]->data[i], ar[i], 1e-15);
  EXPECT_EQ(v.outputs[1]->data, std::vector<double>(4, 0.0));
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(v.outputs[2]->data[i], sigma_full[i], 1e-15);
}

}  // namespace
