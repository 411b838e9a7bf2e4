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

// digamma against its closed forms psi(1) = -Euler's constant,
// psi(1/2) = -Euler's constant - 2 ln 2, psi(x + 1) = psi(x) + 1/x (each
// side computed on its own, across the reflection and the shifts), and
// central differences of std::lgamma (step 1e-5, 0.1 or more
// from a pole); NaN at the poles.
TEST(Digamma, ClosedFormsRecurrenceAndLgamma) {
  const double euler = 0.57721566490153286;
  EXPECT_NEAR(mvtsa::digamma(1.0), -euler, 1e-15);
  EXPECT_NEAR(mvtsa::digamma(0.5), -euler - 2.0 * std::log(2.0), 2e-15);
  double worst = 0.0;
  for (double x = -4.995; x < 50.0; x += 0.0317) {
    const double frac = x - std::floor(x);
    if (x < 0.5 && (frac < 0.01 || frac > 0.99)) continue;
    const double psi = mvtsa::digamma(x);
    // the recurrence, with psi(x + 1) computed on its own
    const double next = mvtsa::digamma(x + 1.0);
    EXPECT_NEAR(next, psi + 1.0 / x, 4e-15 * (std::fabs(next) + std::fabs(1.0 / x))) << x;
    // the differences' own error h^2 psi''(x) / 6 grows as 1 / frac^3 at a pole
    if (x < 0.5 && (frac < 0.1 || frac > 0.9)) continue;
    const double h = 1e-5;
    const double diff = (std::lgamma(x + h) - std::lgamma(x - h)) / (2 * h);
    worst = std::fmax(worst, std::fabs(psi - diff) / std::fmax(std::fabs(psi), 1.0));
  }
  EXPECT_LT(worst, 1e-8);
  EXPECT_TRUE(std::isnan(mvtsa::digamma(0.0)));
  EXPECT_TRUE(std::isnan(mvtsa::digamma(-3.0)));
  EXPECT_TRUE(std::isnan(mvtsa::digamma(std::nan(""))));
}

}  // namespace
