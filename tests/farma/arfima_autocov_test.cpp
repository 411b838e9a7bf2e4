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
#include <limits>
#include <vector>

#include "host/host.hpp"
#include "module/farma/arfima_autocov.hpp"
#include "module/farma/gamma.hpp"
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
  // The closed-form values for d = 0.2.
  const std::vector<double> g = farmacov(0.2, {}, {}, 12);
  ASSERT_EQ(g.size(), 13u);
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

// One AR coefficient at lag s has s roots rho_j = r e^(2 pi i j / s),
// r = phi^(1/s).  For s = 1400 and phi = 0.5 the 2799 factors of each
// Sowell weight carry partial products beyond the doubles although the
// weight itself is of order 1e-3: FARMACOV once failed there with
// "overflowed".  Against the same products in long double (whose exponent
// reaches 1e4932), for complex roots and for s real roots spread over
// (-0.9995, 0.9995).
TEST(SowellWeights, ManyRootsNearTheUnitCircleStayInRange) {
  for (const bool complex_roots : {true, false}) {
    const int s = complex_roots ? 1400 : 700;
    std::vector<double> roots(2 * std::size_t(s)), zeta(2 * std::size_t(s));
    // in the root finder's order: real parts descending, a conjugate pair
    // together (the positive imaginary part first)
    const double r = std::pow(0.5, 1.0 / s), pi = 3.141592653589793;
    for (int j = 0; j < s; ++j) {
      const int k = (j + 1) / 2;  // angle 2 pi k / s, the sign by the parity of j
      const double angle = (j % 2 == 1 || j == 0 ? 1.0 : -1.0) * 2 * pi * k / s;
      roots[2 * j] = complex_roots ? r * std::cos(angle) : 0.9995 - 1.999 * j / (s - 1);
      roots[2 * j + 1] = complex_roots && j != s - 1 ? r * std::sin(angle) : 0.0;
    }
    mvtsa::sowell_weights(roots.data(), s, complex_roots, zeta.data());
    for (int j = 0; j < s; j += 37) {
      using C = std::complex<long double>;
      const C rj(roots[2 * j], roots[2 * j + 1]);
      C den = rj;
      for (int i = 0; i < s; ++i) {
        const C ri(roots[2 * i], roots[2 * i + 1]);
        den *= 1.0L - ri * rj;
        if (i != j) den *= rj - ri;
      }
      const C want = 1.0L / den;
      if (std::abs(want) > 1e300L || std::abs(want) < 1e-300L) continue;  // beyond a double
      const C got(zeta[2 * j], zeta[2 * j + 1]);
      EXPECT_LE(double(std::abs(got - want) / std::abs(want)), 1e-10)
          << (complex_roots ? "complex " : "real ") << j;
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

// ---- The long-lag table against the series summed at every shift --------
//
// The reference below is the series-per-lag computation the table replaced:
// F(d + h, 1 - d + h, rho) and F(d - h, 1 - d - h, rho) summed anew for
// every h by hyper_c_real / hyper_c_complex, with the same constant K and the
// same gamma ratios (gamma_eval up to where it overflows, then the ratio
// recursion), so that the two differ only in how the series are formed.

using Cd = std::complex<double>;
using Cl = std::complex<long double>;

// F(d + x, 1 - d + x, rho) summed in the precision of T until the tail
// cannot change it, each factor (d + x + k) / (x + k + 1 - d) formed afresh
// (never by stepping a and c, whose rounding would build up where
// x + k + 1 - d is near 0); *abs_sum receives sum_k |term_k|, the scale of
// the sum's rounding error.
template <class R, class T>
T series_in(R d, long x, T rho, R* abs_sum) {
  const R r = std::abs(rho), half_ulp = std::numeric_limits<R>::epsilon() / 2;
  T term = 1, sum = 1;
  R abs = 1;
  for (long k = 1; k < (1L << 22); ++k) {
    const R a = d + R(x + k - 1), c = R(x + k) - d;
    term *= rho * (a / c);
    sum += term;
    abs += std::abs(term);
    // once c > 0 and a + c >= 0 the later factors are at most |rho|
    if (k >= 30 && c > 0 && a + c >= 0 && std::abs(term) * r / (1 - r) <= half_ulp * std::abs(sum))
      break;
  }
  *abs_sum = abs;
  return sum;
}

// A model given by its AR roots (distinct, inside the unit circle) and its
// MA polynomial theta* (theta*_0 = 1).
struct RootModel {
  double d;
  std::vector<Cd> roots;
  std::vector<double> ma;
  int p() const { return int(roots.size()); }
  int q() const { return int(ma.size()) - 1; }
  bool complex() const {
    for (const Cd& r : roots)
      if (r.imag() != 0) return true;
    return false;
  }
  // a_0 = 1, a_j = -phi_j: the coefficients of prod_j (1 - rho_j B)
  std::vector<double> ar() const {
    std::vector<Cd> c(roots.size() + 1, 0.0);
    c[0] = 1;
    for (const Cd& r : roots)
      for (std::size_t k = roots.size(); k >= 1; --k) c[k] -= r * c[k - 1];
    std::vector<double> a;
    for (const Cd& v : c) a.push_back(v.real());
    return a;
  }
  std::vector<double> packed_roots() const {
    std::vector<double> v;
    for (const Cd& r : roots) {
      v.push_back(r.real());
      v.push_back(r.imag());
    }
    return v;
  }
};

std::vector<double> table_autocov(const RootModel& m, long lag) {
  const std::vector<double> ar = m.ar(), roots = m.packed_roots();
  std::vector<double> g(lag + 1), work(mvtsa::arfima_autocov_work_size(m.p(), m.q(), lag));
  EXPECT_EQ(mvtsa::arfima_autocov(g.data(), lag, m.d, m.p(), m.q(), m.ma.data(), ar.data(),
                                  roots.data(), m.complex(), work.data()),
            0);
  return g;
}

// Gamma(d + h) / Gamma(1 - d + h): both gammas by gamma_eval while both
// succeed, beyond that by R(h +- 1) from R(h).
double gamma_ratio(double d, long h) {
  double prev = 0;
  for (long k = 0;; k += h >= 0 ? 1 : -1) {
    double g1, g2, v;
    if (mvtsa::gamma_eval(d + k, &g1) == 0 && mvtsa::gamma_eval(1 - d + k, &g2) == 0)
      v = g1 / g2;
    else
      v = h >= 0 ? prev * (d + k - 1) / (k - d) : prev * (1 - d + k) / (d + k);
    if (k == h) return v;
    prev = v;
  }
}

// gamma(s) by the series summed at each shift, in double (today's sums,
// hyper_c_real / hyper_c_complex) and, for the sums alone, in long double;
// *scale is |K| sum_l |psi(l) R(h)| sum_j |zeta_j| (|rho_j|^2p A(h) + A(-h) + 1)
// with A the sums of absolute terms, the size of what cancels in gamma(s).
struct SeriesValue {
  double dbl, ld, scale;
};
SeriesValue series_autocov(const RootModel& m, long s) {
  const int p = m.p(), q = m.q();
  double g12, g1, gd;
  mvtsa::gamma_eval(1 - 2 * m.d, &g12);
  mvtsa::gamma_eval(1 - m.d, &g1);
  mvtsa::gamma_eval(m.d, &gd);
  const double K = g12 / (g1 * gd);
  std::vector<Cd> zeta(p);
  for (int j = 0; j < p; ++j) {
    Cd den = m.roots[j];
    for (int i = 0; i < p; ++i) {
      den *= 1.0 - m.roots[i] * m.roots[j];
      if (i != j) den *= m.roots[j] - m.roots[i];
    }
    zeta[j] = 1.0 / den;
  }
  SeriesValue out{0, 0, 0};
  long double sum_ld = 0;
  for (int l = -q; l <= q; ++l) {
    double psi = 0;
    for (int t = std::max(0, l); t <= std::min(q, q + l); ++t) psi += m.ma[t] * m.ma[t - l];
    const long h = p + l - s;
    const double R = gamma_ratio(m.d, h);
    double S = 0, A = 0;
    long double S_ld = 0;
    for (int j = 0; j < p; ++j) {
      const Cd r = m.roots[j];
      Cd r2p = 1.0;
      for (int i = 0; i < 2 * p; ++i) r2p *= r;
      S += m.complex() ? (zeta[j] * mvtsa::hyper_c_complex(m.d, h, r, p)).real()
                       : zeta[j].real() * mvtsa::hyper_c_real(m.d, h, r.real(), p);
      const long double dl = m.d;
      const Cl rl(r.real(), r.imag());
      long double ap, am;
      const Cl fp = series_in<long double>(dl, h, rl, &ap);
      const Cl fm = series_in<long double>(dl, -h, rl, &am);
      S_ld += (Cl(zeta[j].real(), zeta[j].imag()) * (Cl(r2p.real(), r2p.imag()) * fp + fm - 1.0L))
                  .real();
      A += std::abs(zeta[j]) * (std::abs(r2p) * double(ap) + double(am) + 1);
    }
    out.dbl += psi * (R * S);
    sum_ld += psi * (R * S_ld);
    out.scale += std::fabs(psi * R) * A;
  }
  out.dbl *= K;
  out.ld = double(K * sum_ld);
  out.scale *= std::fabs(K);
  return out;
}

// The lags checked: every lag up to 30, every 11th to 400 (where the gamma
// ratios change method and the series change sign), then about twenty more
// to the last.
std::vector<long> checked_lags(long lag) {
  std::vector<long> v;
  for (long k = 0; k <= lag; k += k < 30 ? 1 : k < 400 ? 11 : lag / 20) v.push_back(k);
  if (v.back() != lag) v.push_back(lag);
  return v;
}

// Real and complex roots up to modulus 0.99, d across (-1/2, 1/2), lags to
// 10^4: the table agrees with the long-double sums within 2e-13 of the
// scale of each gamma(s) (relative 2e-13 wherever nothing cancels), and with
// today's double sums within 1e-12 of it except where today's sums are the
// ones that lost the digits (d near 0, where they reach c = x + k + 1 - d
// near 0 after many roundings of c).
TEST(ArfimaAutocovTable, MatchesTheSeriesSummedAtEveryShift) {
  const Cd c99 = std::polar(0.99, 0.3), c95 = std::polar(0.95, 0.05), c90 = std::polar(0.9, 2.0);
  const struct {
    RootModel m;
    long lag;
  } cases[] = {
      {{0.3, {0.95}, {1}}, 10000},
      {{-0.45, {0.99}, {1}}, 10000},
      {{0.49, {-0.99}, {1}}, 10000},
      {{-0.001, {0.99}, {1}}, 10000},
      {{0.01, {c99, std::conj(c99)}, {1}}, 10000},
      {{-0.2, {c90, std::conj(c90)}, {1, -0.4}}, 3000},
      {{0.3, {0.99, -0.5, 0.3}, {1, 0.5, -0.2}}, 3000},
      {{-0.3, {c95, std::conj(c95), 0.6}, {1, 0.3}}, 3000},
      {{0.2, {0.5}, {1}}, 2000},
      {{1e-6, {-0.7}, {1, 0.4}}, 2000},
  };
  for (const auto& c : cases) {
    const std::vector<double> g = table_autocov(c.m, c.lag);
    for (long k : checked_lags(c.lag)) {
      const SeriesValue ref = series_autocov(c.m, k);
      const double e_dbl = std::fabs(g[k] - ref.dbl), e_ld = std::fabs(g[k] - ref.ld);
      ASSERT_LE(e_ld, 2e-13 * ref.scale)
          << "d " << c.m.d << " root " << c.m.roots[0] << " lag " << k;
      // For d near 0 today's sums are off by up to 1e-9 of the scale; the
      // table is then the closer to the long-double sums.
      if (std::fabs(c.m.d) >= 0.01) {
        ASSERT_LE(e_dbl, 1e-12 * ref.scale)
            << "d " << c.m.d << " root " << c.m.roots[0] << " lag " << k;
      } else if (e_dbl > 1e-12 * ref.scale) {
        ASSERT_GT(std::fabs(ref.dbl - ref.ld), e_ld)
            << "d " << c.m.d << " root " << c.m.roots[0] << " lag " << k;
      }
    }
  }
}

// The table against the long-double series at each shift, relative to the
// sum of absolute terms (relative to F itself wherever its terms do not
// cancel): shifts from -3000 to 3000, including d just above the ARMA
// threshold, where F(d + x, 1 - d + x) for x < 0 cancels to near zero.
TEST(ArfimaAutocovTable, HyperTableAgreesWithLongDoubleSums) {
  const long X = 3000;
  for (double d : {-0.45, -1e-3, 2e-8, 0.3, 0.49}) {
    for (Cd rho : {Cd(0.5), Cd(0.99), Cd(-0.99), std::polar(0.99, 0.3), std::polar(0.9, 2.0)}) {
      std::vector<Cd> F(2 * X + 1);
      std::vector<double> Fr(2 * X + 1);
      mvtsa::hyper_table_complex(d, rho, X, F.data());
      if (rho.imag() == 0) mvtsa::hyper_table_real(d, rho.real(), X, Fr.data());
      for (long x = -X; x <= X; x += std::labs(x) <= 30 ? 1 : std::labs(x) < 400 ? 29 : 317) {
        long double abs_sum;
        const Cl want =
            series_in<long double>((long double)d, x, Cl(rho.real(), rho.imag()), &abs_sum);
        const Cl got(F[x + X].real(), F[x + X].imag());
        ASSERT_LE(double(std::abs(got - want)), 1e-13 * double(abs_sum))
            << "d " << d << " rho " << rho << " x " << x;
        if (rho.imag() == 0) {
          ASSERT_EQ(Fr[x + X], F[x + X].real()) << d << " " << x;
        }
      }
    }
  }
}

// The table at shifts within the reach of the exported series: F(X) is the
// series itself, and C(d, h, rho) = rho^2p F(h) + F(-h) - 1 reproduces
// hyper_c_real and hyper_c_complex to rounding.
TEST(ArfimaAutocovTable, EndpointIsTheSeriesAndCombinesIntoC) {
  const long X = 50;
  std::vector<double> F(2 * X + 1);
  mvtsa::hyper_table_real(0.3, 0.9, X, F.data());
  EXPECT_EQ(F[2 * X], mvtsa::hyper_series(0.3 + X, 0.7 + X, 0.9));
  for (long h : {-50L, -7L, -1L, 0L, 1L, 12L, 50L}) {
    const double want = mvtsa::hyper_c_real(0.3, h, 0.9, 2);
    EXPECT_NEAR(0.9 * 0.9 * 0.9 * 0.9 * F[X + h] + F[X - h] - 1, want, 1e-14 * std::fabs(want))
        << h;
  }
  const Cd rho = std::polar(0.8, 1.2);
  std::vector<Cd> Fc(2 * X + 1);
  mvtsa::hyper_table_complex(-0.25, rho, X, Fc.data());
  for (long h : {-50L, -3L, 0L, 4L, 50L}) {
    const Cd want = mvtsa::hyper_c_complex(-0.25, h, rho, 1);
    EXPECT_LT(std::abs(rho * rho * Fc[X + h] + Fc[X - h] - 1.0 - want), 1e-14 * std::abs(want))
        << h;
  }
}

}  // namespace
