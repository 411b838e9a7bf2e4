// VARMAFIT's objective with the adjoint gradient: its gradient in the
// parameter vector (the Cholesky factor of Sigma included) against
// Richardson differences of its value, with missing rows and subset lags;
// and fits on the gradient against fits on values: never a lower
// likelihood, and the gradient given on evaluations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "abi/mcn_abi.h"
#include "host/host.hpp"
#include "module/fit/optimizer_bridge.hpp"
#include "module/frame/host.hpp"
#include "module/varma/varmafit.hpp"
#include "module/varma/varmafit_kalman.hpp"
#include "tests/fit/simulate.hpp"

extern "C" void* mcn_main(const mcn_host_table* table, void* second);

namespace {

using mvts::Value;
using Vec = std::vector<double>;

// The objective of VARMAFIT on one series and lag lists, in its own work.
struct Objective {
  Vec y;
  std::vector<int> ar_lags, ma_lags;
  int k = 2;
  std::int64_t T = 0;
  Vec ar, ma, sigma, filter, gradient;
  mvtsa::VarmafitData data;
  mvtsa::VarmafitModel model;

  Objective(Vec series, int k_, std::vector<int> p, std::vector<int> q)
      : y(std::move(series)), ar_lags(std::move(p)), ma_lags(std::move(q)), k(k_) {
    T = std::int64_t(y.size()) / k;
    data.series = y.data();
    data.T = T;
    data.k = k;
    data.ar_lags = ar_lags.data();
    data.P = int(ar_lags.size());
    data.pmax = ar_lags.empty() ? 0 : ar_lags.back();
    data.ma_lags = ma_lags.data();
    data.Q = int(ma_lags.size());
    data.qmax = ma_lags.empty() ? 0 : ma_lags.back();
    ar.resize(std::size_t(k * k * data.P));
    ma.resize(std::size_t(k * k * data.Q));
    sigma.resize(std::size_t(k * (k + 1) / 2));
    filter.resize(mvtsa::varmafit_kalman_work_size(k, data.pmax, data.qmax));
    gradient.resize(
        mvtsa::varmafit_gradient_work_size(k, data.P, data.Q, data.pmax, data.qmax, T));
    model.ar = ar.data();
    model.ma = ma.data();
    model.sigma_packed = sigma.data();
    model.filter_work = filter.data();
    model.gradient_work = gradient.data();
  }
  std::size_t count() const {
    return std::size_t(mvtsa::varmafit_parameter_count(k, data.P, data.Q));
  }
  double value(Vec x) {
    double v = 0.0;
    EXPECT_EQ(mvtsa::varmafit_evaluate(data, model, x.data(), &v), 0);
    return v;
  }
  Vec grad(Vec x, double* v, bool* given) {
    Vec g(count());
    EXPECT_EQ(mvtsa::varmafit_evaluate(data, model, x.data(), v, g.data(), given), 0);
    return g;
  }
};

double richardson(Objective& o, const Vec& x, std::size_t i, double h) {
  auto f = [&](double s) {
    Vec t = x;
    t[i] += s;
    return o.value(t);
  };
  const double d1 = (f(h) - f(-h)) / (2 * h), d2 = (f(h / 2) - f(-h / 2)) / h;
  return (4 * d2 - d1) / 3;
}

// A trial point: AR and MA entries drawn in +-0.2, the factor of Sigma with
// a negative diagonal entry among positive ones (the objective's Sigma is
// L L' whatever the signs).
Vec trial_point(const Objective& o, unsigned seed) {
  std::mt19937 g(seed);
  std::uniform_real_distribution<double> U(-0.2, 0.2);
  Vec x(o.count());
  const std::size_t coef = std::size_t(o.k * o.k * (o.data.P + o.data.Q));
  for (std::size_t i = 0; i < coef; ++i) x[i] = U(g);
  for (int i = 0; i < o.k; ++i)
    for (int j = 0; j <= i; ++j)
      x[coef + std::size_t(i * (i + 1) / 2 + j)] = i == j ? (i == 1 ? -0.8 : 1.1) : U(g);
  return x;
}

class VarmafitGradient : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.attach(mcn_main));
    host_.activate();
    mvtsa::set_host_table(host_.table());
  }
  void TearDown() override { mvtsa::fit_settings() = mvtsa::FitSettings{}; }
  mvts::Host host_;
};

