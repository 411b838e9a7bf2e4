// VARMALIK through the host: the three methods against the dense Gaussian
// density and against each other, the method choice, the argument checks,
// and the failure paths (utility files, allocations).
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "tests/support/allocation.hpp"
#include "tests/varma/model_support.hpp"

namespace {

using lik_test::Model;
using mvts::Value;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class Varmalik : public ::testing::Test {
 protected:
  void SetUp() override {
    s_.activate();
    mvtsa::set_host_table(s_.table());
  }
  mvts::CallResult call(const std::vector<Value>& args) { return s_.call("VARMALIK", args); }
  static int first_message(const mvts::CallResult& r) {
    return r.messages.empty() ? -1 : r.messages.front().number;
  }
  static std::vector<double> values(const mvts::CallResult& r) {
    return r.outputs.empty() || !r.outputs[0] ? std::vector<double>{} : r.outputs[0]->data;
  }
  // VARMALIK by each method gives D and S of the dense density d to `rel`
  // (relative, plus 1), and L = -(D + S)/2.
  void expect_dense(const Model& m, const std::vector<double>& y, std::int64_t T,
                    std::initializer_list<double> methods, const lik_test::Dense& d, double rel,
                    const std::string& what);
  mvts::Session s_;
};

// Relative agreement of two likelihood components.
void expect_close(double a, double b, double rel, const std::string& what) {
  EXPECT_NEAR(a, b, rel * (1.0 + std::fabs(b))) << what;
}

void Varmalik::expect_dense(const Model& m, const std::vector<double>& y, std::int64_t T,
                            std::initializer_list<double> methods, const lik_test::Dense& d,
                            double rel, const std::string& what) {
  for (double method : methods) {
    const std::string where = what + " method " + std::to_string(int(method));
    const auto r = call(lik_test::lik_args(m, y, T, method));
    ASSERT_EQ(r.status, 0) << where;
    const std::vector<double> v = values(r);
    ASSERT_EQ(v.size(), 3u) << where;
    expect_close(v[1], d.logdet, rel, "D " + where);
    expect_close(v[2], d.quad, rel, "S " + where);
    EXPECT_DOUBLE_EQ(v[0], -(v[1] + v[2]) / 2) << where;
  }
}

// --- the exact methods against the dense density --------------------------------------

// Random stationary models, k = 2..4, p, q <= 3, full and subset lag lists,
// T k <= 300: methods 0 and 2 both give D = log det C and S = y' C^-1 y of the
// stacked covariance C built from Gamma(h).  Tolerance 1e-8 relative.
TEST_F(Varmalik, ExactMethodsMatchTheDenseGaussianDensity) {
  std::mt19937 g(20261209);
  int checked = 0;
  for (int trial = 0; trial < 36; ++trial) {
    const int k = 2 + trial % 3;
    const int np = trial % 4, nq = (trial / 4) % 4;
    if (np == 0 && nq == 0) continue;
    const bool subset = (trial % 5) >= 3;
    const Model m = lik_test::random_model(k, np, nq, subset, g);
    const std::int64_t T = std::min<std::int64_t>(300 / k, 25 + trial);
    const std::vector<double> y = lik_test::random_series(T, k, g);
    s_.activate();
    const lik_test::Dense d = lik_test::dense_gaussian(m, y, T);
    ASSERT_TRUE(d.ok) << "trial " << trial;
    expect_dense(m, y, T, {0.0, 2.0}, d, 1e-8, "trial " + std::to_string(trial));
    ++checked;
  }
  EXPECT_GE(checked, 30);
}

// Rows with a missing value: every method turns into method 2, whose D and S
// are those of the dense density of the rows observed (the same series with
// those rows left out, stationary start), over leading, interior, trailing,
// runs and partly missing rows.  A missing row adds nothing to either sum.
TEST_F(Varmalik, MissingRowsGiveTheDensityOfTheRowsObserved) {
  std::mt19937 g(7);
  const std::int64_t T = 30;
  const std::vector<std::vector<int>> patterns = {
      {0},           {0, 1, 2, 3, 4}, {29},          {28, 29},      {12},
      {5, 6, 7},     {0, 29},         {3, 10, 17},   {1, 3, 5, 7},  {14, 15, 16, 17, 18},
      {0, 2, 4, 27}, {9, 20},         {0, 1, 28, 29}, {11, 12, 13}, {6, 19, 25}};
  for (std::size_t pi = 0; pi < patterns.size(); ++pi) {
    const Model m = lik_test::random_model(2 + int(pi % 3), 1 + int(pi % 2), int(pi % 3) / 2,
                                           false, g);
    const int k = m.k;
    std::vector<double> y = lik_test::random_series(T, k, g);
    std::vector<bool> observed(std::size_t(T), true);
    for (std::size_t i = 0; i < patterns[pi].size(); ++i) {
      const int t = patterns[pi][i];
      observed[std::size_t(t)] = false;
      y[std::size_t(t * k + int(i) % k)] = kNaN;  // one element: the whole row is missing
    }
    s_.activate();
    const lik_test::Dense d = lik_test::dense_gaussian(m, y, T, &observed);
    ASSERT_TRUE(d.ok) << "pattern " << pi;
    expect_dense(m, y, T, {0.0, 1.0, 2.0}, d, 1e-9, "pattern " + std::to_string(pi));
  }
}

// With Sigma = 2 I and no dynamics an interior missing row changes nothing but
// its own terms: D falls by exactly k log 2 and S by that row's y'y / 2.
TEST_F(Varmalik, MissingRowOfWhiteNoiseDropsExactlyItsOwnTerms) {
  std::mt19937 g(8);
  const std::int64_t T = 20;
  std::vector<double> y = lik_test::random_series(T, 2, g);
  auto lik = [&](const std::vector<double>& series) {
    return values(call({Value::matrix(std::int32_t(T), 2, series), Value::omitted(),
                        Value::matrix(2, 2, {0, 0, 0, 0}), Value::matrix(2, 2, {2, 0, 0, 2})}));
  };
  const std::vector<double> full = lik(y);
  const double row = (y[20] * y[20] + y[21] * y[21]) / 2;
  y[20] = kNaN;
  const std::vector<double> gap = lik(y);
  ASSERT_EQ(full.size(), 3u);
  ASSERT_EQ(gap.size(), 3u);
  EXPECT_NEAR(full[1] - gap[1], 2 * std::log(2.0), 1e-12);
  EXPECT_NEAR(full[2] - gap[2], row, 1e-12 * (1 + row));
}

// --- the conditional method ------------------------------------------------------------

// VARMA(1,1), k = 2, T = 4, written out by hand:
//   r(t) = Y(t) - Phi Y(t-1) (t = 2..4);  a(2) = r(2), a(t) = r(t) + Theta a(t-1);
//   S = sum a' Sigma^-1 a;  D = 3 log det Sigma.
TEST_F(Varmalik, ConditionalMethodFollowsTheResidualRecursion) {
  const double phi[4] = {0.5, 0.1, -0.2, 0.3}, th[4] = {0.4, 0.0, 0.2, -0.1};
  const double sg[4] = {2.0, 0.5, 0.5, 1.0};
  const double y[8] = {1.0, -0.5, 0.3, 0.8, -1.2, 0.4, 0.7, 0.1};
  double a_prev[2] = {0, 0}, S = 0;
  const double det = sg[0] * sg[3] - sg[1] * sg[2];
  for (int t = 1; t < 4; ++t) {
    double a[2];
    for (int i = 0; i < 2; ++i) {
      a[i] = y[t * 2 + i] - (phi[i * 2] * y[(t - 1) * 2] + phi[i * 2 + 1] * y[(t - 1) * 2 + 1]);
      if (t > 1) a[i] += th[i * 2] * a_prev[0] + th[i * 2 + 1] * a_prev[1];
    }
    // a' Sigma^-1 a with the explicit 2 x 2 inverse
    S += (sg[3] * a[0] * a[0] - 2 * sg[1] * a[0] * a[1] + sg[0] * a[1] * a[1]) / det;
    a_prev[0] = a[0];
    a_prev[1] = a[1];
  }
  const auto r = call({Value::matrix(4, 2, std::vector<double>(y, y + 8)), Value::matrix(2, 2, std::vector<double>(phi, phi + 4)),
                       Value::matrix(2, 2, std::vector<double>(th, th + 4)), Value::matrix(2, 2, std::vector<double>(sg, sg + 4)),
                       Value::omitted(), Value::omitted(), Value::scalar(1.7)});
  ASSERT_EQ(r.status, 0);
  EXPECT_NEAR(values(r)[1], 3 * std::log(det), 1e-14);
  EXPECT_NEAR(values(r)[2], S, 1e-13);
  EXPECT_NEAR(values(r)[0], -(3 * std::log(det) + S) / 2, 1e-13);
}

TEST_F(Varmalik, ConditionalMethodWithPmaxAtLeastTUsesTheFilter) {
  std::mt19937 g(11);
  const Model m = lik_test::random_model(2, 3, 0, false, g);  // pmax = 3
  const std::vector<double> y = lik_test::random_series(3, 2, g);
  const auto r1 = call(lik_test::lik_args(m, y, 3, 1.0));
  const auto r2 = call(lik_test::lik_args(m, y, 3, 2.0));
  ASSERT_EQ(r1.status, 0);
  ASSERT_EQ(r2.status, 0);
  EXPECT_EQ(values(r1), values(r2));
}

// --- lag lists and the method argument --------------------------------------------------

TEST_F(Varmalik, LagListsPlaceBlocksInAscendingLagOrder) {
  std::mt19937 g(5);
  const std::vector<double> y = lik_test::random_series(40, 2, g);
  const std::vector<double> b1 = {0.4, 0.1, 0.0, 0.3}, b3 = {0.2, 0.0, -0.1, 0.2};
  std::vector<double> stacked = b1;
  stacked.insert(stacked.end(), b3.begin(), b3.end());
  std::vector<double> spread = b1;  // lags 1, 2 (zero), 3
  spread.insert(spread.end(), 4, 0.0);
  spread.insert(spread.end(), b3.begin(), b3.end());
  for (double method : {0.0, 1.0, 2.0}) {
    const auto listed = call({Value::matrix(40, 2, y), Value::matrix(4, 2, stacked),
                              Value::omitted(), Value::omitted(), Value::row({1, 3}),
                              Value::omitted(), Value::scalar(method)});
    const auto reversed = call({Value::matrix(40, 2, y), Value::matrix(4, 2, stacked),
                                Value::omitted(), Value::omitted(), Value::row({3, 1}),
                                Value::omitted(), Value::scalar(method)});
    const auto full = call({Value::matrix(40, 2, y), Value::matrix(6, 2, spread),
                            Value::omitted(), Value::omitted(), Value::omitted(),
                            Value::omitted(), Value::scalar(method)});
    ASSERT_EQ(listed.status, 0);
    EXPECT_EQ(values(listed), values(reversed)) << method;
    ASSERT_EQ(values(full).size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(values(listed)[i], values(full)[i], 1e-9) << method;
  }
}

TEST_F(Varmalik, MethodValueSelectsByItsIntegerPartWithinZeroToTwo) {
  std::mt19937 g(3);
  const Model m = lik_test::random_model(2, 1, 1, false, g);
  const std::vector<double> y = lik_test::random_series(20, 2, g);
  const auto r17 = call(lik_test::lik_args(m, y, 20, 1.7));
  const auto r1 = call(lik_test::lik_args(m, y, 20, 1.0));
  const auto r2 = call(lik_test::lik_args(m, y, 20, 2.0));
  ASSERT_EQ(r17.status, 0);
  EXPECT_EQ(values(r17), values(r1));
  EXPECT_NE(values(r1), values(r2));  // conditional and exact differ on this model
  for (double bad : {2.5, -0.1}) {
    const auto r = call(lik_test::lik_args(m, y, 20, bad));
    EXPECT_EQ(r.status, 11) << bad;
    EXPECT_TRUE(r.messages.empty());
    EXPECT_FALSE(r.outputs[0]);
  }
  auto args = lik_test::lik_args(m, y, 20, 0);
  args[6] = Value::matrix(2, 2, {0, 0, 0, 0});
  EXPECT_EQ(first_message(call(args)), 15);
  args[6] = Value::row({0.0, 5.0});  // a vector: its first element counts
  EXPECT_EQ(call(args).status, 0);
  // omitted method: the Kalman filter
  args.resize(6);
  EXPECT_EQ(values(call(args)), values(r2));
}

// --- the method choice and the filter's start ------------------------------------------

// k = 2, Phi_1 = I, Sigma = I: method 0 turns into method 2, whose
// stationary solve is singular, so P(1) = 1e6 I.  Then F(1) = 1e6 I and, the
// state being observed exactly, F(t) = I and v(t) = Y(t) - Y(t-1) for t > 1.
TEST_F(Varmalik, UnitRootStartsTheFilterFromTheFallbackCovariance) {
  std::mt19937 g(13);
  const std::int64_t T = 15;
  const std::vector<double> y = lik_test::random_series(T, 2, g);
  const auto r = call({Value::matrix(std::int32_t(T), 2, y), Value::matrix(2, 2, {1, 0, 0, 1}),
                       Value::omitted(), Value::omitted(), Value::omitted(), Value::omitted(),
                       Value::scalar(0)});
  ASSERT_EQ(r.status, 0);
  double S = (y[0] * y[0] + y[1] * y[1]) / 1e6;
  for (std::int64_t t = 1; t < T; ++t)
    for (int i = 0; i < 2; ++i) S += std::pow(y[t * 2 + i] - y[(t - 1) * 2 + i], 2);
  EXPECT_NEAR(values(r)[1], 2 * std::log(1e6), 1e-6);
  EXPECT_NEAR(values(r)[2], S, 1e-6 * S);
}

TEST_F(Varmalik, HugeValueIsReportedAndThenTreatedAsMissing) {
  std::mt19937 g(17);
  const Model m = lik_test::random_model(2, 1, 1, false, g);
  std::vector<double> y = lik_test::random_series(12, 2, g);
  std::vector<double> y_nan = y;
  y[5 * 2 + 1] = 1e200;
  y_nan[5 * 2 + 1] = kNaN;
  const auto r = call(lik_test::lik_args(m, y, 12, 0));
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(first_message(r), 368);
  const auto& ins = r.messages.front().inserts;
  ASSERT_EQ(ins.size(), 3u);
  EXPECT_EQ(std::get<std::int64_t>(ins[0]), 1);  // column
  EXPECT_EQ(std::get<std::int64_t>(ins[1]), 5);  // row
  EXPECT_EQ(std::get<double>(ins[2]), 1.3407807929942597e152);
  const auto ref = call(lik_test::lik_args(m, y_nan, 12, 2));
  EXPECT_EQ(values(r), values(ref));
  EXPECT_TRUE(ref.messages.empty());  // a NaN is missing, not too large
}

TEST_F(Varmalik, OmittedSigmaIsTheIdentity) {
  std::mt19937 g(19);
  const std::vector<double> y = lik_test::random_series(25, 3, g);
  std::vector<double> th(9);
  for (int i = 0; i < 9; ++i) th[i] = 0.1 * (i - 4);
  for (double method : {0.0, 1.0, 2.0}) {
    const auto omitted = call({Value::matrix(25, 3, y), Value::omitted(), Value::matrix(3, 3, th),
                               Value::omitted(), Value::omitted(), Value::omitted(),
                               Value::scalar(method)});
    const auto eye = call({Value::matrix(25, 3, y), Value::omitted(), Value::matrix(3, 3, th),
                           Value::matrix(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1}), Value::omitted(),
                           Value::omitted(), Value::scalar(method)});
    ASSERT_EQ(omitted.status, 0);
    EXPECT_EQ(values(omitted), values(eye));
  }
}

// A series observed nowhere under an explosive AR part: P(t) grows by 9 per
// step until it reaches the divergence limit; status 100 without a message.
TEST_F(Varmalik, DivergingFilterStopsWithStatus100) {
  std::vector<double> y(400, kNaN);
  const auto r = call({Value::matrix(200, 2, y), Value::matrix(2, 2, {3, 0, 0, 3})});
  EXPECT_EQ(r.status, 100);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(s_.live_pools(), 0);
  EXPECT_EQ(s_.open_utility_files(), 0);
}

// MA blocks near +-1000 are far from invertible: the conditional residuals
// a(t) = r(t) + Theta a(t-1) grow by about 1000 per step and pass the largest
// double after about 100 of the 200 rows.  Method 1 fails with message 382
// instead of returning a null log-likelihood with status 0; the exact
// methods, which do not run that recursion, stay finite.
TEST_F(Varmalik, ConditionalMethodWhoseResidualsOverflowFails) {
  std::vector<double> y(400);
  for (int t = 0; t < 200; ++t) {
    y[2 * t] = std::sin(0.9 * t);
    y[2 * t + 1] = std::cos(1.7 * t + 0.2);
  }
  const Value series = Value::matrix(200, 2, y);
  const Value theta = Value::matrix(2, 2, {1000, 3, 2, -1000});
  const Value sigma = Value::matrix(2, 2, {1, 0.5, 0.5, 1});
  const Value none = Value::omitted();
  const auto r = call({series, none, theta, sigma, none, none, Value::scalar(1)});
  EXPECT_EQ(r.status, 100);
  EXPECT_EQ(first_message(r), 382);
  for (double method : {0.0, 2.0}) {
    const auto exact = call({series, none, theta, sigma, none, none, Value::scalar(method)});
    ASSERT_EQ(exact.status, 0) << method;
    for (double v : values(exact)) EXPECT_TRUE(std::isfinite(v)) << method;
  }
  EXPECT_EQ(s_.live_blocks(), 0);
}

// --- argument checks -------------------------------------------------------------------

TEST_F(Varmalik, ArgumentChecksInTheirOrder) {
  const Value phi = Value::matrix(2, 2, {0.5, 0, 0, 0.5});
  const Value series = Value::matrix(3, 2, {1, 2, 3, 4, 5, 6});
  auto msg = [&](std::vector<Value> a) { return call(a); };
  auto r = msg({Value::column({1, 2, 3}), phi});
  EXPECT_EQ(first_message(r), 351);
  EXPECT_EQ(std::get<std::string>(r.messages[0].inserts[0]), "vector");
  r = msg({Value::scalar(1), phi});
  EXPECT_EQ(std::get<std::string>(r.messages[0].inserts[0]), "scalar");
  EXPECT_EQ(std::get<std::string>(r.messages[0].inserts[1]), "matrix");
  EXPECT_EQ(first_message(msg({Value::matrix(0, 2, {}), phi})), 350);
  EXPECT_EQ(msg({Value::no_value(), phi}).status, 2);
  EXPECT_EQ(msg({Value::character("y"), phi}).status, 13);
  // neither phi nor theta
  r = msg({series});
  EXPECT_EQ(first_message(r), 354);
  EXPECT_EQ(std::get<std::string>(r.messages[0].inserts[0]), "coefficient");
  // phi
  EXPECT_EQ(msg({series, Value::no_value()}).status, 2);
  EXPECT_EQ(msg({series, Value::matrix(2, 2, {kNaN, 0, 0, 0})}).status, 17);
  EXPECT_EQ(first_message(msg({series, Value::matrix(3, 2, {0, 0, 0, 0, 0, 0})})), 355);
  EXPECT_EQ(first_message(msg({series, Value::matrix(3, 3, {0, 0, 0, 0, 0, 0, 0, 0, 0})})), 352);
  // theta without a value goes on to the dimension test
  EXPECT_EQ(first_message(msg({series, phi, Value::no_value()})), 350);
  r = msg({series, phi, Value::matrix(3, 2, {0, 0, 0, 0, 0, 0})});
  EXPECT_EQ(std::get<std::string>(r.messages[0].inserts[0]), "MA");
  // sigma
  const Value th = Value::omitted();
  EXPECT_EQ(first_message(msg({series, phi, th, Value::matrix(2, 3, {1, 0, 0, 0, 1, 0})})), 357);
  EXPECT_EQ(first_message(msg({series, phi, th, Value::matrix(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1})})),
            352);
  EXPECT_EQ(msg({series, phi, th, Value::matrix(2, 2, {1, 0.5, 0.2, 1})}).status, 10);
  EXPECT_EQ(msg({series, phi, th, Value::matrix(2, 2, {1, 2, 2, 1})}).status, 8);
  // lag lists
  const Value sg = Value::omitted();
  EXPECT_EQ(first_message(msg({series, phi, th, sg, Value::row({1, 2})})), 356);
  EXPECT_EQ(first_message(msg({series, phi, th, sg, Value::scalar(0)})), 353);
  EXPECT_EQ(first_message(msg({series, phi, th, sg, Value::matrix(2, 2, {1, 1, 1, 1})})), 351);
  EXPECT_EQ(first_message(msg({series, phi, th, sg, Value::omitted(), Value::scalar(1)})), 356);
  // nothing was created by any failed check
  EXPECT_EQ(s_.live_blocks(), 0);
}

