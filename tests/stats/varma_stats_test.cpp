// VARMAFCST, VARMARES and VARMAINFO through the session: the residuals'
// identity with VARMALIK's exact likelihood, the mean, the intervals, the
// information at a fitted maximum and at a planted non-maximum, the
// argument checks and the allocation-failure loop.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "host/catalog.hpp"
#include "host/host.hpp"
#include "tests/support/allocation.hpp"
#include "tests/support/argument_checks.hpp"

namespace {

using mvts::Value;
using Vec = std::vector<double>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A VARMA(1,1) with k = 2 and a series of T rows drawn from it by VARMASIM.
struct Problem {
  Vec phi = {0.5, 0.125, 0.25, -0.25};
  Vec theta = {0.375, -0.25, 0.125, 0.5};
  Vec sigma = {2.0, 0.75, 0.75, 1.5};
  mvts::Matrix y;
  Problem(mvts::Session& s, int T, double seed) {
    auto r = s.call("VARMASIM", {Value::matrix(2, 2, phi), Value::matrix(2, 2, theta),
                                 Value::omitted(), Value::matrix(2, 2, sigma), Value::scalar(T),
                                 Value::omitted(), Value::omitted(), Value::omitted(),
                                 Value::scalar(seed)});
    EXPECT_EQ(r.status, 0);
    y = *r.outputs[0];
  }
  std::vector<Value> args(const mvts::Matrix& series) const {
    return {Value::matrix(series), Value::matrix(2, 2, phi), Value::matrix(2, 2, theta),
            Value::matrix(2, 2, sigma)};
  }
};

double sum_of(const Vec& v, bool squares) {
  double s = 0;
  for (double x : v)
    if (!std::isnan(x)) s += squares ? x * x : x;
  return s;
}

// sum resid^2 + sum logdet = -2 VARMALIK (method 2) and the log-determinants
// sum to its D, with lag lists, a mean and rows missing.
TEST(VarmaStats, ResidualsReproduceTheExactLikelihood) {
  mvts::Session s;
  Problem p(s, 400, 2111);
  mvts::Matrix y = p.y;
  for (int t : {0, 5, 6, 150, 399}) y.at(t, t % 2) = kNaN;
  const Vec mean = {3.0, -7.5};
  mvts::Matrix shifted = y;
  for (int t = 0; t < y.rows; ++t)
    for (int j = 0; j < 2; ++j) shifted.at(t, j) += mean[j];
  for (bool lists : {false, true}) {
    SCOPED_TRACE(lists ? "AR lag 2, MA lag 3" : "lags 1");
    std::vector<Value> args = p.args(y);
    if (lists) {
      args.push_back(Value::scalar(2));
      args.push_back(Value::scalar(3));
    }
    auto lik = s.call("VARMALIK", {args[0], args[1], args[2], args[3],
                                   lists ? args[4] : Value::omitted(),
                                   lists ? args[5] : Value::omitted(), Value::scalar(2)});
    ASSERT_EQ(lik.status, 0);
    std::vector<Value> res_args = args;
    res_args[0] = Value::matrix(shifted);
    res_args.resize(6);
    res_args.push_back(Value::row(mean));
    auto r = s.call("VARMARES", res_args);
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.outputs.size(), 3u);
    const Vec& resid = r.outputs[0]->data;
    const Vec& logdet = r.outputs[2]->data;
    const double loglik = lik.outputs[0]->at(0, 0), D = lik.outputs[0]->at(1, 0);
    EXPECT_NEAR(sum_of(resid, true) + sum_of(logdet, false), -2 * loglik,
                1e-10 * std::fabs(loglik));
    EXPECT_NEAR(sum_of(logdet, false), D, 1e-12 * std::fabs(D));
    for (int t : {0, 5, 6, 150, 399}) {
      EXPECT_TRUE(std::isnan(r.outputs[0]->at(t, 0)) && std::isnan(r.outputs[1]->at(t, 1)));
      EXPECT_TRUE(std::isnan(r.outputs[2]->at(t, 0)));
    }
    EXPECT_FALSE(std::isnan(r.outputs[0]->at(1, 0)));
  }
}

// The mean comes off the series and back onto the forecasts: y + c with
// mean c forecasts what y does, plus c, with the same MSE matrices.
TEST(VarmaStats, ForecastsFollowTheMean) {
  mvts::Session s;
  Problem p(s, 200, 2112);
  const Vec c = {1000.0, -0.5};
  mvts::Matrix shifted = p.y;
  for (int t = 0; t < p.y.rows; ++t)
    for (int j = 0; j < 2; ++j) shifted.at(t, j) += c[j];
  std::vector<Value> plain = p.args(p.y), moved = p.args(shifted);
  for (auto* a : {&plain, &moved}) {
    a->push_back(Value::omitted());
    a->push_back(Value::omitted());
    a->push_back(Value::scalar(5));
  }
  moved.push_back(Value::row(c));
  auto r0 = s.call("VARMAFCST", plain), r1 = s.call("VARMAFCST", moved);
  ASSERT_EQ(r0.status, 0);
  ASSERT_EQ(r1.status, 0);
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 2; ++i)
      EXPECT_NEAR(r1.outputs[0]->at(j, i), r0.outputs[0]->at(j, i) + c[i], 1e-9 * 1000);
  for (std::size_t e = 0; e < r0.outputs[1]->data.size(); ++e)
    EXPECT_NEAR(r1.outputs[1]->data[e], r0.outputs[1]->data[e], 1e-12);
}

