// Changes of units.  A Gaussian likelihood is equivariant: with the series
// rescaled variable by variable, Y -> C Y for C = diag(c_1 .. c_k), and the
// model with it (Phi -> C Phi C^-1, Theta -> C Theta C^-1, Sigma -> C Sigma C),
// D gains 2 T sum log c_i, S stays as it is and L loses T sum log c_i.  The
// covariance checks and the simulations follow the units the same way.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "tests/varma/model_support.hpp"

namespace {

using lik_test::Model;
using mvts::Value;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class Units : public ::testing::Test {
 protected:
  void SetUp() override {
    s_.activate();
    mvtsa::set_host_table(s_.table());
  }
  mvts::CallResult call(const char* f, const std::vector<Value>& args) { return s_.call(f, args); }
  static std::vector<double> out(const mvts::CallResult& r, std::size_t i = 0) {
    return r.outputs.size() <= i || !r.outputs[i] ? std::vector<double>{} : r.outputs[i]->data;
  }
  mvts::Session s_;
};

// The model and series in other units: Y -> C Y, blocks -> C B C^-1,
// Sigma -> C Sigma C.
Model rescaled(const Model& m, const std::vector<double>& c) {
  Model r = m;
  const int k = m.k;
  auto blocks = [&](std::vector<double>& b) {
    for (std::size_t e = 0; e < b.size(); ++e) {
      const int i = int(e / k) % k, j = int(e % k);
      b[e] *= c[std::size_t(i)] / c[std::size_t(j)];
    }
  };
  blocks(r.phi);
  blocks(r.theta);
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < k; ++j) r.sigma[std::size_t(i * k + j)] *= c[std::size_t(i)] * c[std::size_t(j)];
  return r;
}
std::vector<double> rescaled_series(const std::vector<double>& y, const std::vector<double>& c) {
  std::vector<double> r = y;
  const std::size_t k = c.size();
  for (std::size_t e = 0; e < r.size(); ++e) r[e] *= c[e % k];
  return r;
}

// Sigma = S R S with R equicorrelated at rho and standard deviations S drawn
// from 0.5 .. 2.
std::vector<double> correlated_sigma(int k, double rho, std::mt19937& g) {
  std::uniform_real_distribution<double> U(0.5, 2.0);
  std::vector<double> sd(static_cast<std::size_t>(k)), s(static_cast<std::size_t>(k * k));
  for (double& x : sd) x = U(g);
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < k; ++j)
      s[std::size_t(i * k + j)] = sd[std::size_t(i)] * sd[std::size_t(j)] * (i == j ? 1.0 : rho);
  return s;
}

