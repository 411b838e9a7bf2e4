// gamma_eval against the C++ standard library's tgamma, and its failures.
#include <gtest/gtest.h>

#include <cmath>

#include "module/farma/gamma.hpp"

namespace {

double gamma_or_nan(double x, int* status) {
  double v = 0;
  *status = mvtsa::gamma_eval(x, &v);
  return v;
}

// Over (-20, 171), away from the poles by at least 0.01, on a grid that
// passes through both rational forms, the shifts, the reflection and the
// Stirling range.  Largest relative errors found:
//   [0.5, 20):   9.1e-16 (x = 12.29), the rational forms and the shifts;
//   (-20, 0.5):  1.4e-13 (x = -19.988), the rounding of pi x, magnified by
//                sin(pi x) being small next to a pole;
//   [20, 171):   2.4e-13 (x = 166.5), the Stirling logarithm (about 680)
//                carrying an absolute rounding error that exp() turns into
//                a relative one.
TEST(GammaEval, AgreesWithTgammaAwayFromPoles) {
  double worst[3] = {0, 0, 0};
  for (double x = -19.995; x < 171.0; x += 0.00731) {
    const double frac = x - std::floor(x);
    if (x < 0.5 && (frac < 0.01 || frac > 0.99)) continue;
    int st;
    const double v = gamma_or_nan(x, &st);
    ASSERT_EQ(st, 0) << x;
    const double ref = std::tgamma(x);
    const int region = x < 0.5 ? 1 : (x < 20 ? 0 : 2);
    worst[region] = std::fmax(worst[region], std::fabs(v - ref) / std::fabs(ref));
  }
  EXPECT_LT(worst[0], 2e-15);
  EXPECT_LT(worst[1], 2e-13);
  EXPECT_LT(worst[2], 3e-13);
}

TEST(GammaEval, ExactValuesAtIntegersAndHalfIntegers) {
  int st;
  double fact = 1;
  for (int k = 1; k <= 25; ++k) {
    if (k > 1) fact *= (k - 1);
    EXPECT_NEAR(gamma_or_nan(k, &st) / fact, 1.0, 1e-14) << k;
  }
  const double sqrt_pi = 1.7724538509055160273;
  EXPECT_NEAR(gamma_or_nan(0.5, &st), sqrt_pi, 4e-16);
  EXPECT_NEAR(gamma_or_nan(-0.5, &st), -2 * sqrt_pi, 1e-15);
  EXPECT_NEAR(gamma_or_nan(-1.5, &st), 4 * sqrt_pi / 3, 1e-15);
  // The two rational forms meet at 1.5.
  EXPECT_NEAR(gamma_or_nan(1.5, &st), sqrt_pi / 2, 2e-16);
  EXPECT_NEAR(gamma_or_nan(std::nextafter(1.5, 0.0), &st), sqrt_pi / 2, 2e-16);
}

TEST(GammaEval, FailsAtPolesAndOnOverflow) {
  int st;
  for (double x : {0.0, -1.0, -2.0, -7.0, -19.0, -3.0 + 1e-14, -1e-13, 5e-14}) {
    EXPECT_TRUE(std::isnan(gamma_or_nan(x, &st))) << x;
    EXPECT_EQ(st, 1) << x;
  }
  // Just outside the pole band |sin(pi x)| <= 1e-12 the value is finite.
  EXPECT_NEAR(gamma_or_nan(-1e-11, &st) / std::tgamma(-1e-11), 1.0, 1e-12);
  EXPECT_EQ(st, 0);
  // Gamma(171.6) = 1.6e308 still fits; 171.7 overflows.
  EXPECT_NEAR(gamma_or_nan(171.6, &st) / std::tgamma(171.6), 1.0, 1e-12);
  EXPECT_EQ(st, 0);
  for (double x : {171.7, 200.0, 1e300, double(INFINITY), -double(INFINITY), double(NAN)}) {
    EXPECT_TRUE(std::isnan(gamma_or_nan(x, &st))) << x;
    EXPECT_EQ(st, 1) << x;
  }
}

}  // namespace
