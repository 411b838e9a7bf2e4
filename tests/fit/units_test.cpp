// Both fits in other units.  The maximum of a Gaussian likelihood moves with
// the units of the data: fitted to c y, the coefficients are those fitted to
// y, the variance is c^2 times, and the likelihood reached is that of y less
// n k log c.  Checked over scales 1e-6 .. 1e6 for VARMAFIT and FARMAFIT (both
// methods), and for the periodogram start of FARMAFIT on its own.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "module/farma/gph.hpp"
#include "tests/fit/simulate.hpp"

namespace {

using mvts::Value;

const double kScales[] = {1e-6, 1e-4, 1e-2, 1e2, 1e6};

class FitUnits : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(s_.live_blocks(), 0); }
  static std::vector<double> scaled(std::vector<double> y, double c) {
    for (double& x : y) x *= c;
    return y;
  }
  static std::vector<double> get(const mvts::CallResult& r, std::size_t i) {
    return r.outputs.size() > i && r.outputs[i] ? r.outputs[i]->data : std::vector<double>{};
  }
  mvts::Session s_;
};

// VAR(1) with Phi = [[0.5, 0.1], [-0.2, 0.3]], T = 300, and a VARMA(1, 1)
// whose AR and MA parts are far from cancelling (where they nearly cancel,
// the likelihood has a ridge along which no fit is determined to 1e-4):
// at every scale the same coefficients to 1e-4, Sigma / c^2 to 1e-4
// relative and the log-likelihood (VARMALIK at the fit, plus T k log c) to
// 1e-6 relative.  (With an absolute floor on det F the VAR(1) fit at c =
// 0.01 returned Phi_12 = 0.29 for 0.07 and Sigma / c^2 = 8.8, status 0.)
TEST_F(FitUnits, VarmafitIsEquivariant) {
  const double phi[4] = {0.5, 0.1, -0.2, 0.3}, theta[4] = {-0.5, 0.2, 0, -0.4};
  const double zero[4] = {0, 0, 0, 0}, chol[3] = {1.0, 0.3, 0.9};
  struct Case {
    const char* what;
    std::vector<double> y;
    bool ma;
  };
  const Case cases[] = {{"VAR(1)", fit_test::varma11(phi, zero, chol, 300, 41), false},
                        {"VARMA(1,1)", fit_test::varma11(phi, theta, chol, 200, 42), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::int32_t T = std::int32_t(c.y.size() / 2);
    auto fit_at = [&](double scale, std::vector<double>* ar, std::vector<double>* ma,
                      std::vector<double>* sigma) {
      const std::vector<double> y = scaled(c.y, scale);
      const auto r = s_.call("VARMAFIT", {Value::matrix(T, 2, y), Value::scalar(1),
                                          c.ma ? Value::scalar(1) : Value::omitted()});
      EXPECT_EQ(r.status, 0) << scale;
      *ar = get(r, 0);
      *ma = get(r, 1);
      *sigma = get(r, 2);
      const auto l = s_.call("VARMALIK", {Value::matrix(T, 2, y), Value::matrix(2, 2, *ar),
                                          c.ma ? Value::matrix(2, 2, *ma) : Value::omitted(),
                                          Value::matrix(2, 2, *sigma)});
      EXPECT_EQ(l.status, 0) << scale;
      return get(l, 0).at(0) + 2.0 * T * std::log(scale);
    };
    std::vector<double> ar0, ma0, s0;
    const double L0 = fit_at(1.0, &ar0, &ma0, &s0);
    ASSERT_EQ(ar0.size(), 4u);
    for (double scale : kScales) {
      std::vector<double> ar, ma, sigma;
      const double L = fit_at(scale, &ar, &ma, &sigma);
      ASSERT_EQ(ar.size(), 4u) << scale;
      ASSERT_EQ(sigma.size(), 4u) << scale;
      EXPECT_NEAR(L, L0, 1e-6 * std::fabs(L0)) << scale;
      for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(ar[i], ar0[i], 1e-4) << scale << " ar " << i;
        if (c.ma) {
          ASSERT_EQ(ma.size(), 4u) << scale;
          EXPECT_NEAR(ma[i], ma0[i], 1e-4) << scale << " ma " << i;
        }
        EXPECT_NEAR(sigma[i] / (scale * scale), s0[i], 1e-4 * std::fabs(s0[0])) << scale;
      }
    }
  }
}

// ARFIMA(1, d, 1), n = 300, by both methods: the same d, AR and MA to 1e-4
// and sigma^2 / c^2 to 1e-4 relative at every scale.  (With the periodogram
// floor an absolute 2^-26.5 the conditional fit in units of 1e-4 went to
// d = -2.47 and an explosive AR coefficient, status 0.)
TEST_F(FitUnits, FarmafitIsEquivariantForBothMethods) {
  for (unsigned seed : {4u, 9u}) {
    const std::vector<double> y0 = fit_test::arfima11(0.3, 0.5, 0.3, 300, seed);
    for (double method : {0.0, 1.0}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " method " + std::to_string(int(method)));
      auto fit_at = [&](double scale) {
        const auto r = s_.call("FARMAFIT", {Value::column(scaled(y0, scale)), Value::scalar(1),
                                            Value::scalar(1), Value::scalar(method)});
        EXPECT_EQ(r.status, 0) << scale;
        std::vector<double> est;
        for (std::size_t i = 0; i < 4; ++i) {
          const std::vector<double> v = get(r, i);
          est.push_back(v.empty() ? std::nan("") : v[0]);
        }
        est[3] /= scale * scale;
        return est;
      };
      const std::vector<double> base = fit_at(1.0);
      for (double scale : kScales) {
        const std::vector<double> est = fit_at(scale);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(est[i], base[i], 1e-4) << scale << " " << i;
        EXPECT_NEAR(est[3], base[3], 1e-4 * base[3]) << scale;
      }
    }
  }
}

// The log-periodogram start: the same d for the series in any units, also
// where the ordinates fall below 2^-26.5 (units of 1e-5 make them ~1e-10).
TEST(GphUnits, StartDoesNotDependOnTheUnits) {
  const std::vector<double> y0 = fit_test::arfima11(0.3, 0.5, 0.3, 300, 4);
  std::vector<double> work(mvtsa::gph_work_size(300));
  std::vector<double> y = y0;
  const double d0 = mvtsa::gph_start(y.data(), 300, work.data());
  for (double c : {1e-8, 1e-5, 1e-2, 1e3, 1e8}) {
    for (std::size_t i = 0; i < y.size(); ++i) y[i] = y0[i] * c;
    EXPECT_NEAR(mvtsa::gph_start(y.data(), 300, work.data()), d0, 1e-10) << c;
  }
}

}  // namespace