// --- failure paths ---------------------------------------------------------------------

TEST_F(Varmalik, UtilityFileFailureIsReportedAndLeaksNothing) {
  std::mt19937 g(23);
  const Model m = lik_test::random_model(2, 1, 1, false, g);
  const std::vector<double> y = lik_test::random_series(300, 2, g);  // two chunks
  int failures = 0;
  for (int n = 1; n < 200; ++n) {
    s_.fail_utility_at(n);
    const auto r = call(lik_test::lik_args(m, y, 300, 2));
    s_.fail_utility_at(0);
    EXPECT_EQ(s_.open_utility_files(), 0) << n;
    EXPECT_EQ(s_.live_pools(), 0) << n;
    EXPECT_EQ(s_.live_blocks(), 0) << n;
    if (r.status == 0) break;
    ++failures;
    EXPECT_EQ(r.status, 100) << n;
    ASSERT_FALSE(r.messages.empty()) << n;
    EXPECT_EQ(r.messages.back().number, 0) << n;  // error_code_report
    EXPECT_LT(std::get<std::int64_t>(r.messages.back().inserts.at(0)), 0) << n;
  }
  // 4 creates, 2 chunks x 4 files written, 2 rewinds, 2 x 2 reads, 4 closes
  EXPECT_EQ(failures, 4 + 8 + 2 + 4 + 4);
}

