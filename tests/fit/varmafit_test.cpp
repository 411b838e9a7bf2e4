// VARMAFIT: the parameter mapping, the objective at closed-form points, and
// fits of simulated series through the host (likelihood at the fit against
// the truth and the start, the gradient there, lag lists, missing values).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "tests/fit/simulate.hpp"
#include "tests/support/argument_checks.hpp"
#include "module/frame/host.hpp"
#include "module/linalg/covariance.hpp"
#include "module/varma/varmafit.hpp"
#include "module/varma/varma_kalman.hpp"
#include "module/varma/varmafit_kalman.hpp"

namespace {

using mvts::Value;

TEST(VarmafitMapping, CholeskyTailAndSegments) {
  // k = 2, P = 1, Q = 1: segments (AR row 0, MA row 0), (AR row 1, MA row 1), L
  const double x[11] = {1, 2, 5, 6, 3, 4, 7, 8, 2, 1, 3};
  double ar[4], ma[4], sigma[3];
  mvtsa::varmafit_vector_to_model(x, 2, 1, 1, ar, ma, sigma);
  EXPECT_EQ(std::vector<double>(ar, ar + 4), (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(std::vector<double>(ma, ma + 4), (std::vector<double>{5, 6, 7, 8}));
  // L = [2 0; 1 3]: Sigma = [4 2; 2 10]
  EXPECT_EQ(std::vector<double>(sigma, sigma + 3), (std::vector<double>{4, 2, 10}));
  // back: the same segments and the factor with a positive diagonal, also
  // from a factor with a column of the other sign
  double y[11];
  ASSERT_EQ(mvtsa::varmafit_model_to_vector(ar, ma, sigma, 2, 1, 1, y), 0);
  for (int i = 0; i < 11; ++i) EXPECT_NEAR(y[i], x[i], 1e-15) << i;
  const double flipped[11] = {1, 2, 5, 6, 3, 4, 7, 8, -2, -1, 3};
  mvtsa::varmafit_vector_to_model(flipped, 2, 1, 1, ar, ma, sigma);
  EXPECT_EQ(std::vector<double>(sigma, sigma + 3), (std::vector<double>{4, 2, 10}));
  // a zero pivot fails the mapping
  const double singular[3] = {1, 1, 1};  // [1 1; 1 1]
  EXPECT_EQ(mvtsa::varmafit_model_to_vector(ar, ma, singular, 2, 1, 1, y), 2);
}

// k = 3, P = 2, Q = 0 with Sigma = L L' for a full 3 x 3 L, checked by a
// direct product.
TEST(VarmafitMapping, ThreeVariables) {
  const int k = 3;
  std::vector<double> x(mvtsa::varmafit_parameter_count(k, 2, 0));
  ASSERT_EQ(x.size(), 24u);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = 0.1 * double(i) - 0.7;
  std::vector<double> ar(18), sigma(6);
  mvtsa::varmafit_vector_to_model(x.data(), k, 2, 0, ar.data(), nullptr, sigma.data());
  // block b row j = x[j * 6 + b * 3 ..]
  for (int b = 0; b < 2; ++b)
    for (int j = 0; j < 3; ++j)
      for (int c = 0; c < 3; ++c) EXPECT_EQ(ar[b * 9 + j * 3 + c], x[j * 6 + b * 3 + c]);
  const double* l = x.data() + 18;  // packed rows: (0,0) (1,0) (1,1) (2,0) (2,1) (2,2)
  auto L = [&](int i, int j) { return j > i ? 0.0 : l[mvtsa::packed_index(i, j)]; };
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = 0.0;
      for (int m = 0; m < 3; ++m) s += L(i, m) * L(j, m);
      EXPECT_NEAR(sigma[mvtsa::packed_index(i, j)], s, 1e-14);
    }
}

class VarmafitObjective : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.activate();
    mvtsa::set_host_table(host_.table());
  }
  void TearDown() override { EXPECT_EQ(host_.live_blocks(), 0); }
  mvts::Host host_;
};