TEST(VarmaStats, IntervalsAreNormalQuantilesOfTheMse) {
  mvts::Session s;
  Problem p(s, 100, 2113);
  std::vector<Value> args = p.args(p.y);
  args.push_back(Value::omitted());
  args.push_back(Value::omitted());
  args.push_back(Value::scalar(4));
  for (double level : {0.95, 0.5}) {
    std::vector<Value> a = args;
    if (level != 0.95) {
      a.push_back(Value::omitted());
      a.push_back(Value::scalar(level));
    }
    auto r = s.call("VARMAFCST", a);
    ASSERT_EQ(r.status, 0);
    const mvts::Matrix &f = *r.outputs[0], &m = *r.outputs[1], &iv = *r.outputs[2];
    ASSERT_EQ(iv.rows, 4);
    ASSERT_EQ(iv.cols, 4);
    const double z = level == 0.95 ? 1.959963984540054 : 0.6744897501960817;  // scipy ndtri
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 2; ++i) {
        const double half = z * std::sqrt(m.at(j * 2 + i, i));
        EXPECT_NEAR(iv.at(j, i), f.at(j, i) - half, 1e-13) << level;
        EXPECT_NEAR(iv.at(j, 2 + i), f.at(j, i) + half, 1e-13) << level;
      }
  }
}

// At VARMAFIT's maximum the Hessian is negative definite and cov is its
// negative inverse; with sigma planted at four times the estimate the point
// is no maximum (the likelihood is convex in a variance above twice its
// best value) and cov is refused with note 412.
TEST(VarmaStats, InformationAtAMaximumAndAtAPlantedNonMaximum) {
  mvts::Session s;
  Problem p(s, 300, 2114);
  auto fit = s.call("VARMAFIT", {Value::matrix(p.y), Value::scalar(1), Value::scalar(1)});
  ASSERT_EQ(fit.status, 0);
  std::vector<Value> at = {Value::matrix(p.y), Value::matrix(*fit.outputs[0]),
                           Value::matrix(*fit.outputs[1]), Value::matrix(*fit.outputs[2])};
  auto r = s.call("VARMAINFO", at);
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(r.messages.empty());
  ASSERT_TRUE(r.outputs.size() == 2 && r.outputs[0] && r.outputs[1]);
  const mvts::Matrix &H = *r.outputs[0], &cov = *r.outputs[1];
  ASSERT_EQ(H.rows, 11);  // 4 AR + 4 MA entries + 3 of sigma's lower triangle
  for (int i = 0; i < 11; ++i) {
    EXPECT_LT(H.at(i, i), 0.0);
    EXPECT_GT(cov.at(i, i), 0.0);
    for (int j = 0; j < 11; ++j) {
      double e = 0;  // (cov (-H))_ij
      for (int l = 0; l < 11; ++l) e -= cov.at(i, l) * H.at(l, j);
      EXPECT_NEAR(e, i == j ? 1.0 : 0.0, 1e-8);
    }
  }
  mvts::Matrix planted = *fit.outputs[2];
  for (double& x : planted.data) x *= 4.0;
  at[3] = Value::matrix(planted);
  auto bad = s.call("VARMAINFO", at);
  EXPECT_EQ(bad.status, 0);
  ASSERT_EQ(bad.messages.size(), 1u);
  EXPECT_EQ(bad.messages[0].number, 412);
  EXPECT_TRUE(bad.messages[0].note);
  ASSERT_EQ(bad.outputs.size(), 2u);
  EXPECT_TRUE(bad.outputs[0].has_value());
  EXPECT_FALSE(bad.outputs[1].has_value());
  EXPECT_EQ(s.live_blocks(), 0);
}

// An AR root 2^-20 inside the circle passes the stationarity check, but
// every difference step crosses it: note 413 and no output.
TEST(VarmaStats, InformationOnTheStationarityBoundIsRefusedWithANote) {
  mvts::Session s;
  Problem p(s, 60, 2115);
  std::vector<Value> a = p.args(p.y);
  a[1] = Value::matrix(2, 2, {1.0 - 0x1p-20, 0.0, 0.0, 0.5});
  auto r = s.call("VARMAINFO", a);
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].number, 413);
  for (const auto& o : r.outputs) EXPECT_FALSE(o.has_value());
}

