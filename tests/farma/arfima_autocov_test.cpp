// ARFIMA autocovariances: the hypergeometric series, the ARMA path and the
// hypergeometric-series method, checked against closed forms and against an
// independent computation written here: the ARMA part as a long truncated
// MA(infinity) filter applied to fractional noise,
//   gamma_y(h) = sum_m c_m gamma_FN(h - m),  c_m = sum_j psi_j psi_(j+|m|),
// with gamma_FN(k) = Gamma(1 - 2d) Gamma(k + d) / (Gamma(d) Gamma(1 - d) Gamma(k + 1 - d))
// from log-gamma differences.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "host/host.hpp"
#include "module/farma/arfima_autocov.hpp"
#include "module/farma/poly_roots.hpp"

namespace {

using mvts::Value;

// gamma_FN(k) of unit-variance fractional noise, k >= 0, from long double
// log-gamma differences; Gamma(d) has the sign of d for |d| < 1/2.
double fn_autocov(double d, long k) {
  const long double ld = d;
  if (k == 0) return double(std::exp(std::lgammal(1 - 2 * ld) - 2 * std::lgammal(1 - ld)));
  const long double lg = std::lgammal(1 - 2 * ld) - std::lgammal(1 - ld) - std::lgammal(ld) +
                         std::lgammal(k + ld) - std::lgammal(k + 1 - ld);
  return double((d > 0 ? 1 : -1) * std::exp(lg));
}

std::vector<double> reference_autocov(double d, const std::vector<double>& phi,
                                      const std::vector<double>& theta, int lag, int terms) {
  // psi-weights of theta(B) / phi(B) with theta(B) = 1 - theta_1 B - ...
  std::vector<double> psi(terms, 0.0);
  for (int j = 0; j < terms; ++j) {
    double s = j == 0 ? 1.0 : (j <= int(theta.size()) ? -theta[j - 1] : 0.0);
    for (int k = 1; k <= int(phi.size()) && k <= j; ++k) s += phi[k - 1] * psi[j - k];
    psi[j] = s;
  }
  std::vector<double> c(terms, 0.0);
  for (int m = 0; m < terms; ++m)
    for (int j = 0; j + m < terms; ++j) c[m] += psi[j] * psi[j + m];
  std::vector<double> fn(lag + terms + 1);
  for (int k = 0; k <= lag + terms; ++k) fn[k] = fn_autocov(d, k);
  std::vector<double> g(lag + 1, 0.0);
  for (int h = 0; h <= lag; ++h)
    for (int m = -(terms - 1); m < terms; ++m) g[h] += c[std::abs(m)] * fn[std::abs(h - m)];
  return g;
}

class FarmacovCross : public ::testing::Test {
 protected:
  std::vector<double> farmacov(double d, const std::vector<double>& phi,
                               const std::vector<double>& theta, int lag) {
    auto r = s_.call("FARMACOV", {Value::scalar(d),
                                  phi.empty() ? Value::omitted() : Value::column(phi),
                                  theta.empty() ? Value::omitted() : Value::column(theta),
                                  Value::omitted(), Value::omitted(), Value::omitted(),
                                  Value::scalar(lag)});
    EXPECT_EQ(r.status, 0);
    if (r.status != 0 || !r.outputs[0]) return {};
    return r.outputs[0]->data;
  }
  mvts::Session s_;
};

TEST(HyperSeries, ClosedFormOfTheLogarithm) {
  // F(1, 2, z) = 2F1(1, 1; 2; z) = -ln(1 - z) / z.  Tolerances: the rounding
  // of some hundred (|z| <= 0.95) or forty thousand (z = 0.999) additions.
  const struct {
    double z, tol;
  } cases[] = {{0.3, 4e-16}, {0.9, 4e-15}, {0.95, 4e-15}, {-0.95, 4e-15}, {0.999, 2e-12}};
  for (const auto& c : cases) {
    const double want = -std::log1p(-c.z) / c.z;
    EXPECT_NEAR(mvtsa::hyper_series(1.0, 2.0, c.z), want, c.tol * std::fabs(want)) << c.z;
  }
  const std::complex<double> z(0.6, 0.7);
  const std::complex<double> want = -std::log(1.0 - z) / z;
  EXPECT_LT(std::abs(mvtsa::hyper_series(1.0, 2.0, z) - want), 4e-15 * std::abs(want));
}

TEST(HyperSeries, LongNegativeShiftsMatchABruteForceSum) {
  // a = d + h, c = 1 - d + h for h = -400: the factors change sign at k = 400;
  // the sum to 5000 terms in long double is the reference.
  for (double d : {0.3, -0.2, 1e-6}) {
    for (double rho : {0.95, -0.9}) {
      const double a = d - 400, c = 1 - d - 400;
      long double term = 1, sum = 1;
      for (int k = 1; k < 5000; ++k) {
        term *= rho * (a + k - 1) / (c + k - 1);
        sum += term;
      }
      EXPECT_NEAR(mvtsa::hyper_series(a, c, rho), double(sum), 1e-14 * std::fabs(double(sum)))
          << d << " " << rho;
    }
  }
}

TEST(HyperSeries, ThirtyTermsAreNotEnoughNearTheUnitCircle) {
  // The thirty-term truncation of F(d + h, 1 - d + h, 0.95) is off by several
  // percent; the summed series agrees with a long brute-force sum.
  const double d = 0.3, rho = 0.95;
  double term = 1, thirty = 1;
  long double full = 1, t = 1;
  for (int k = 1; k <= 3000; ++k) {
    const double r = rho * (d + k - 1) / (1 - d + k - 1);
    t *= r;
    full += t;
    if (k <= 30) {
      term *= r;
      thirty += term;
    }
  }
  EXPECT_GT(std::fabs(thirty - double(full)) / double(full), 0.05);
  EXPECT_NEAR(mvtsa::hyper_series(d, 1 - d, rho), double(full), 1e-14 * double(full));
}

TEST(ArmaAutocov, ArmaOneOneClosedForm) {
  // y_t = phi y_(t-1) + e_t + b e_(t-1): gamma(0) = (1 + 2 phi b + b^2) / (1 - phi^2),
  // gamma(1) = (1 + phi b)(phi + b) / (1 - phi^2).
  const double phi = 0.6, b = -0.35;
  const double ar[2] = {1, -phi}, ma[2] = {1, b};
  double g[2], c[2], r[2], work[64];
  mvtsa::arma_autocov(1, 1, ar, ma, g, c, r, work);
  EXPECT_NEAR(g[0], (1 + 2 * phi * b + b * b) / (1 - phi * phi), 1e-15);
  EXPECT_NEAR(g[1], (1 + phi * b) * (phi + b) / (1 - phi * phi), 1e-15);
  EXPECT_DOUBLE_EQ(c[0], 1 + b * b);
  EXPECT_DOUBLE_EQ(c[1], b);
  EXPECT_DOUBLE_EQ(r[1], b);            // theta*_1 pi_0
  EXPECT_DOUBLE_EQ(r[0], 1 + b * (phi + b));  // pi_1 = b + phi
}

TEST(ArmaAutocov, DZeroPathContinuesByTheArRecursion) {
  // AR(2) through arfima_autocov with d = 0, against the truncated MA sum.
  const std::vector<double> phi = {0.5, -0.3}, theta = {0.4};
  const double ar[3] = {1, -0.5, 0.3}, ma[2] = {1, -0.4};
  std::vector<double> g(21), work(mvtsa::arfima_autocov_work_size(2, 1, 20));
  ASSERT_EQ(mvtsa::arfima_autocov(g.data(), 20, 0.0, 2, 1, ma, ar, nullptr, false, work.data()),
            0);
  // psi-weights and their lagged products.
  std::vector<double> psi(400);
  for (int j = 0; j < 400; ++j) {
    double s = j == 0 ? 1 : (j == 1 ? -0.4 : 0);
    for (int k = 1; k <= 2 && k <= j; ++k) s += phi[k - 1] * psi[j - k];
    psi[j] = s;
  }
  for (int h = 0; h <= 20; ++h) {
    double want = 0;
    for (int j = 0; j + h < 400; ++j) want += psi[j] * psi[j + h];
    EXPECT_NEAR(g[h], want, 1e-14) << h;
  }
  // Pure MA: gamma(k) = c_k up to q, zero beyond.
  const double one[1] = {1};
  const double ma2[3] = {1, 0.5, -0.2};
  std::vector<double> m(6), w2(mvtsa::arfima_autocov_work_size(0, 2, 5));
  ASSERT_EQ(mvtsa::arfima_autocov(m.data(), 5, 0.0, 0, 2, ma2, one, nullptr, false, w2.data()),
            0);
  EXPECT_DOUBLE_EQ(m[0], 1 + 0.25 + 0.04);
  EXPECT_DOUBLE_EQ(m[1], 0.5 - 0.1);
  EXPECT_DOUBLE_EQ(m[2], -0.2);
  EXPECT_EQ(m[3], 0.0);
  EXPECT_EQ(m[5], 0.0);
}

TEST(ArmaAutocov, SingularSystemIsReportedAsNonstationary) {
  // phi = 1: the system [[1, -1], [-1, 1]] is singular; gamma(0) = -1, code 390.
  const double ar[2] = {1, -1}, ma[1] = {1};
  std::vector<double> g(4), work(mvtsa::arfima_autocov_work_size(1, 0, 3));
  EXPECT_EQ(mvtsa::arfima_autocov(g.data(), 3, 0.0, 1, 0, ma, ar, nullptr, false, work.data()),
            mvtsa::kStatusNonstationary);
}

TEST_F(FarmacovCross, FractionalNoiseMatchesTheClosedFormToLagOneThousand) {
  for (double d : {0.2, 0.45, -0.3, -0.45}) {
    const std::vector<double> g = farmacov(d, {}, {}, 1000);
    ASSERT_EQ(g.size(), 1001u);
    for (int k : {0, 1, 2, 10, 171, 500, 1000})
      EXPECT_NEAR(g[k], fn_autocov(d, k), 1e-12 * std::fabs(fn_autocov(d, k))) << d << " " << k;
  }
  // The documented values for d = 0.2.
  const std::vector<double> g = farmacov(0.2, {}, {}, 12);
  EXPECT_NEAR(g[0], 1.09869, 5e-6);
  EXPECT_NEAR(g[1], 0.27467, 5e-6);
  EXPECT_NEAR(g[2], 0.18311, 5e-6);
}

// ARFIMA(1, d, 0) with AR roots up to 0.95 and lags to 1000 (beyond the lag
// where two separate gamma evaluations overflow): relative to gamma(0),
// within 1e-10.
TEST_F(FarmacovCross, ArRootsNearTheUnitCircleAndLongLags) {
  for (double d : {0.3, -0.3, 0.45}) {
    for (double phi : {0.5, 0.8, 0.9, 0.95, -0.9}) {
      const std::vector<double> g = farmacov(d, {phi}, {}, 1000);
      ASSERT_EQ(g.size(), 1001u);
      const std::vector<double> want = reference_autocov(d, {phi}, {}, 1000, 2500);
      for (int k = 0; k <= 1000; ++k)
        ASSERT_NEAR(g[k], want[k], 1e-10 * want[0]) << "d " << d << " phi " << phi << " lag " << k;
    }
  }
}

TEST_F(FarmacovCross, ComplexRootsAndMovingAverageTerms) {
  struct Case {
    double d;
    std::vector<double> phi, theta;
  } cases[] = {
      // complex pair of modulus 0.9: phi(B) = 1 - 2 (0.9) cos(1) B + 0.81 B^2
      {0.25, {2 * 0.9 * std::cos(1.0), -0.81}, {}},
      {-0.2, {2 * 0.95 * std::cos(2.0), -0.9025}, {0.5}},
      {0.35, {0.3, 0.2, -0.1}, {0.4, -0.3}},
      {0.1, {}, {0.7, 0.2}},
      {0.4, {0.5}, {-0.6, 0.3, 0.2}},
  };
  for (const Case& c : cases) {
    const std::vector<double> g = farmacov(c.d, c.phi, c.theta, 300);
    ASSERT_EQ(g.size(), 301u);
    const std::vector<double> want = reference_autocov(c.d, c.phi, c.theta, 300, 2000);
    for (int k = 0; k <= 300; ++k)
      ASSERT_NEAR(g[k], want[k], 1e-10 * want[0]) << "d " << c.d << " lag " << k;
  }
}

}  // namespace