TEST_F(Varmalik, AllocationFailureAtEveryAllocationGivesStatusOne) {
  std::mt19937 g(29);
  const Model m = lik_test::random_model(2, 2, 1, true, g);
  const std::vector<double> y = lik_test::random_series(30, 2, g);
  for (double method : {0.0, 1.0, 2.0}) {
    SCOPED_TRACE(method);
    EXPECT_GE(test_support::expect_allocation_failures(
                  s_, "VARMALIK", lik_test::lik_args(m, y, 30, method), 499),
              3);
  }
}

// A filter state too large for the host: the call ends with status 1 and the
// host's error is raised once, not once per array that could not be had.
TEST_F(Varmalik, RefusedFilterArraysRaiseOneError) {
  s_.set_allocation_limit(16 * 1024);  // f = 82 below: f x f doubles = 53 KiB
  const Value theta = Value::matrix(2, 2, {0.3, 0.1, 0.0, -0.2});
  const Value y = Value::matrix(3, 2, {1, 2, 3, 4, 5, 6});
  const auto r = call({y, Value::omitted(), theta, Value::omitted(), Value::omitted(),
                       Value::scalar(40)});
  s_.set_allocation_limit(std::uint64_t(16) << 30);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(s_.live_blocks(), 0);
  EXPECT_EQ(s_.live_pools(), 0);
  EXPECT_EQ(s_.open_utility_files(), 0);
}