// Random stationary models, k = 2 .. 8, Sigma with correlations up to
// 0.999, each method, under common units from 1e-6 to 1e6 and under units
// that differ by variable (1e-3 .. 1e3 within one model): D - 2 T sum log c_i
// and S agree with the model in its own units to 1e-10 relative.
TEST_F(Units, LikelihoodIsEquivariantForEveryMethodAndRandomModels) {
  std::mt19937 g(20261210);
  const double rhos[] = {0.0, 0.5, 0.9, 0.999};
  int checked = 0;
  for (int trial = 0; trial < 28; ++trial) {
    const int k = 2 + trial % 7;
    const int np = 1 + trial % 2, nq = (trial / 2) % 2;
    Model m = lik_test::random_model(k, np, nq, trial % 4 == 3, g);
    m.sigma = correlated_sigma(k, rhos[trial % 4], g);
    // an invertible MA part: Frobenius norms summing to at most 0.5
    double norm = 0.0;
    for (int b = 0; b < nq; ++b) {
      double sq = 0.0;
      for (int e = 0; e < k * k; ++e) sq += m.theta[std::size_t(b * k * k + e)] * m.theta[std::size_t(b * k * k + e)];
      norm += std::sqrt(sq);
    }
    if (norm > 0.5)
      for (double& x : m.theta) x *= 0.5 / norm;
    const std::int64_t T = 40;
    // a series of the model itself, so that S has its usual size T k
    const std::vector<Value> a = lik_test::lik_args(m, {}, 0, 0);
    const std::vector<double> y =
        out(call("VARMASIM", {a[1], a[2], Value::omitted(), a[3], Value::scalar(double(T)), a[4],
                              a[5], Value::omitted(), Value::scalar(double(trial + 1))}));
    ASSERT_EQ(y.size(), std::size_t(T * k)) << "trial " << trial;
    std::vector<std::vector<double>> units;
    for (double c : {1e-6, 1e-3, 1e3, 1e6}) units.push_back(std::vector<double>(std::size_t(k), c));
    std::vector<double> mixed(static_cast<std::size_t>(k));
    for (int i = 0; i < k; ++i) mixed[std::size_t(i)] = std::pow(10.0, -3.0 + 6.0 * i / (k - 1));
    units.push_back(mixed);
    for (double method : {0.0, 1.0, 2.0}) {
      const auto r0 = call("VARMALIK", lik_test::lik_args(m, y, T, method));
      ASSERT_EQ(r0.status, 0) << "trial " << trial << " method " << method;
      const std::vector<double> base = out(r0);
      ASSERT_EQ(base.size(), 3u) << "trial " << trial;
      const double scale = std::fabs(base[1]) + std::fabs(base[2]);
      const std::int64_t rows = method == 1.0 ? T - m.pmax() : T;
      for (const std::vector<double>& c : units) {
        const auto r = call("VARMALIK", lik_test::lik_args(rescaled(m, c), rescaled_series(y, c),
                                                            T, method));
        ASSERT_EQ(r.status, 0) << "trial " << trial << " method " << method;
        const std::vector<double> v = out(r);
        double shift = 0.0;
        for (double ci : c) shift += 2.0 * double(rows) * std::log(ci);
        const std::string where = "trial " + std::to_string(trial) + " k " + std::to_string(k) +
                                  " method " + std::to_string(int(method)) + " c0 " +
                                  std::to_string(c[0]);
        EXPECT_NEAR(v[1] - shift, base[1], 1e-10 * scale) << "D " << where;
        EXPECT_NEAR(v[2], base[2], 1e-10 * scale) << "S " << where;
        EXPECT_NEAR(v[0] + shift / 2, base[0], 1e-10 * scale) << "L " << where;
      }
    }
    ++checked;
  }
  EXPECT_EQ(checked, 28);
}

// White noise in small units, k = 2, T = 200, Sigma = s^2 I: D = T k log s^2
// and S = sum y'y / s^2 exactly as written, for every method.  (An absolute
// floor on det F once raised every det F ~ 1e-8 to 2^-26.5 and divided the
// Kalman method's S by it.)
TEST_F(Units, WhiteNoiseInSmallUnitsHasItsClosedForm) {
  std::mt19937 g(200);
  const std::int64_t T = 200;
  const std::vector<double> e = lik_test::random_series(T, 2, g);
  for (double s : {0.1, 0.01, 0.001, 1e-6}) {
    std::vector<double> y = e;
    double yy = 0.0;
    for (double& x : y) {
      x *= s;
      yy += x * x;
    }
    for (double method : {0.0, 1.0, 2.0}) {
      const auto r = call("VARMALIK", {Value::matrix(std::int32_t(T), 2, y),
                                       Value::matrix(2, 2, {0, 0, 0, 0}), Value::omitted(),
                                       Value::matrix(2, 2, {s * s, 0, 0, s * s}),
                                       Value::omitted(), Value::omitted(), Value::scalar(method)});
      ASSERT_EQ(r.status, 0) << s << " " << method;
      const std::vector<double> v = out(r);
      const double rows = method == 1.0 ? double(T - 1) : double(T);
      const double S = method == 1.0 ? (yy - y[0] * y[0] - y[1] * y[1]) / (s * s) : yy / (s * s);
      EXPECT_NEAR(v[1], 2 * rows * std::log(s * s), 1e-11 * rows) << s << " " << method;
      EXPECT_NEAR(v[2], S, 1e-11 * S) << s << " " << method;
    }
  }
}