// At the start (zero blocks, Sigma = I) every F(t) = I: D = 0 and
// S = sum_t y_t' y_t, so the objective is S / 2.
TEST_F(VarmafitObjective, StartIsWhiteNoiseWithIdentityCovariance) {
  const double phi[4] = {0.5, 0.1, 0.1, 0.3}, theta[4] = {0.3, 0, 0.2, 0.1}, c[3] = {1, 0, 1};
  const auto y = fit_test::varma11(phi, theta, c, 60, 1);
  double s = 0.0;
  for (double v : y) s += v * v;
  const int lags[1] = {1};
  std::vector<double> ar(4, 0.0), ma(4, 0.0), sigma(3);
  mvtsa::packed_identity(2, sigma.data());
  std::vector<double> x(11);
  ASSERT_EQ(mvtsa::varmafit_model_to_vector(ar.data(), ma.data(), sigma.data(), 2, 1, 1, x.data()), 0);
  mvtsa::VarmafitData data;
  data.series = y.data();
  data.T = 60;
  data.k = 2;
  data.ar_lags = lags;
  data.P = 1;
  data.pmax = 1;
  data.ma_lags = lags;
  data.Q = 1;
  data.qmax = 1;
  mvtsa::VarmafitModel model;
  model.ar = ar.data();
  model.ma = ma.data();
  model.sigma_packed = sigma.data();
  std::vector<double> filter(mvtsa::varmafit_kalman_work_size(2, 1, 1));
  model.filter_work = filter.data();
  double value = 0.0;
  ASSERT_EQ(mvtsa::varmafit_evaluate(data, model, x.data(), &value), 0);
  EXPECT_NEAR(value, 0.5 * s, 1e-9 * s);
  EXPECT_NEAR(model.loglik[1], 0.0, 1e-12);
  // a factor with a zero diagonal element: Sigma is singular, the point fails
  x[9] = 1.0;
  x[10] = 0.0;
  x[8] = 1.0;
  EXPECT_NE(mvtsa::varmafit_evaluate(data, model, x.data(), &value), 0);
}

// The fit's one-pass filter against VARMALIK's: the same filter and sums,
// so the same three values to the last bit.
class VarmafitFilter : public VarmafitObjective {
 protected:
  void expect_same(const std::vector<double>& y, std::int64_t T, int k,
                   const std::vector<double>& ar, const std::vector<int>& ar_lags,
                   const std::vector<double>& ma, const std::vector<int>& ma_lags,
                   const std::vector<double>& sigma_packed) {
    const int P = int(ar_lags.size()), Q = int(ma_lags.size());
    const int pmax = P ? ar_lags.back() : 0, qmax = Q ? ma_lags.back() : 0;
    double want[3];
    ASSERT_EQ(mvtsa::varma_kalman_loglik(&want[0], &want[1], &want[2], y.data(), T, k,
                                         ar.data(), P, pmax, ar_lags.data(), ma.data(), Q, qmax,
                                         ma_lags.data(), sigma_packed.data()),
              0);
    // work left over from another model must not matter
    std::vector<double> work(mvtsa::varmafit_kalman_work_size(k, pmax, qmax), 7.5);
    double got[3];
    ASSERT_EQ(mvtsa::varmafit_kalman_loglik(got, y.data(), T, k, ar.data(), P, pmax,
                                            ar_lags.data(), ma.data(), Q, qmax, ma_lags.data(),
                                            sigma_packed.data(), work.data()),
              0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(got[i], want[i]) << i;
  }
};

TEST_F(VarmafitFilter, EqualsTheLikelihoodOfVarmalik) {
  const double phi[4] = {0.5, 0.1, -0.2, 0.3}, theta[4] = {-0.4, 0.0, 0.2, 0.3};
  const double c[3] = {1.0, 0.3, 0.8};
  auto y = fit_test::varma11(phi, theta, c, 80, 3);
  const std::vector<double> sigma = {1.0, 0.3, 0.73};
  // VARMA(1, 1), then with missing values in rows 5 (partly) and 6
  expect_same(y, 80, 2, {phi, phi + 4}, {1}, {theta, theta + 4}, {1}, sigma);
  y[2 * 5] = std::nan("");
  y[2 * 6] = y[2 * 6 + 1] = std::nan("");
  expect_same(y, 80, 2, {phi, phi + 4}, {1}, {theta, theta + 4}, {1}, sigma);
  // subset lags (AR 1 and 3, MA 2), and a non-stationary AR part (P(1) = 1e6 I)
  expect_same(y, 80, 2, {0.3, 0.1, 0.0, 0.2, 0.2, 0.0, 0.1, -0.3}, {1, 3},
              {0.4, 0.0, 0.1, 0.2}, {2}, sigma);
  expect_same(y, 80, 2, {1.1, 0.0, 0.0, 0.5}, {1}, {}, {}, sigma);
}

TEST_F(VarmafitFilter, EqualsVarmalikForALargeState) {
  // k = 2, AR lags 1 and 7: f = 14, roots well inside the unit circle
  const double phi[4] = {0.4, 0.1, -0.1, 0.3}, theta[4] = {0, 0, 0, 0}, c[3] = {1, 0.2, 0.9};
  const auto y = fit_test::varma11(phi, theta, c, 60, 4);
  expect_same(y, 60, 2, {0.4, 0.1, -0.1, 0.3, 0.2, 0.0, 0.05, -0.25}, {1, 7}, {0.3, 0.0, 0.0, 0.2},
              {6}, {1.0, 0.2, 0.85});
}

// Unobserved rows under an explosive AR part: P(t) grows by 9 per step until
// the one-pass filter stops, where VARMALIK stops with status 100.
TEST_F(VarmafitFilter, DivergingFilterFails) {
  const std::vector<double> y(400, std::nan(""));
  const double phi[4] = {3, 0, 0, 3}, sigma[3] = {1, 0, 1};
  const int lag = 1;
  std::vector<double> work(mvtsa::varmafit_kalman_work_size(2, 1, 0));
  double got[3];
  EXPECT_EQ(mvtsa::varmafit_kalman_loglik(got, y.data(), 200, 2, phi, 1, 1, &lag, nullptr, 0, 0,
                                          nullptr, sigma, work.data()),
            mvtsa::kKalmanDiverged);
}

// A state dimension beyond what the filter can hold has no work size (the fit
// then fails its allocation), nor has a model without variables.
TEST_F(VarmafitFilter, UnrepresentableStateHasNoWorkSize) {
  EXPECT_EQ(mvtsa::varmafit_kalman_work_size(2, 1 << 30, 0), 0u);
  EXPECT_EQ(mvtsa::varmafit_kalman_work_size(0, 1, 0), 0u);
  EXPECT_EQ(mvtsa::kalman_filter_work(4, 0, 1 << 29), UINT64_MAX);
  EXPECT_GT(mvtsa::varmafit_kalman_work_size(2, 1, 1), 0u);
}

class VarmafitEntry : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(s_.live_blocks(), 0); }
  double loglik(const std::vector<double>& y, int T, const mvts::Matrix& ar,
                const mvts::Matrix& ma, const mvts::Matrix& sigma) {
    auto r = s_.call("VARMALIK", {Value::matrix(T, 2, y), Value::matrix(ar), Value::matrix(ma),
                                  Value::matrix(sigma)});
    EXPECT_EQ(r.status, 0);
    return r.outputs[0] ? r.outputs[0]->at(0, 0) : std::nan("");
  }
  mvts::Session s_;
};

