// The analytic gradients of farma_loglik_gradient against Richardson
// extrapolations of central differences of farma_loglik, on a grid of
// models: d across (-0.49, 0.49) and beyond for the conditional method, AR
// roots near 0.95, complex pairs, subset lags, sigma^2 != 1, the direct and
// the FFT routes of the fractional difference.  A gradient with one term
// left out fails the same comparison.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "module/farma/arfima_autocov.hpp"
#include "module/farma/arfima_autocov_grad.hpp"
#include "module/farma/farma_gradient.hpp"
#include "module/farma/farma_model.hpp"
#include "module/farma/farma_loglik.hpp"
#include "module/frame/host.hpp"
#include "tests/fit/simulate.hpp"

namespace {

using mvtsa::FarmaGradientDrop;

// A model in the polynomial coefficients: x = (d, a_1..a_P, theta*_1..theta*_Q).
struct Model {
  std::string name;
  double d;
  std::vector<double> ar;  // a_1..a_P (a_j = -phi_j)
  std::vector<double> ma;  // theta*_1..theta*_Q (theta*_j = -theta_j)
  double sigma2 = 1.0;
  int p() const { return int(ar.size()); }
  int q() const { return int(ma.size()); }
};

// What one evaluation gives: the value, and for the exact method also
// ln det and the quadratic form.
struct Values {
  int status = -1;
  double loglik = 0, logdet = 0, quad = 0;
};

class FarmaGradient : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.activate();
    mvtsa::set_host_table(host_.table());
  }

  static std::vector<double> poly(const std::vector<double>& c) {
    std::vector<double> v(1, 1.0);
    v.insert(v.end(), c.begin(), c.end());
    return v;
  }

  Values value(const Model& m, const std::vector<double>& y, int method) {
    std::vector<double> work(mvtsa::farma_loglik_work_size(std::int64_t(y.size()), m.p(), m.q(),
                                                           method));
    const auto ar = poly(m.ar), ma = poly(m.ma);
    Values v;
    v.status = mvtsa::farma_loglik(work.data(), y.data(), std::int64_t(y.size()), m.d, m.p(),
                                   m.q(), ar.data(), ma.data(), m.sigma2, method);
    v.loglik = work[0];
    v.logdet = work[1];
    v.quad = work[2];
    return v;
  }

  // The kernel's gradient and the value it reports beside it.
  std::vector<double> gradient(const Model& m, const std::vector<double>& y, int method,
                               Values* v, FarmaGradientDrop drop = FarmaGradientDrop::kNone) {
    const std::int64_t n = std::int64_t(y.size());
    std::vector<double> work(mvtsa::farma_gradient_work_size(n, m.p(), m.q(), method));
    std::vector<double> g(2 * (1 + m.p() + m.q()), std::nan(""));
    const auto ar = poly(m.ar), ma = poly(m.ma);
    v->status = mvtsa::farma_loglik_gradient(work.data(), y.data(), n, m.d, m.p(), m.q(),
                                             ar.data(), ma.data(), m.sigma2, method, g.data(),
                                             drop);
    v->loglik = work[0];
    v->logdet = work[1];
    v->quad = work[2];
    return g;
  }

  // Richardson's extrapolation of central differences with steps h, h/2,
  // h/4: error O(h^6).
  static double richardson(const std::function<double(double)>& f, double h) {
    auto D = [&](double s) { return (f(s) - f(-s)) / (2.0 * s); };
    const double d1 = D(h), d2 = D(h / 2), d3 = D(h / 4);
    const double r1 = (4 * d2 - d1) / 3, r2 = (4 * d3 - d2) / 3;
    return (16 * r2 - r1) / 15;
  }

  // The derivative of one output of value() along parameter i.
  std::vector<double> numeric(const Model& m, const std::vector<double>& y, int method,
                              double Values::*out, double h) {
    std::vector<double> g;
    const int k = 1 + m.p() + m.q();
    for (int i = 0; i < k; ++i) {
      g.push_back(richardson(
          [&](double s) {
            Model t = m;
            if (i == 0) t.d += s;
            else if (i <= m.p()) t.ar[i - 1] += s;
            else t.ma[i - 1 - m.p()] += s;
            const Values v = value(t, y, method);
            EXPECT_EQ(v.status, 0) << m.name << " at step " << s;
            return v.*out;
          },
          // the exact value has a singularity at |d| = 1/2: d's steps stay
          // a tenth of the way there
          i == 0 && method == mvtsa::kFarmaExact ? std::min(h, (0.5 - std::fabs(m.d)) / 10) : h));
    }
    return g;
  }

  // The largest error relative to max(|g_i|, 1e-3 max_j |g_j|): the second
  // term keeps an entry that vanishes from asking for digits it cannot have.
  static double relative_error(const double* analytic, const std::vector<double>& numeric) {
    double scale = 0.0, worst = 0.0;
    for (double v : numeric) scale = std::max(scale, std::fabs(v));
    for (std::size_t i = 0; i < numeric.size(); ++i)
      worst = std::max(worst, std::fabs(analytic[i] - numeric[i]) /
                                  std::max(std::fabs(numeric[i]), 1e-3 * scale));
    return worst;
  }

  mvts::Host host_;
};

