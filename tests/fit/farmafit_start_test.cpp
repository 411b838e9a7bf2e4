// Starting values of FARMAFIT: the mixed-radix transform against a direct
// DFT, Singleton's factoring and its failure cases, the log-periodogram
// regression on a series built with a known spectral slope, and the
// Hannan-Rissanen regressions against normal equations solved here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "module/farma/farmafit.hpp"
#include "module/farma/farmafit_start.hpp"
#include "module/farma/gph.hpp"
#include "module/farma/gph_fft.hpp"
#include "module/farma/poly_roots.hpp"
#include "module/frame/host.hpp"

namespace {

using mvtsa::fft_factor;
using mvtsa::fft_mixed_radix;

std::vector<int> factors_of(std::int64_t n, int* code) {
  int f[mvtsa::kFftMaxFactors];
  int count = 0;
  *code = fft_factor(n, f, &count);
  return std::vector<int>(f, f + count);
}

TEST(MixedRadixFft, SingletonFactoring) {
  int code = 0;
  // squares first and mirrored around the square-free part
  EXPECT_EQ(factors_of(2000, &code), (std::vector<int>{4, 5, 5, 5, 4}));
  EXPECT_EQ(code, mvtsa::kFftOk);
  EXPECT_EQ(factors_of(10000, &code), (std::vector<int>{4, 5, 5, 5, 5, 4}));
  EXPECT_EQ(factors_of(8, &code), (std::vector<int>{2, 2, 2}));
  EXPECT_EQ(factors_of(4, &code), (std::vector<int>{4}));
  EXPECT_EQ(factors_of(12, &code), (std::vector<int>{2, 3, 2}));
  EXPECT_EQ(factors_of(90, &code), (std::vector<int>{3, 2, 5, 3}));
  EXPECT_EQ(code, mvtsa::kFftOk);
  // 209 = 11 * 19 is the largest square-free product allowed; 210 is not.
  factors_of(209, &code);
  EXPECT_EQ(code, mvtsa::kFftOk);
  factors_of(210, &code);
  EXPECT_EQ(code, mvtsa::kFftSquareFreeTooLarge);
  factors_of(3 * 7 * 11, &code);
  EXPECT_EQ(code, mvtsa::kFftSquareFreeTooLarge);
  // prime factors above 23, square or not
  for (std::int64_t n : {29, 47, 2 * 29, 29 * 29, 1000003}) {
    factors_of(n, &code);
    EXPECT_EQ(code, mvtsa::kFftPrimeTooLarge) << n;
  }
  factors_of(23 * 16, &code);
  EXPECT_EQ(code, mvtsa::kFftOk);
  factors_of(1, &code);
  EXPECT_EQ(code, mvtsa::kFftTooShort);
}

TEST(MixedRadixFft, MatchesDirectTransform) {
  std::mt19937_64 rng(5);
  std::normal_distribution<double> z;
  for (std::int64_t n : {2, 3, 4, 5, 6, 7, 8, 9, 12, 16, 23, 30, 45, 64, 100, 209, 360, 2000}) {
    std::vector<double> re(n), im(n), work(2 * n);
    for (auto& v : re) v = z(rng);
    for (auto& v : im) v = z(rng);
    std::vector<double> r0 = re, i0 = im;
    ASSERT_EQ(fft_mixed_radix(re.data(), im.data(), n, work.data()), mvtsa::kFftOk) << n;
    double err = 0.0, scale = 0.0;
    for (std::int64_t j = 0; j < n; ++j) {
      std::complex<double> s = 0.0;
      for (std::int64_t t = 0; t < n; ++t)
        s += std::complex<double>(r0[t], i0[t]) *
             std::polar(1.0, -2.0 * M_PI * double((j * t) % n) / double(n));
      err = std::max(err, std::abs(s - std::complex<double>(re[j], im[j])));
      scale = std::max(scale, std::abs(s));
    }
    EXPECT_LT(err, 1e-12 * scale * std::log2(double(n) + 1)) << n;
  }
}

TEST(MixedRadixFft, FailureLeavesDataUnchanged) {
  std::vector<double> re(47, 1.5), im(47, -0.5), work(94);
  EXPECT_EQ(fft_mixed_radix(re.data(), im.data(), 47, work.data()), mvtsa::kFftPrimeTooLarge);
  EXPECT_EQ(re, std::vector<double>(47, 1.5));
  EXPECT_EQ(im, std::vector<double>(47, -0.5));
}

// A series whose periodogram is exactly c (4 sin^2(pi j / n))^-d at every
// Fourier frequency (odd n, cosines with chosen amplitudes): the
// log-periodogram regression then fits without residual and returns d.
TEST(GphStart, RecoversTheSlopeOfAnExactSpectrum) {
  for (double d : {0.3, -0.2, 0.45}) {
    const std::int64_t n = 375;  // 3 * 5^3
    const std::int64_t m = n / 2;
    std::vector<double> y(n, 0.0);
    for (std::int64_t j = 1; j <= m; ++j) {
      const double s = std::sin(M_PI * double(j) / double(n));
      const double f = 2.5 * std::pow(4.0 * s * s, -d);
      // I_j = (2/n) |X_j|^2 with X_j = n A_j / 2  =>  A_j = sqrt(2 f / n)
      const double a = std::sqrt(2.0 * f / double(n));
      for (std::int64_t t = 0; t < n; ++t)
        y[t] += a * std::cos(2.0 * M_PI * double((j * t) % n) / double(n));
    }
    std::vector<double> work(mvtsa::gph_work_size(n));
    EXPECT_NEAR(mvtsa::gph_start(y.data(), n, work.data()), d, 1e-9) << d;
  }
}

TEST(GphStart, FallbackWhenTheTransformFails) {
  std::vector<double> y(47);
  for (int t = 0; t < 47; ++t) y[t] = std::sin(0.3 * t) + 0.01 * t;
  std::vector<double> work(4 * 47);
  EXPECT_EQ(mvtsa::gph_start(y.data(), 47, work.data()), 0.001);
  EXPECT_EQ(mvtsa::gph_start(y.data(), 1, work.data()), 0.001);
  // two or three values leave one frequency: nothing to regress on
  EXPECT_EQ(mvtsa::gph_start(y.data(), 3, work.data()), 0.001);
}

// Fractional noise (1 - B)^-d e by its truncated moving-average form.
TEST(GphStart, FractionalNoiseNearItsD) {
  const std::int64_t n = 4000, burn = 2000;
  const double d = 0.3;
  std::mt19937_64 rng(17);
  std::normal_distribution<double> z;
  std::vector<double> e(n + burn), psi(n + burn), y(n);
  for (auto& v : e) v = z(rng);
  psi[0] = 1.0;
  for (std::size_t j = 1; j < psi.size(); ++j) psi[j] = psi[j - 1] * (double(j) - 1 + d) / double(j);
  for (std::int64_t t = 0; t < n; ++t) {
    double s = 0.0;
    for (std::int64_t j = 0; j <= t + burn; ++j) s += psi[j] * e[t + burn - j];
    y[t] = s;
  }
  std::vector<double> work(mvtsa::gph_work_size(n));
  EXPECT_NEAR(mvtsa::gph_start(y.data(), n, work.data()), d, 0.08);
}

class HannanRissanen : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.activate();
    mvtsa::set_host_table(host_.table());
  }
  static std::vector<double> arma(double phi, double theta, std::int64_t n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> z;
    std::vector<double> u(n);
    double prev_u = 0.0, prev_e = 0.0;
    for (std::int64_t t = -200; t < n; ++t) {
      const double e = z(rng);
      const double v = phi * prev_u + e - theta * prev_e;
      prev_u = v;
      prev_e = e;
      if (t >= 0) u[t] = v;
    }
    return u;
  }
  std::vector<double> run(const std::vector<double>& u, std::vector<int> ar, std::vector<int> ma,
                          bool exact, int* code) {
    mvtsa::ArmaLags l;
    l.ar = ar.data();
    l.na = int(ar.size());
    l.P = ar.empty() ? 0 : ar.back();
    l.ma = ma.data();
    l.nm = int(ma.size());
    l.Q = ma.empty() ? 0 : ma.back();
    std::vector<double> work(mvtsa::hannan_rissanen_work_size(std::int64_t(u.size()), l));
    std::vector<double> out(l.na + l.nm + 1, -7.0);
    *code = mvtsa::hannan_rissanen_start(u.data(), std::int64_t(u.size()), l, exact, out.data(),
                                         work.data());
    return out;
  }
  mvts::Host host_;
};