TEST_F(VarmafitEntry, FitOfSimulatedVarma11) {
  const double phi[4] = {0.5, 0.1, -0.2, 0.3}, theta[4] = {-0.4, 0.0, 0.2, 0.3};
  const double c[3] = {1.0, 0.3, 0.8};
  const int T = 300;
  const auto y = fit_test::varma11(phi, theta, c, T, 21);
  auto r = s_.call("VARMAFIT", {Value::matrix(T, 2, y), Value::scalar(1), Value::scalar(1)});
  ASSERT_EQ(r.status, 0);
  ASSERT_TRUE(r.outputs[0] && r.outputs[1] && r.outputs[2]);
  const mvts::Matrix& ar = *r.outputs[0];
  const mvts::Matrix& ma = *r.outputs[1];
  const mvts::Matrix& sig = *r.outputs[2];
  EXPECT_EQ(ar.rows, 2);
  EXPECT_EQ(sig.at(0, 1), sig.at(1, 0));
  const double at_fit = loglik(y, T, ar, ma, sig);
  const mvts::Matrix truth_sigma(2, 2, {1.0, 0.3, 0.3, 0.09 + 0.64});
  const double at_truth = loglik(y, T, mvts::Matrix(2, 2, {phi, phi + 4}),
                                 mvts::Matrix(2, 2, {theta, theta + 4}), truth_sigma);
  const double at_start = loglik(y, T, mvts::Matrix(2, 2), mvts::Matrix(2, 2),
                                 mvts::Matrix(2, 2, {1, 0, 0, 1}));
  EXPECT_GE(at_fit, at_truth);
  EXPECT_GT(at_fit, at_start);
  // The gradient of L over the coefficients and Sigma at the fit, by central
  // differences through VARMALIK: small against the curvature scale T.
  std::vector<double> g;
  for (int which = 0; which < 3; ++which)
    for (int i = 0; i < 2; ++i)
      for (int j = (which == 2 ? i : 0); j < 2; ++j) {
        auto bump = [&](double h) {
          mvts::Matrix a = ar, m = ma, s = sig;
          mvts::Matrix& t = which == 0 ? a : which == 1 ? m : s;
          t.at(i, j) += h;
          if (which == 2 && i != j) t.at(j, i) += h;
          return loglik(y, T, a, m, s);
        };
        g.push_back((bump(1e-5) - bump(-1e-5)) / 2e-5);
      }
  for (double v : g) EXPECT_LT(std::fabs(v), 2e-3);
  // At the maximum over Sigma, S = T k (the quadratic form of the innovations).
  auto lr = s_.call("VARMALIK", {Value::matrix(T, 2, y), Value::matrix(ar), Value::matrix(ma),
                                 Value::matrix(sig)});
  ASSERT_EQ(lr.status, 0);
  EXPECT_NEAR(lr.outputs[0]->at(2, 0), double(T) * 2, 1e-3);
}