std::vector<double> series(double d, double phi, double theta, int n, unsigned seed,
                           double scale = 1.0, double level = 0.0) {
  auto y = fit_test::arfima11(d, phi, theta, n, seed);
  for (double& v : y) v = level + scale * v;
  return y;
}

// phi(z) = 1 - 2 r cos(w) z + r^2 z^2: a complex pair of modulus r.
std::vector<double> complex_pair(double r, double w) { return {-2 * r * std::cos(w), r * r}; }

const std::vector<Model>& conditional_models() {
  static const std::vector<Model> models = {
      {"arfima11_root095", 0.3, {-0.95}, {-0.5}},
      {"d_low_complex_pair", -0.49, complex_pair(0.9, 1.0), {}},
      {"d_high_subset_lags", 0.49, {-0.4, 0.0, -0.3}, {0.0, 0.35}},
      {"ma2_small_d", 0.05, {}, {0.3, -0.4}},
      {"d_below_minus_half", -0.7, {-0.5}, {0.4}},
      {"d_above_half", 0.8, {-0.3}, {}},
      {"fractional_noise", -0.2, {}, {}},
  };
  return models;
}

// The conditional gradient, both routes of the filter (n = 50 direct, 700
// by FFT), series in other units and with a level.
TEST_F(FarmaGradient, ConditionalAgreesWithDifferences) {
  const std::vector<std::vector<double>> ys = {series(0.3, -0.5, 0.3, 50, 3),
                                               series(0.3, 0.6, -0.2, 700, 4, 3.5, 10.0)};
  for (const auto& y : ys) {
    for (const Model& m : conditional_models()) {
      Values v;
      const auto g = gradient(m, y, mvtsa::kFarmaCss, &v);
      ASSERT_EQ(v.status, 0) << m.name;
      EXPECT_EQ(v.loglik, value(m, y, mvtsa::kFarmaCss).loglik) << m.name;  // bit for bit
      const auto num = numeric(m, y, mvtsa::kFarmaCss, &Values::loglik, 1e-3);
      EXPECT_LT(relative_error(g.data(), num), 1e-6) << m.name << " n = " << y.size();
    }
  }
}

// The same comparison catches a gradient without the MA part of the
// residual filter's derivative.
TEST_F(FarmaGradient, ConditionalWithoutMaFeedbackFails) {
  const auto y = series(0.3, 0.6, -0.2, 300, 5);
  for (const Model& m : conditional_models()) {
    if (m.q() == 0 || m.ma.back() == 0.0) continue;
    Values v;
    const auto g = gradient(m, y, mvtsa::kFarmaCss, &v, FarmaGradientDrop::kMaFeedback);
    ASSERT_EQ(v.status, 0);
    const auto num = numeric(m, y, mvtsa::kFarmaCss, &Values::loglik, 1e-3);
    EXPECT_GT(relative_error(g.data(), num), 1e-3) << m.name;
  }
}

// ---- Exact method

// The exact value carries rounding errors of up to about 1e-12 relative
// where Sigma is ill-conditioned (d = 0.49, roots near 0.95), which the
// differences divide by their step: 4e-3 keeps that below 1e-7 of the
// derivative while the extrapolated truncation error stays smaller still
// (at 2e-4 the same comparisons reach 7e-7, at 1e-3 6e-7).
constexpr double kExactStep = 4e-3;