// Without an MA part the procedure is one least-squares regression of u_t
// on u_(t-1), u_(t-3) over t = 3 .. n-1: solved here by normal equations.
TEST_F(HannanRissanen, AutoregressionIsLeastSquares) {
  const auto u = arma(0.5, 0.0, 400, 3);
  double sxx[2][2] = {}, sxy[2] = {}, syy = 0.0;
  for (std::size_t t = 3; t < u.size(); ++t) {
    const double x[2] = {u[t - 1], u[t - 3]};
    for (int i = 0; i < 2; ++i) {
      sxy[i] += x[i] * u[t];
      for (int j = 0; j < 2; ++j) sxx[i][j] += x[i] * x[j];
    }
    syy += u[t] * u[t];
  }
  const double det = sxx[0][0] * sxx[1][1] - sxx[0][1] * sxx[1][0];
  const double b0 = (sxx[1][1] * sxy[0] - sxx[0][1] * sxy[1]) / det;
  const double b1 = (sxx[0][0] * sxy[1] - sxx[1][0] * sxy[0]) / det;
  const double rss = syy - b0 * sxy[0] - b1 * sxy[1];
  int code = -1;
  const auto out = run(u, {1, 3}, {}, true, &code);
  ASSERT_EQ(code, 0);
  EXPECT_NEAR(out[0], b0, 1e-10);
  EXPECT_NEAR(out[1], b1, 1e-10);
  EXPECT_NEAR(out[2], rss / double(u.size() - 3), 1e-9);
}