TEST_F(VarmafitEntry, OnlyMaOrOnlyArLags) {
  const double phi[4] = {0.4, 0.0, 0.1, 0.2}, theta[4] = {0, 0, 0, 0}, c[3] = {1, 0, 1};
  const int T = 150;
  const auto y = fit_test::varma11(phi, theta, c, T, 5);
  auto ma_only = s_.call("VARMAFIT", {Value::matrix(T, 2, y), Value::omitted(), Value::scalar(1)});
  ASSERT_EQ(ma_only.status, 0);
  EXPECT_FALSE(ma_only.outputs[0]);
  ASSERT_TRUE(ma_only.outputs[1] && ma_only.outputs[2]);
  EXPECT_EQ(ma_only.outputs[1]->rows, 2);
  // AR lags (2, 1, 2): P = 2, output 1 has 2k rows, no output 2
  auto ar_only = s_.call("VARMAFIT", {Value::matrix(T, 2, y), Value::row({2, 1, 2})});
  ASSERT_EQ(ar_only.status, 0);
  ASSERT_TRUE(ar_only.outputs[0]);
  EXPECT_EQ(ar_only.outputs[0]->rows, 4);
  EXPECT_FALSE(ar_only.outputs[1]);
  // the lag-1 block is near the truth's
  EXPECT_NEAR(ar_only.outputs[0]->at(0, 0), 0.4, 0.2);
  EXPECT_NEAR(ar_only.outputs[0]->at(1, 1), 0.2, 0.2);
}

TEST_F(VarmafitEntry, MissingAndInfiniteValues) {
  const double phi[4] = {0.5, 0.0, 0.0, 0.5}, theta[4] = {0, 0, 0, 0}, c[3] = {1, 0, 1};
  const int T = 120;
  auto y = fit_test::varma11(phi, theta, c, T, 8);
  y[2 * 10 + 1] = std::numeric_limits<double>::quiet_NaN();
  auto r = s_.call("VARMAFIT", {Value::matrix(T, 2, y), Value::scalar(1)});
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(r.messages.empty());
  const mvts::Matrix fit_nan = *r.outputs[0];
  // An infinite value draws 368 (column, row, bound) and is then missing:
  // the fit equals the one with a NaN there.
  y[2 * 10 + 1] = std::numeric_limits<double>::infinity();
  r = s_.call("VARMAFIT", {Value::matrix(T, 2, y), Value::scalar(1)});
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].number, 368);
  ASSERT_EQ(r.messages[0].inserts.size(), 3u);
  EXPECT_EQ(std::get<std::int64_t>(r.messages[0].inserts[0]), 1);
  EXPECT_EQ(std::get<std::int64_t>(r.messages[0].inserts[1]), 10);
  EXPECT_EQ(std::get<double>(r.messages[0].inserts[2]), 1.3407807929942597e152);
  EXPECT_EQ(r.outputs[0]->data, fit_nan.data);
  EXPECT_NEAR(fit_nan.at(0, 0), 0.5, 0.25);
}