const std::vector<Model>& exact_models() {
  static const std::vector<Model> models = {
      {"arfima11_root095", 0.3, {-0.95}, {-0.5}, 2.5},
      {"d_low_complex_pair", -0.49, complex_pair(0.9, 1.0), {}, 1.0},
      {"d_high_subset_lags", 0.49, {-0.4, 0.0, -0.3}, {0.0, 0.35}, 0.6},
      {"ar2_roots_095_05", 0.2, {-1.45, 0.475}, {0.3}, 0.7},
      {"ma2_small_d", 0.05, {}, {0.3, -0.4}, 1.0},
      {"fractional_noise", -0.2, {}, {}, 3.0},
  };
  return models;
}

// The AR roots of a model as farma_loglik finds them.
struct Roots {
  std::vector<double> pairs;
  bool complex_roots = false;
  explicit Roots(const Model& m) : pairs(2 * m.ar.size() + 2) {
    std::vector<double> ar(1, 1.0), work(std::size_t(mvtsa::farma_roots_work_size(m.p())) + 1);
    ar.insert(ar.end(), m.ar.begin(), m.ar.end());
    if (m.p() > 0) mvtsa::farma_ar_roots(ar.data(), m.p(), pairs.data(), work.data(), &complex_roots);
  }
};

// gamma and its derivatives in d and theta*_k from arfima_autocov_derivs
// against arfima_autocov and Richardson differences of it, to lag 60.
TEST_F(FarmaGradient, AutocovarianceDerivatives) {
  const std::int64_t lag = 60;
  for (const Model& m : exact_models()) {
    auto autocov = [&](const Model& t) {
      const Roots r(t);
      const auto ar = poly(t.ar), ma = poly(t.ma);
      std::vector<double> g(lag + 1), w(mvtsa::arfima_autocov_work_size(t.p(), t.q(), lag));
      EXPECT_EQ(mvtsa::arfima_autocov(g.data(), lag, t.d, t.p(), t.q(), ma.data(), ar.data(),
                                      r.pairs.data(), r.complex_roots, w.data()), 0);
      return g;
    };
    const Roots r(m);
    const auto ma = poly(m.ma);
    std::vector<double> g(lag + 1), dg((1 + m.q()) * (lag + 1)),
        w(mvtsa::arfima_autocov_derivs_work_size(m.p(), m.q(), lag));
    ASSERT_EQ(mvtsa::arfima_autocov_derivs(g.data(), lag, dg.data(), lag, m.d, m.p(), m.q(),
                                           ma.data(), r.pairs.data(), r.complex_roots, w.data()),
              0) << m.name;
    const auto ref = autocov(m);
    for (std::int64_t s = 0; s <= lag; ++s)
      EXPECT_NEAR(g[s], ref[s], 1e-13 * std::fabs(ref[0])) << m.name << " lag " << s;
    for (int row = 0; row <= m.q(); ++row) {
      std::vector<double> num(lag + 1);
      for (std::int64_t s = 0; s <= lag; ++s)
        num[s] = richardson(
            [&](double h) {
              Model t = m;
              if (row == 0) t.d += h;
              else t.ma[row - 1] += h;
              return autocov(t)[s];
            },
            1e-3);
      EXPECT_LT(relative_error(dg.data() + row * (lag + 1), num), 1e-6) << m.name << " row " << row;
    }
  }
}

// d ln det Sigma and d(y' Sigma^-1 y) against differences of ln det and q,
// n = 40 (direct convolutions) and 300 (FFT).
TEST_F(FarmaGradient, ExactAgreesWithDifferences) {
  const std::vector<std::vector<double>> ys = {series(0.3, -0.5, 0.3, 40, 3, 2.0),
                                               series(0.2, 0.6, -0.2, 300, 4, 0.8)};
  for (const auto& y : ys) {
    for (const Model& m : exact_models()) {
      Values v;
      const auto g = gradient(m, y, mvtsa::kFarmaExact, &v);
      ASSERT_EQ(v.status, 0) << m.name;
      const Values ref = value(m, y, mvtsa::kFarmaExact);
      EXPECT_EQ(v.loglik, ref.loglik) << m.name;  // bit for bit
      EXPECT_EQ(v.logdet, ref.logdet) << m.name;
      const int nk = 1 + m.p() + m.q();
      const auto nl = numeric(m, y, mvtsa::kFarmaExact, &Values::logdet, kExactStep);
      const auto nq = numeric(m, y, mvtsa::kFarmaExact, &Values::quad, kExactStep);
      EXPECT_LT(relative_error(g.data(), nl), 1e-6) << m.name << " ln det, n = " << y.size();
      EXPECT_LT(relative_error(g.data() + nk, nq), 1e-6) << m.name << " q, n = " << y.size();
    }
  }
}