TEST_F(HannanRissanen, Arma11NearTheTruth) {
  const auto u = arma(0.6, -0.4, 6000, 9);
  int code = -1;
  const auto out = run(u, {1}, {1}, true, &code);
  ASSERT_EQ(code, 0);
  EXPECT_NEAR(out[0], 0.6, 0.06);
  EXPECT_NEAR(out[1], -0.4, 0.08);
  EXPECT_NEAR(out[2], 1.0, 0.08);
  // the conditional method writes no variance
  const auto css = run(u, {1}, {1}, false, &code);
  ASSERT_EQ(code, 0);
  EXPECT_EQ(css[2], -7.0);
  EXPECT_EQ(css[0], out[0]);
}

TEST_F(HannanRissanen, FailuresLeaveTheOutputUntouched) {
  auto u = arma(0.5, 0.3, 300, 4);
  u[150] = std::numeric_limits<double>::quiet_NaN();
  int code = -1;
  auto out = run(u, {1}, {1}, true, &code);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(out, std::vector<double>(3, -7.0));
  // too short for any regression row
  out = run({0.5, 0.1}, {2}, {}, false, &code);
  EXPECT_EQ(code, 1);
}

TEST(FarmafitNames, RecordsAndBounds) {
  std::vector<int> ar = {1, 12}, ma = {3};
  mvtsa::ArmaLags l;
  l.ar = ar.data();
  l.na = 2;
  l.P = 12;
  l.ma = ma.data();
  l.nm = 1;
  l.Q = 3;
  std::vector<unsigned char> rec(5 * mvtsa::kNameRecordBytes, 0xAA);
  mvtsa::farmafit_names(l, true, rec.data());
  const char* expect[] = {"D", "AR1", "AR12", "MA3", "SIGMA"};
  for (int i = 0; i < 5; ++i) {
    const unsigned char* r = rec.data() + i * mvtsa::kNameRecordBytes;
    std::uint16_t len;
    std::memcpy(&len, r, 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 2), len), expect[i]);
    EXPECT_EQ(len, std::strlen(expect[i]));
  }
  std::vector<double> b(6);
  mvtsa::farmafit_bounds(3, b.data());
  EXPECT_EQ(b[0], -0.4999999894632879);
  EXPECT_EQ(b[3], 0.4999999894632879);
  EXPECT_EQ(b[1], -1.7976931348623157e308);
  EXPECT_EQ(b[5], 1.7976931348623157e308);
}

}  // namespace

