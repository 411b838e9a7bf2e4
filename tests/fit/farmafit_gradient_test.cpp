// FARMAFIT with the analytic gradients: the objective's gradient in the
// fit's own parameters (d, phi and theta at their lags, SIGMA) against
// Richardson differences of the objective, subset lags included; and the
// fits with the gradient against the same fits on values only (the
// optimizer differencing), which they must match or beat in likelihood.
// The module is attached in this process, so that fit_settings() switches
// the fits it runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "abi/mcn_abi.h"
#include "host/host.hpp"
#include "module/farma/farma_gradient.hpp"
#include "module/farma/farma_loglik.hpp"
#include "module/farma/farmafit.hpp"
#include "module/fit/optimizer_bridge.hpp"
#include "module/frame/host.hpp"
#include "tests/fit/simulate.hpp"

extern "C" void* mcn_main(const mcn_host_table* table, void* second);

namespace {

using mvts::Value;

// farmafit_objective on one series, lags and method, with its own records.
struct Objective {
  std::vector<int> ar_lags, ma_lags;
  std::vector<double> y, ar, ma, work, kernel_grad, cache;
  mvtsa::FarmafitData data;
  mvtsa::FarmafitModel model;

  Objective(std::vector<double> series, std::vector<int> ar_l, std::vector<int> ma_l, int method)
      : ar_lags(std::move(ar_l)), ma_lags(std::move(ma_l)), y(std::move(series)) {
    mvtsa::ArmaLags& l = data.lags;
    l.ar = ar_lags.data();
    l.na = int(ar_lags.size());
    l.P = ar_lags.empty() ? 0 : ar_lags.back();
    l.ma = ma_lags.data();
    l.nm = int(ma_lags.size());
    l.Q = ma_lags.empty() ? 0 : ma_lags.back();
    data.method = method;
    data.y = y.data();
    data.n = std::int64_t(y.size());
    ar.resize(std::size_t(l.P) + 1);
    ma.resize(std::size_t(l.Q) + 1);
    work.resize(mvtsa::farma_gradient_work_size(data.n, l.P, l.Q, method));
    kernel_grad.resize(2 * std::size_t(1 + l.P + l.Q));
    model.m = 1 + l.na + l.nm + (method == mvtsa::kFarmaExact ? 1 : 0);
    cache.resize(std::size_t(model.m));
    model.ar = ar.data();
    model.ma = ma.data();
    model.work = work.data();
    model.grad = kernel_grad.data();
    model.cache_x = cache.data();
  }
  double value(const std::vector<double>& x) {
    double L = std::nan("");
    EXPECT_EQ(mvtsa::farmafit_objective(data, model, x.data(), &L), 0);
    return L;
  }
  std::vector<double> gradient(const std::vector<double>& x, double* L) {
    std::vector<double> g(x.size(), std::nan(""));
    EXPECT_EQ(mvtsa::farmafit_objective(data, model, x.data(), L, g.data()), 0);
    return g;
  }
};

double richardson(const std::function<double(double)>& f, double h) {
  auto D = [&](double s) { return (f(s) - f(-s)) / (2.0 * s); };
  const double d1 = D(h), d2 = D(h / 2), d3 = D(h / 4);
  const double r1 = (4 * d2 - d1) / 3, r2 = (4 * d3 - d2) / 3;
  return (16 * r2 - r1) / 15;
}

class FarmafitGradient : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.attach(mcn_main));
    host_.activate();
    mvtsa::set_host_table(host_.table());
  }
  void TearDown() override { mvtsa::fit_settings() = mvtsa::FitSettings{}; }

  // The objective's gradient against differences of its value, every entry
  // within 1e-6 of max(|g_i|, 1e-3 max |g|).
  void check_objective(Objective& o, const std::vector<double>& x, const char* name) {
    double L = 0.0;
    const auto g = o.gradient(x, &L);
    EXPECT_EQ(L, o.value(x)) << name;
    std::vector<double> num(x.size());
    double scale = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      num[i] = richardson(
          [&](double s) {
            auto t = x;
            t[i] += s;
            return o.value(t);
          },
          1e-3);
      scale = std::max(scale, std::fabs(num[i]));
    }
    for (std::size_t i = 0; i < x.size(); ++i)
      EXPECT_NEAR(g[i], num[i], 1e-6 * std::max(std::fabs(num[i]), 1e-3 * scale))
          << name << " parameter " << i;
  }

  struct Fit {
    int status = -1;
    double loglik = std::nan("");
    mvtsa::FitReport report;
  };
  // FARMAFIT with or without the gradient, scored by FARMALIK at the result
  // (its variance is the profiled one, so this is the fit's own objective).
  Fit fit(const std::vector<double>& y, const std::vector<double>& p,
          const std::vector<double>& q, int method, bool gradient) {
    mvtsa::fit_settings().analytic_gradients = gradient;
    const Value Y = Value::column(y);
    const Value P = p.empty() ? Value::omitted() : Value::row(p);
    const Value Q = q.empty() ? Value::omitted() : Value::row(q);
    auto r = host_.call("FARMAFIT", {Y, P, Q, Value::scalar(method)});
    Fit f;
    f.status = r.status;
    f.report = mvtsa::fit_report();
    if (r.status != 0) return f;
    auto coef = [&](int k, const std::vector<double>& lags) {
      if (lags.empty()) return Value::omitted();
      std::vector<double> c;
      for (double l : lags) c.push_back(r.outputs[k]->at(int(l) - 1, 0));
      return Value::column(c);
    };
    auto l = host_.call("FARMALIK", {Y, Value::matrix(*r.outputs[0]), coef(1, p), coef(2, q),
                                     Value::matrix(*r.outputs[3]), P, Q, Value::scalar(method)});
    EXPECT_EQ(l.status, 0);
    if (l.status == 0) f.loglik = l.outputs[0]->at(0, 0);
    return f;
  }

  mvts::Host host_;
};