// One MA block at a distant listed lag Q = 100000 and T = 3 < Q observations:
// the rows are independent with covariance G = I + Theta Theta' (S = I), so
// D = 3 log det G and S = sum_t y_t' G^-1 y_t.  The innovations method builds
// its MA covariances over the listed blocks only and answers at once.
TEST_F(Varmalik, ExactMethodWithOneMaBlockAtADistantLag) {
  const Value theta = Value::matrix(2, 2, {0.3, 0.1, 0.0, -0.2});
  const std::vector<double> y = {1, 2, -3, 4, 5, -6};
  const auto r = call({Value::matrix(3, 2, y), Value::omitted(), theta, Value::omitted(),
                       Value::omitted(), Value::scalar(100000), Value::scalar(0)});
  ASSERT_EQ(r.status, 0);
  const std::vector<double> v = values(r);
  ASSERT_EQ(v.size(), 3u);
  // G = [[1.1, -0.02], [-0.02, 1.04]]
  const double g00 = 1.1, g01 = -0.02, g11 = 1.04, det = g00 * g11 - g01 * g01;
  double quad = 0.0;
  for (int t = 0; t < 3; ++t) {
    const double a = y[2 * t], b = y[2 * t + 1];
    quad += (g11 * a * a - 2.0 * g01 * a * b + g00 * b * b) / det;
  }
  expect_close(v[1], 3.0 * std::log(det), 1e-13, "D");
  expect_close(v[2], quad, 1e-13, "S");
  expect_close(v[0], -(v[1] + v[2]) / 2.0, 1e-15, "loglik");
}