namespace {

// The reciprocal zeros of z^P - c_1 z^(P-1) - ... - c_P, by the module's root
// finder.
std::vector<std::complex<double>> reciprocal_zeros(const std::vector<double>& c,
                                                   const std::vector<int>& lags) {
  const int P = lags.back();
  std::vector<double> a(P + 1, 0.0), re(P), im(P), work(mvtsa::poly_roots_work_size(P));
  a[0] = 1.0;
  for (std::size_t i = 0; i < c.size(); ++i) a[lags[i]] = -c[i];
  int degree = P;
  EXPECT_EQ(mvtsa::poly_roots(a.data(), &degree, re.data(), im.data(), work.data()), 0);
  std::vector<std::complex<double>> z;
  for (int i = 0; i < degree; ++i) z.emplace_back(re[i], im[i]);
  return z;
}

double largest_modulus(const std::vector<std::complex<double>>& z) {
  double m = 0.0;
  for (auto w : z) m = std::max(m, std::abs(w));
  return m;
}

TEST(ArmaStartInside, ReflectsTheZerosOutsideAndKeepsTheOthers) {
  std::vector<double> work(mvtsa::arma_start_inside_work_size(4));
  // AR(1) 1.839 -> 1 / 1.839
  std::vector<int> one = {1};
  std::vector<double> c = {1.839};
  EXPECT_EQ(mvtsa::arma_start_inside(c.data(), one.data(), 1, 1, work.data()), 1);
  EXPECT_NEAR(c[0], 1 / 1.839, 1e-14);
  // (z - 1.25)(z - 0.5): 1.25 -> 0.8, 0.5 kept: (z - 0.8)(z - 0.5) = z^2 - 1.3 z + 0.4
  std::vector<int> two = {1, 2};
  c = {1.75, -0.625};
  EXPECT_EQ(mvtsa::arma_start_inside(c.data(), two.data(), 2, 2, work.data()), 1);
  EXPECT_NEAR(c[0], 1.3, 1e-13);
  EXPECT_NEAR(c[1], -0.4, 1e-13);
  // a complex pair of modulus 1.1 -> 1 / 1.1 at the same angles; a zero on
  // the circle -> 0.95
  c = {2 * 1.1 * std::cos(0.7), -1.21};
  EXPECT_EQ(mvtsa::arma_start_inside(c.data(), two.data(), 2, 2, work.data()), 1);
  EXPECT_NEAR(c[1], -1 / 1.21, 1e-13);
  EXPECT_NEAR(c[0], 2 / 1.1 * std::cos(0.7), 1e-13);
  c = {1.0};
  EXPECT_EQ(mvtsa::arma_start_inside(c.data(), one.data(), 1, 1, work.data()), 1);
  EXPECT_NEAR(c[0], 0.95, 1e-15);
  // inside already: unchanged, bit for bit
  c = {0.5, 0.3};
  EXPECT_EQ(mvtsa::arma_start_inside(c.data(), two.data(), 2, 2, work.data()), 0);
  EXPECT_EQ(c, (std::vector<double>{0.5, 0.3}));
}

TEST(ArmaStartInside, SubsetLagsAreScaled) {
  std::vector<double> work(mvtsa::arma_start_inside_work_size(4));
  const std::vector<int> lags = {1, 4};
  std::vector<double> c = {0.6, 0.7};  // a zero outside
  ASSERT_GT(largest_modulus(reciprocal_zeros(c, lags)), 1.0);
  const std::vector<double> before = c;
  EXPECT_EQ(mvtsa::arma_start_inside(c.data(), lags.data(), 2, 4, work.data()), 1);
  EXPECT_NEAR(largest_modulus(reciprocal_zeros(c, lags)), 0.95, 1e-12);
  // c_i s^lag with one s: c_4 / c_1 scales as s^3
  const double s = c[0] / before[0];
  EXPECT_NEAR(c[1], before[1] * s * s * s * s, 1e-15);
}

}  // namespace