TEST(VarmaStats, RefusesBadArguments) {
  mvts::Session s;
  Problem p(s, 20, 2116);
  const Value y = Value::matrix(p.y), phi = Value::matrix(2, 2, p.phi),
              theta = Value::matrix(2, 2, p.theta), sigma = Value::matrix(2, 2, p.sigma), _;
  const Value explosive = Value::matrix(2, 2, {1.25, 0.0, 0.0, 0.5});
  const Value short_y = Value::matrix(2, 2, {1.0, 2.0, 3.0, 4.0});
  const Value ar2 = Value::matrix(4, 2, {0.5, 0.0, 0.0, 0.5, 0.1, 0.0, 0.0, 0.1});
  test_support::expect_argument_failures(
      s, "VARMAFCST",
      {{"no series", {_, phi, theta, sigma, _, _, Value::scalar(3)}, 2, 0},
       {"no horizon", {y, phi, theta, sigma}, 2, 0},
       {"a horizon of 0", {y, phi, theta, sigma, _, _, Value::scalar(0)}, 100, 353},
       {"a negative horizon", {y, phi, theta, sigma, _, _, Value::scalar(-2)}, 100, 353},
       {"a horizon that is a vector", {y, phi, theta, sigma, _, _, Value::row({1, 2})}, 15, 0},
       {"a level of 1", {y, phi, theta, sigma, _, _, Value::scalar(3), _, Value::scalar(1)},
        100, 414},
       {"a level of 0", {y, phi, theta, sigma, _, _, Value::scalar(3), _, Value::scalar(0)},
        100, 414},
       {"an explosive AR part", {y, explosive, theta, sigma, _, _, Value::scalar(3)}, 100, 411},
       {"a series of two rows for lag 2", {short_y, ar2, _, sigma, _, _, Value::scalar(3)},
        100, 410},
       {"a mean of three values", {y, phi, theta, sigma, _, _, Value::scalar(3),
                                   Value::row({1, 2, 3})}, 100, 352},
       {"phi of three rows", {y, Value::matrix(3, 2, {1, 2, 3, 4, 5, 6}), theta, sigma, _, _,
                              Value::scalar(3)}, 100, 355},
       {"two lags for one block", {y, phi, theta, sigma, Value::row({1, 2}), _,
                                   Value::scalar(3)}, 100, 356},
       {"sigma not positive definite", {y, phi, theta, Value::matrix(2, 2, {1, 2, 2, 1}), _, _,
                                        Value::scalar(3)}, 8, 0},
       {"a one-column series", {Value::column({1, 2, 3}), phi, theta, sigma, _, _,
                                Value::scalar(3)}, 100, 351}});
  for (const char* name : {"VARMARES", "VARMAINFO"})
    test_support::expect_argument_failures(
        s, name,
        {{"an explosive AR part", {y, explosive, theta, sigma}, 100, 411},
         {"a series of two rows for lag 2", {short_y, ar2, _, sigma}, 100, 410},
         {"a mean of one value", {y, phi, theta, sigma, _, _, Value::scalar(1)}, 100, 351},
         {"a mean with a missing value", {y, phi, theta, sigma, _, _, Value::row({1, kNaN})},
          17, 0}});
  // the argument named: h, level, mean
  EXPECT_EQ(s.call("VARMAFCST", {y, phi, theta, sigma, _, _, Value::scalar(0)}).argument, 7);
  EXPECT_EQ(s.call("VARMAFCST", {y, phi, theta, sigma, _, _, Value::scalar(3), _,
                                 Value::scalar(2)}).argument, 9);
  EXPECT_EQ(s.call("VARMARES", {y, phi, theta, sigma, _, _, Value::row({1, 2, 3})}).argument, 7);
}

TEST(VarmaStats, AllocationFailuresLeaveNothingBehind) {
  mvts::Session s;
  Problem p(s, 40, 2117);
  std::vector<Value> a = p.args(p.y);
  test_support::expect_allocation_failures(s, "VARMARES", a);
  test_support::expect_allocation_failures(s, "VARMAINFO", a);
  a.push_back(Value::omitted());
  a.push_back(Value::omitted());
  a.push_back(Value::scalar(3));
  test_support::expect_allocation_failures(s, "VARMAFCST", a);
}

// Every help text states the model, with the sign of its MA part.
TEST(VarmaStats, HelpStatesTheModelAndTheMaSign) {
  for (const char* name : {"VARMAFCST", "VARMARES", "VARMAINFO"}) {
    const mvts::FunctionDoc* d = mvts::find_doc(name);
    ASSERT_NE(d, nullptr) << name;
    const std::string summary = d->summary;
    EXPECT_NE(summary.find("e_t - sum_j Theta_j e_{t-j}"), std::string::npos) << name;
    EXPECT_NE(summary.find("opposite of statsmodels'"), std::string::npos) << name;
  }
}

}  // namespace