// A model with at least as many coefficients per equation as complete rows
// beyond its largest lag cannot be identified: refused at once, before any
// work space or evaluation.
TEST_F(VarmafitEntry, RefusesUnidentifiableFits) {
  std::vector<double> one_row(20);
  for (int i = 0; i < 20; ++i) one_row[i] = i + 1;
  auto r = s_.call("VARMAFIT", {Value::matrix(1, 20, one_row), Value::scalar(1), Value::scalar(1)});
  EXPECT_EQ(r.status, 100);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].number, 395);
  EXPECT_EQ(std::get<std::int64_t>(r.messages[0].inserts[0]), 40);
  EXPECT_EQ(std::get<std::int64_t>(r.messages[0].inserts[1]), 0);
  for (auto& o : r.outputs) EXPECT_FALSE(o);
  // 60 x 2 with AR lags 1..20 and one MA lag: 42 coefficients, 40 rows
  const double phi[4] = {0.4, 0.0, 0.1, 0.2}, theta[4] = {0, 0, 0, 0}, c[3] = {1, 0, 1};
  const auto y = fit_test::varma11(phi, theta, c, 60, 9);
  std::vector<double> lags(20);
  for (int i = 0; i < 20; ++i) lags[i] = i + 1;
  r = s_.call("VARMAFIT", {Value::matrix(60, 2, y), Value::row(lags), Value::scalar(1)});
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].number, 395);
  EXPECT_EQ(std::get<std::int64_t>(r.messages[0].inserts[0]), 42);
  EXPECT_EQ(std::get<std::int64_t>(r.messages[0].inserts[1]), 40);
  // AR lags 1..3 fit
  r = s_.call("VARMAFIT", {Value::matrix(60, 2, y), Value::row({1, 2, 3})});
  EXPECT_EQ(r.status, 0);
}

// No complete row: every value missing, or every row holding one value
// above the screening bound (each drawing 368 first).
TEST_F(VarmafitEntry, FailsWithoutACompleteRow) {
  std::vector<double> y(60, std::nan(""));
  auto r = s_.call("VARMAFIT", {Value::matrix(30, 2, y), Value::scalar(1)});
  EXPECT_EQ(r.status, 100);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].number, 396);
  for (auto& o : r.outputs) EXPECT_FALSE(o);
  for (int t = 0; t < 30; ++t) {
    y[2 * t] = 0.1 * t;
    y[2 * t + 1] = t % 2 ? 1e200 : std::nan("");
  }
  r = s_.call("VARMAFIT", {Value::matrix(30, 2, y), Value::scalar(1)});
  EXPECT_EQ(r.status, 100);
  ASSERT_EQ(r.messages.size(), 16u);
  EXPECT_EQ(r.messages[0].number, 368);
  EXPECT_EQ(r.messages.back().number, 396);
}

TEST_F(VarmafitEntry, ArgumentChecks) {
  const std::vector<double> y = {1, 2, 3, 4, 5, 6};
  auto st = [&](std::vector<Value> a) { return s_.call("VARMAFIT", a); };
  EXPECT_EQ(st({}).status, 2);
  EXPECT_EQ(st({Value::no_value(), Value::scalar(1)}).status, 2);
  EXPECT_EQ(st({Value::character("y"), Value::scalar(1)}).status, 13);
  auto one_col = st({Value::column({1, 2, 3}), Value::scalar(1)});
  EXPECT_EQ(one_col.status, 100);
  ASSERT_EQ(one_col.messages.size(), 1u);
  EXPECT_EQ(one_col.messages[0].number, 351);
  ASSERT_EQ(one_col.messages[0].inserts.size(), 2u);
  EXPECT_EQ(std::get<std::string>(one_col.messages[0].inserts[0]), "vector");
  auto one = st({Value::scalar(1), Value::scalar(1)});
  ASSERT_EQ(one.messages.size(), 1u);
  ASSERT_EQ(one.messages[0].inserts.size(), 2u);
  EXPECT_EQ(std::get<std::string>(one.messages[0].inserts[0]), "scalar");
  const Value yv = Value::matrix(3, 2, y);
  for (double bad : {0.0, -1.0, 0.5}) {
    auto r = st({yv, Value::scalar(bad)});
    EXPECT_EQ(r.status, 100) << bad;
    ASSERT_EQ(r.messages.size(), 1u) << bad;
    EXPECT_EQ(r.messages[0].number, 353) << bad;
  }
  EXPECT_EQ(st({yv, Value::scalar(std::nan(""))}).status, 17);
  EXPECT_EQ(st({yv, Value::character("1")}).status, 13);
  EXPECT_EQ(test_support::message_numbers(st({yv, Value::matrix(2, 2, {1, 2, 3, 4})})),
            std::vector<int>{351});
  EXPECT_EQ(st({yv, Value::scalar(3e9)}).status, 18);
  auto none = st({yv});
  EXPECT_EQ(none.status, 100);
  ASSERT_EQ(none.messages.size(), 1u);
  ASSERT_EQ(none.messages[0].inserts.size(), 1u);
  EXPECT_EQ(none.messages[0].number, 354);
  EXPECT_EQ(std::get<std::string>(none.messages[0].inserts[0]), "order");
  for (auto& o : none.outputs) EXPECT_FALSE(o);
}

}  // namespace