// Against the dense density of the stacked series at small scales and large
// k: VAR(1) with k = 8, standard deviations 0.3 and correlation 0.5 (det Sigma
// = 1.5e-10), and random models with k = 6 and 8 in units of 1e-3.
TEST_F(Units, SmallUnitsAndLargeKMatchTheDenseDensity) {
  std::mt19937 g(60);
  std::vector<Model> models;
  Model var8;
  var8.k = 8;
  var8.ar_lags = {1};
  var8.phi.assign(64, 0.0);
  for (int i = 0; i < 8; ++i) var8.phi[std::size_t(i * 9)] = 0.3;
  var8.sigma.assign(64, 0.09 * 0.5);
  for (int i = 0; i < 8; ++i) var8.sigma[std::size_t(i * 9)] = 0.09;
  models.push_back(var8);
  for (int k : {6, 8}) {
    Model m = lik_test::random_model(k, 1, 1, false, g);
    m = rescaled(m, std::vector<double>(std::size_t(k), 1e-3));
    models.push_back(m);
  }
  for (std::size_t i = 0; i < models.size(); ++i) {
    const Model& m = models[i];
    const std::int64_t T = 30;
    std::vector<double> y = lik_test::random_series(T, m.k, g);
    const double sd = std::sqrt(m.sigma[0]);
    for (double& x : y) x *= sd;
    s_.activate();
    const lik_test::Dense d = lik_test::dense_gaussian(m, y, T);
    ASSERT_TRUE(d.ok) << i;
    for (double method : {0.0, 2.0}) {
      const std::vector<double> v = out(call("VARMALIK", lik_test::lik_args(m, y, T, method)));
      ASSERT_EQ(v.size(), 3u) << i;
      const double scale = std::fabs(d.logdet) + std::fabs(d.quad);
      EXPECT_NEAR(v[1], d.logdet, 1e-9 * scale) << "model " << i << " method " << method;
      EXPECT_NEAR(v[2], d.quad, 1e-9 * scale) << "model " << i << " method " << method;
    }
  }
}

// A Sigma with correlation 1 - 1e-12 (a conditional variance below 2^-26.5
// of the variance) is refused as not positive definite in any units.
TEST_F(Units, NearSingularSigmaIsRefusedInAnyUnits) {
  std::mt19937 g(61);
  const std::int64_t T = 25;
  const std::vector<double> y = lik_test::random_series(T, 2, g);
  const double rho = 1.0 - 1e-12;
  for (double c : {1e-5, 1.0, 1e5}) {
    const double s2 = c * c;
    const auto r = call("VARMALIK", {Value::matrix(std::int32_t(T), 2, y),
                                     Value::matrix(2, 2, {0.5, 0, 0, 0.5}), Value::omitted(),
                                     Value::matrix(2, 2, {s2, rho * s2, rho * s2, s2})});
    EXPECT_EQ(r.status, 8) << c;
  }
}

// The positive-definiteness test of a covariance argument is relative to its
// variances: Sigma = s^2 [[1, 0.5], [0.5, 1]] is accepted for s from 1e-60
// to 1e60 by every function taking one, and s^2 [[1, 1], [1, 1]] (singular)
// and s^2 [[1, 2], [2, 1]] (indefinite) are refused at every scale.
TEST_F(Units, PositiveDefinitenessDoesNotDependOnTheUnits) {
  std::mt19937 g(62);
  const std::vector<double> y = lik_test::random_series(20, 2, g);
  auto calls = [&](const std::vector<double>& sigma) {
    const Value S = Value::matrix(2, 2, sigma), phi = Value::matrix(2, 2, {0.5, 0, 0, 0.5});
    return std::vector<int>{
        call("VNORMAL", {Value::row({0, 0}), S, Value::scalar(5), Value::scalar(1)}).status,
        call("VARMACOV", {phi, Value::omitted(), S}).status,
        call("VARMASIM", {phi, Value::omitted(), Value::omitted(), S, Value::scalar(5),
                          Value::omitted(), Value::omitted(), Value::omitted(), Value::scalar(1)})
            .status,
        call("VARMALIK", {Value::matrix(20, 2, y), phi, Value::omitted(), S}).status};
  };
  for (double s : {1e-60, 1e-8, 1e-6, 1.0, 1e6, 1e60}) {
    const double v = s * s;
    for (int st : calls({v, 0.5 * v, 0.5 * v, v})) EXPECT_EQ(st, 0) << s;
    for (int st : calls({v, v, v, v})) EXPECT_EQ(st, 8) << s;
    for (int st : calls({v, 2 * v, 2 * v, v})) EXPECT_EQ(st, 8) << s;
  }
}