// Sigma = 1e300 I: det Sigma = 1e600 overflows a double, its logarithm does
// not.  VAR(1) with Phi = I/2 and T = 2: method 1 has one residual
// a = y2 - y1/2 = (2.5, 3), D = 600 ln 10, S = 15.25e-300; method 0 adds
// log det Gamma(0) = 2 ln(4/3 1e300) for the first observation.
TEST_F(Varmalik, HugeInnovationCovarianceKeepsAFiniteLogDeterminant) {
  const Value y = Value::matrix(2, 2, {1, 2, 3, 4});
  const Value phi = Value::matrix(2, 2, {0.5, 0, 0, 0.5});
  const Value sigma = Value::matrix(2, 2, {1e300, 0, 0, 1e300});
  const double ln_big = 300.0 * std::log(10.0);
  const auto cond = call({y, phi, Value::omitted(), sigma, Value::omitted(), Value::omitted(),
                          Value::scalar(1)});
  ASSERT_EQ(cond.status, 0);
  std::vector<double> v = values(cond);
  ASSERT_EQ(v.size(), 3u);
  expect_close(v[1], 2.0 * ln_big, 1e-14, "method 1 D");
  expect_close(v[2], 15.25e-300, 1e-14, "method 1 S");
  expect_close(v[0], -ln_big, 1e-14, "method 1 loglik");
  const auto exact = call({y, phi, Value::omitted(), sigma, Value::omitted(), Value::omitted(),
                           Value::scalar(0)});
  ASSERT_EQ(exact.status, 0);
  v = values(exact);
  ASSERT_EQ(v.size(), 3u);
  expect_close(v[1], 2.0 * std::log(4.0 / 3.0) + 4.0 * ln_big, 1e-14, "method 0 D");
  EXPECT_TRUE(std::isfinite(v[0]));
}

}  // namespace
