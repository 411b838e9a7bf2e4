// lag_gcd and append_gth_roots: gcds of lag sets, and the g-th roots checked
// by raising them back to the g-th power, with the structure the callers
// rely on (real roots exactly real, pairs exactly conjugate and adjacent).
#include "module/linalg/lag_gcd.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <vector>

namespace {

using mvtsa::append_gth_roots;
using mvtsa::lag_gcd;

TEST(LagGcd, RunningGcdOverLags) {
  auto over = [](std::vector<int> lags) {
    int g = 0;
    for (int l : lags) g = lag_gcd(l, g);
    return g;
  };
  EXPECT_EQ(over({12}), 12);
  EXPECT_EQ(over({4, 8, 12}), 4);
  EXPECT_EQ(over({6, 9}), 3);
  EXPECT_EQ(over({3, 9, 4}), 1);
  EXPECT_EQ(over({2147483646, 1073741823}), 1073741823);
  EXPECT_EQ(lag_gcd(0, 0), 0);
  EXPECT_EQ(lag_gcd(7, 0), 7);
}

struct Roots {
  std::vector<double> re, im;
  std::int64_t at = 0;
};

// The roots of z^g = w (and of its conjugate with `pair`), placed after a
// guard element that must stay untouched.
Roots roots_of(double wre, double wim, bool pair, int g) {
  Roots r;
  const std::size_t n = std::size_t(pair ? 2 * g : g) + 2;
  r.re.assign(n, -7.0);
  r.im.assign(n, -7.0);
  r.at = 1;
  append_gth_roots(wre, wim, pair, g, r.re.data(), r.im.data(), &r.at);
  return r;
}

// Every root raised to the g-th power gives w (or conj w for the second of a
// pair) to 16 g ulps of |w|: rho and the angle (theta + 2 pi j) / g, up to
// 2 pi, carry a few ulps that the g-th power multiplies by g.  Real w gives
// exactly real roots and exactly conjugate pairs, positive imaginary part
// first.
void expect_roots(double wre, double wim, bool pair, int g) {
  SCOPED_TRACE(testing::Message() << "w = " << wre << " + " << wim << "i, g = " << g
                                  << (pair ? ", paired" : ""));
  const Roots r = roots_of(wre, wim, pair, g);
  const std::int64_t count = pair ? 2 * g : g;
  ASSERT_EQ(r.at, 1 + count);
  EXPECT_EQ(r.re[0], -7.0);
  EXPECT_EQ(r.re[std::size_t(count) + 1], -7.0);
  const std::complex<double> w(wre, wim);
  const double tol = 16.0 * g * 0x1p-52 * std::abs(w);
  int upper = 0, lower = 0;
  for (std::int64_t i = 1; i <= count; ++i) {
    const std::complex<double> z(r.re[i], r.im[i]);
    const std::complex<double> zg = std::pow(z, g);
    const double err = std::min(std::abs(zg - w), std::abs(zg - std::conj(w)));
    EXPECT_LE(err, tol) << "root " << i;
    if (r.im[i] > 0) ++upper;
    if (r.im[i] < 0) {
      ++lower;
      if (wim == 0.0 || pair) {
        ASSERT_GT(i, 1);
        EXPECT_EQ(r.re[i - 1], r.re[i]);
        EXPECT_EQ(r.im[i - 1], -r.im[i]);
      }
    }
  }
  if (wim == 0.0 || pair) {
    EXPECT_EQ(upper, lower);
  }
}

TEST(GthRoots, PowersGiveBackW) {
  for (int g : {2, 3, 4, 5, 12}) {
    expect_roots(0.81, 0.0, false, g);    // real positive
    expect_roots(-0.3, 0.0, false, g);    // real negative
    expect_roots(0.2, 0.45, true, g);     // a pair
    expect_roots(-1.5, 0.25, true, g);
    expect_roots(0.6, -0.1, false, g);    // complex without its conjugate
  }
}

TEST(GthRoots, RealValuesGiveExactlyRealRoots) {
  // 16 = 2^4: roots 2, 2i, -2i, -2 for g = 4, the real ones exact.
  Roots r = roots_of(16.0, 0.0, false, 4);
  EXPECT_EQ(r.re[1], 2.0);
  EXPECT_EQ(r.im[1], 0.0);
  EXPECT_EQ(r.im[4], 0.0);
  EXPECT_EQ(r.re[4], -2.0);
  // -8, g = 3: the real root -2 comes last, after the pair at angle pi/3.
  r = roots_of(-8.0, 0.0, false, 3);
  EXPECT_EQ(r.re[3], -2.0);
  EXPECT_EQ(r.im[3], 0.0);
  EXPECT_NEAR(r.re[1], 1.0, 1e-15);
  EXPECT_GT(r.im[1], 0.0);
}

TEST(GthRoots, OrderOneAndZero) {
  // g = 1 copies w exactly (its conjugate after it with `pair`).
  Roots r = roots_of(0.3, 0.7, true, 1);
  EXPECT_EQ(r.re[1], 0.3);
  EXPECT_EQ(r.im[1], 0.7);
  EXPECT_EQ(r.re[2], 0.3);
  EXPECT_EQ(r.im[2], -0.7);
  // w = 0: g zeros
  r = roots_of(0.0, 0.0, false, 3);
  EXPECT_EQ(r.at, 4);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(r.re[i] == 0.0 && r.im[i] == 0.0, true) << i;
}

}  // namespace