// From n = kSuperfastFrom the value takes the superfast route, whose
// predictor of order n - 1 the gradient's Gohberg-Semencul traces read: the
// same comparison with differences of the value on that route.
TEST_F(FarmaGradient, ExactOnTheSuperfastRouteAgreesWithDifferences) {
  const auto y = series(0.3, -0.5, 0.3, int(mvtsa::kSuperfastFrom) + 900, 5, 1.5);
  for (const Model& m : {exact_models()[0], exact_models()[1], exact_models()[2]}) {
    Values v;
    const auto g = gradient(m, y, mvtsa::kFarmaExact, &v);
    ASSERT_EQ(v.status, 0) << m.name;
    const Values ref = value(m, y, mvtsa::kFarmaExact);
    EXPECT_EQ(v.loglik, ref.loglik) << m.name;  // bit for bit
    const int nk = 1 + m.p() + m.q();
    const auto nl = numeric(m, y, mvtsa::kFarmaExact, &Values::logdet, kExactStep);
    const auto nq = numeric(m, y, mvtsa::kFarmaExact, &Values::quad, kExactStep);
    EXPECT_LT(relative_error(g.data(), nl), 1e-6) << m.name << " ln det";
    EXPECT_LT(relative_error(g.data() + nk, nq), 1e-6) << m.name << " q";
  }
}

// The log-likelihood's gradient -(d ln det + dq) / 2 without the trace term
// fails the comparison with the differences of the log-likelihood.
TEST_F(FarmaGradient, ExactWithoutTheTraceFails) {
  const auto y = series(0.2, 0.6, -0.2, 200, 6);
  for (const Model& m : exact_models()) {
    Values v;
    const auto g = gradient(m, y, mvtsa::kFarmaExact, &v, FarmaGradientDrop::kTrace);
    ASSERT_EQ(v.status, 0);
    const int nk = 1 + m.p() + m.q();
    std::vector<double> gl(nk);
    for (int i = 0; i < nk; ++i) gl[i] = -0.5 * (g[i] + g[nk + i]);
    const auto num = numeric(m, y, mvtsa::kFarmaExact, &Values::loglik, kExactStep);
    EXPECT_GT(relative_error(gl.data(), num), 1e-3) << m.name;
  }
}

// Where d is within 2^-26.5 of 0 (the value's ARMA path) the derivatives in
// d are not formed (NaN) and those in the ARMA coefficients come from the
// ARMA autocovariances: against differences that keep d at 0.
TEST_F(FarmaGradient, ExactAtDZeroFromTheArmaPath) {
  const auto y = series(0.2, 0.6, -0.2, 120, 6, 1.7);
  const std::vector<Model> models = {{"arma11", 0.0, {-0.5}, {0.3}, 1.0},
                                     {"arma22_complex", 0.0, complex_pair(0.9, 0.7), {0.3, -0.2}, 2.0},
                                     {"ma2", 0.0, {}, {0.4, 0.25}, 0.5}};
  for (const Model& m : models) {
    Values v;
    const auto g = gradient(m, y, mvtsa::kFarmaExact, &v);
    ASSERT_EQ(v.status, 0);
    EXPECT_EQ(v.loglik, value(m, y, mvtsa::kFarmaExact).loglik);
    const int nk = 1 + m.p() + m.q();
    EXPECT_TRUE(std::isnan(g[0]) && std::isnan(g[nk])) << m.name;
    for (int part = 0; part < 2; ++part) {
      const auto num = numeric(m, y, mvtsa::kFarmaExact, part == 0 ? &Values::logdet : &Values::quad,
                               kExactStep);
      // entry 0 (d) leaves the ARMA path and is not compared
      const std::vector<double> rest(num.begin() + 1, num.end());
      EXPECT_LT(relative_error(g.data() + part * nk + 1, rest), 1e-6) << m.name << " part " << part;
    }
  }
}

}  // namespace