Vec bivariate(int T, unsigned seed) {
  const double phi[4] = {0.5, 0.1, -0.2, 0.3}, theta[4] = {-0.4, 0.0, 0.2, 0.3};
  const double chol[3] = {1.0, 0.3, 0.8};
  return fit_test::varma11(phi, theta, chol, T, seed);
}

TEST_F(VarmafitGradient, ObjectiveGradientMatchesDifferences) {
  struct Case {
    std::vector<int> p, q;
    bool gaps;
  };
  const Case cases[] = {{{1}, {1}, false}, {{1, 2}, {}, true}, {{2}, {1, 3}, false},
                        {{}, {1}, true}};
  unsigned seed = 10;
  for (const Case& c : cases) {
    Vec y = bivariate(120, ++seed);
    if (c.gaps)
      for (int t : {3, 4, 50, 90}) y[std::size_t(2 * t + t % 2)] = std::nan("");
    Objective o(y, 2, c.p, c.q);
    const Vec x = trial_point(o, seed);
    double v = 0.0;
    bool given = false;
    const Vec g = o.grad(x, &v, &given);
    ASSERT_TRUE(given);
    EXPECT_EQ(v, o.value(x)) << "the value does not depend on the gradient";
    Vec num(x.size());
    double scale = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      num[i] = richardson(o, x, i, 1e-4);
      scale = std::max(scale, std::fabs(num[i]));
    }
    for (std::size_t i = 0; i < x.size(); ++i)
      EXPECT_NEAR(g[i], num[i], 1e-6 * std::max(1.0, scale))
          << "case " << seed << " parameter " << i;
  }
}

struct Fit {
  int status = -1;
  double loglik = std::nan("");
  mvtsa::FitReport report;
};

Fit fit(mvts::Host& host, const Vec& y, int k, int p, int q, bool gradient) {
  mvtsa::fit_settings().analytic_gradients = gradient;
  const int T = int(y.size()) / k;
  auto lags = [](int n) {
    Vec l;
    for (int i = 1; i <= n; ++i) l.push_back(i);
    return n > 0 ? Value::row(l) : Value::omitted();
  };
  const Value Y = Value::matrix(T, k, y);
  auto r = host.call("VARMAFIT", {Y, lags(p), lags(q)});
  Fit f;
  f.status = r.status;
  f.report = mvtsa::fit_report();
  if (r.status != 0) return f;
  auto l = host.call("VARMALIK", {Y, p > 0 ? Value::matrix(*r.outputs[0]) : Value::omitted(),
                                  q > 0 ? Value::matrix(*r.outputs[1]) : Value::omitted(),
                                  Value::matrix(*r.outputs[2]), lags(p), lags(q)});
  if (l.status == 0) f.loglik = l.outputs[0]->at(0, 0);
  return f;
}

TEST_F(VarmafitGradient, FitsReachNoLowerLikelihoodInFewerEvaluations) {
  struct Case {
    int p, q, T;
    unsigned seed;
    bool gaps;
  };
  const Case cases[] = {{1, 0, 200, 1, false}, {1, 1, 150, 2, false}, {2, 1, 150, 3, false},
                        {1, 1, 120, 4, true},  {2, 0, 200, 5, true}};
  for (const Case& c : cases) {
    Vec y = bivariate(c.T, c.seed);
    if (c.gaps)
      for (int t = 5; t < c.T; t += 37) y[std::size_t(2 * t)] = std::nan("");
    const Fit values = fit(host_, y, 2, c.p, c.q, false);
    const Fit given = fit(host_, y, 2, c.p, c.q, true);
    ASSERT_EQ(values.status, 0);
    ASSERT_EQ(given.status, 0);
    EXPECT_GE(given.loglik, values.loglik - 1e-6) << "VARMA(" << c.p << ", " << c.q << ")";
    EXPECT_GT(given.report.analytic, 0);
    EXPECT_EQ(values.report.analytic, 0);
    EXPECT_LT(given.report.evaluations, values.report.evaluations);
  }
}

}  // namespace