// The simulations follow the units: with Sigma -> c^2 Sigma and the same
// seed, VNORMAL and VARMASIM (stationary start) give c times the series.
TEST_F(Units, SimulationsScaleWithTheStandardDeviation) {
  const std::vector<double> sig = {1.0, 0.3, 0.3, 2.0};
  const Value phi = Value::matrix(2, 2, {0.5, 0.1, -0.2, 0.3});
  const Value theta = Value::matrix(2, 2, {0.2, 0, 0, 0.2});
  auto sims = [&](double c) {
    std::vector<double> s = sig;
    for (double& x : s) x *= c * c;
    const Value S = Value::matrix(2, 2, s);
    return std::make_pair(
        out(call("VNORMAL", {Value::omitted(), S, Value::scalar(50), Value::scalar(3)})),
        out(call("VARMASIM", {phi, theta, Value::omitted(), S, Value::scalar(50),
                              Value::omitted(), Value::omitted(), Value::omitted(),
                              Value::scalar(3)})));
  };
  const auto base = sims(1.0);
  ASSERT_EQ(base.first.size(), 100u);
  ASSERT_EQ(base.second.size(), 100u);
  for (double c : {1e-9, 1e-4, 1e4, 1e9}) {
    const auto r = sims(c);
    ASSERT_EQ(r.first.size(), 100u) << c;
    ASSERT_EQ(r.second.size(), 100u) << c;
    for (std::size_t i = 0; i < 100; ++i) {
      EXPECT_NEAR(r.first[i] / c, base.first[i], 1e-12 * (1 + std::fabs(base.first[i]))) << c;
      EXPECT_NEAR(r.second[i] / c, base.second[i], 1e-11 * (1 + std::fabs(base.second[i]))) << c;
    }
  }
}

// A unit root sends the filter to its diffuse start, 1e6 times each
// variable's innovation variance: the likelihood stays equivariant, also
// when the variables' units differ.
TEST_F(Units, DiffuseStartFollowsTheUnits) {
  std::mt19937 g(63);
  const std::int64_t T = 20;
  Model m;
  m.k = 2;
  m.ar_lags = {1};
  m.phi = {1, 0, 0, 1};
  m.sigma = {1.0, 0.5, 0.5, 2.0};
  std::vector<double> y = lik_test::random_series(T, 2, g);
  for (std::int64_t t = 1; t < T; ++t)
    for (int i = 0; i < 2; ++i) y[std::size_t(t * 2 + i)] += y[std::size_t((t - 1) * 2 + i)];
  const std::vector<double> base = out(call("VARMALIK", lik_test::lik_args(m, y, T, 2)));
  ASSERT_EQ(base.size(), 3u);
  for (const std::vector<double>& c : {std::vector<double>{1e-4, 1e-4}, {1e3, 1e-3}}) {
    const std::vector<double> v =
        out(call("VARMALIK", lik_test::lik_args(rescaled(m, c), rescaled_series(y, c), T, 2)));
    ASSERT_EQ(v.size(), 3u);
    const double shift = 2.0 * double(T) * (std::log(c[0]) + std::log(c[1]));
    EXPECT_NEAR(v[1] - shift, base[1], 1e-10 * std::fabs(base[1]));
    EXPECT_NEAR(v[2], base[2], 1e-10 * std::fabs(base[2]));
  }
}

// Missing rows in small units: the rows observed, whatever the scale.
TEST_F(Units, MissingRowsInSmallUnits) {
  std::mt19937 g(64);
  const Model m0 = lik_test::random_model(3, 1, 1, false, g);
  const std::int64_t T = 30;
  std::vector<double> y = lik_test::random_series(T, 3, g);
  std::vector<bool> observed(std::size_t(T), true);
  for (int t : {0, 1, 2, 13, 29}) {
    observed[std::size_t(t)] = false;
    y[std::size_t(t * 3 + 1)] = kNaN;
  }
  for (double c : {1e-6, 1.0, 1e6}) {
    const std::vector<double> cs(3, c);
    const Model m = rescaled(m0, cs);
    const std::vector<double> yc = rescaled_series(y, cs);
    s_.activate();
    const lik_test::Dense d = lik_test::dense_gaussian(m, yc, T, &observed);
    ASSERT_TRUE(d.ok) << c;
    const std::vector<double> v = out(call("VARMALIK", lik_test::lik_args(m, yc, T, 2)));
    ASSERT_EQ(v.size(), 3u) << c;
    const double scale = std::fabs(d.logdet) + std::fabs(d.quad);
    EXPECT_NEAR(v[1], d.logdet, 1e-9 * scale) << c;
    EXPECT_NEAR(v[2], d.quad, 1e-9 * scale) << c;
  }
}

}  // namespace