TEST_F(FarmafitGradient, ConditionalObjectiveInTheFitsParameters) {
  const auto y = fit_test::arfima11(0.3, -0.5, 0.3, 500, 7);
  {
    Objective o(y, {1}, {1}, mvtsa::kFarmaCss);
    check_objective(o, {0.3, -0.5, 0.3}, "arfima11");
  }
  {
    Objective o(y, {1, 3}, {2}, mvtsa::kFarmaCss);
    check_objective(o, {0.2, 0.4, -0.2, 0.3}, "subset lags");
  }
  {
    Objective o(y, {}, {1, 2}, mvtsa::kFarmaCss);
    check_objective(o, {-0.3, 0.5, -0.2}, "ma2");
  }
}

// The conditional fits with the gradient reach the likelihood of the fits
// on values only (or more), with no differences and fewer evaluations.
TEST_F(FarmafitGradient, ConditionalFitsReachTheLikelihoodOfValueOnlyFits) {
  struct Case {
    std::vector<double> y, p, q;
  };
  const Case cases[] = {
      {fit_test::arfima11(0.3, -0.5, 0.3, 400, 7), {1}, {1}},
      {fit_test::arfima11(0.3, -0.5, 0.3, 2000, 8), {1}, {1}},
      {fit_test::arfima11(0.2, 0.6, 0.0, 300, 9), {1, 3}, {2}},
      {fit_test::arfima11(0.4, 0.0, 0.0, 600, 10), {}, {}},
      {fit_test::arfima11(-0.2, 0.0, -0.5, 500, 11), {}, {1, 2}},
  };
  for (const Case& c : cases) {
    const Fit values = fit(c.y, c.p, c.q, mvtsa::kFarmaCss, false);
    const Fit given = fit(c.y, c.p, c.q, mvtsa::kFarmaCss, true);
    ASSERT_EQ(values.status, 0);
    ASSERT_EQ(given.status, 0);
    EXPECT_GE(given.loglik, values.loglik - 1e-6) << c.y.size();
    EXPECT_EQ(given.report.gradient_evaluations, 0);
    EXPECT_GT(given.report.analytic, 0);
    EXPECT_EQ(values.report.analytic, 0);
    EXPECT_LT(given.report.evaluations, values.report.evaluations);
  }
}

// A conditional fit that the periodogram start leaves in a lower mode: with
// the gradient the second start (d = 0, the ARMA values of y) runs too and
// wins by tens of log-likelihood units, in fewer evaluations than the one
// differenced run.
TEST_F(FarmafitGradient, ConditionalSecondStartLeavesTheLowerMode) {
  const auto y = fit_test::arfima11(0.45, -0.3, 0.6, 2000, 1);
  const Fit values = fit(y, {1}, {1}, mvtsa::kFarmaCss, false);
  const Fit given = fit(y, {1}, {1}, mvtsa::kFarmaCss, true);
  ASSERT_EQ(values.status, 0);
  ASSERT_EQ(given.status, 0);
  EXPECT_EQ(values.report.runs, 1);
  EXPECT_EQ(given.report.runs, 2);
  EXPECT_TRUE(given.report.second_start_won);
  EXPECT_GT(given.loglik, values.loglik + 10.0);
  EXPECT_LT(given.report.evaluations, values.report.evaluations);
}

// The exact objective (sigma^2 profiled): d, the AR and MA parameters at
// subset lags, and SIGMA, whose derivative is 0.
TEST_F(FarmafitGradient, ExactObjectiveInTheFitsParameters) {
  const auto y = fit_test::arfima11(0.3, -0.5, 0.3, 300, 7);
  {
    Objective o(y, {1}, {1}, mvtsa::kFarmaExact);
    check_objective(o, {0.3, -0.5, 0.3, 1.7}, "arfima11");
  }
  {
    Objective o(y, {1, 3}, {2}, mvtsa::kFarmaExact);
    check_objective(o, {0.2, 0.4, -0.2, 0.3, 0.9}, "subset lags");
  }
  {
    Objective o(y, {}, {}, mvtsa::kFarmaExact);
    check_objective(o, {-0.3, 1.0}, "fractional noise");
  }
}

// The exact fits with the gradient against the same fits on values only.
TEST_F(FarmafitGradient, ExactFitsReachTheLikelihoodOfValueOnlyFits) {
  struct Case {
    std::vector<double> y, p, q;
  };
  const Case cases[] = {
      {fit_test::arfima11(0.3, -0.5, 0.3, 300, 7), {1}, {1}},
      {fit_test::arfima11(0.0, 0.93, 0.83, 150, 4), {1}, {1}},  // two modes
      {fit_test::arfima11(0.2, 0.6, 0.0, 250, 9), {1, 3}, {2}},
      {fit_test::arfima11(0.4, 0.0, 0.0, 400, 10), {}, {}},
      {fit_test::arfima11(-0.2, 0.0, -0.5, 300, 11), {}, {1, 2}},
  };
  for (const Case& c : cases) {
    const Fit values = fit(c.y, c.p, c.q, mvtsa::kFarmaExact, false);
    const Fit given = fit(c.y, c.p, c.q, mvtsa::kFarmaExact, true);
    ASSERT_EQ(values.status, 0);
    ASSERT_EQ(given.status, 0);
    EXPECT_GE(given.loglik, values.loglik - 1e-6) << c.y.size();
    EXPECT_GT(given.report.analytic, 0);
    EXPECT_LT(given.report.evaluations, values.report.evaluations);
  }
}

}  // namespace
