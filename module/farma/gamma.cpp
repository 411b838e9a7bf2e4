#include "module/farma/gamma.hpp"

#include <cmath>
#include <limits>

namespace mvtsa {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kLogSqrtTwoPi = 0.9189385332046728;  // ln sqrt(2 pi)
constexpr double kStirlingFrom = 20.0;
// The digamma function's asymptotic series is used from here on.
constexpr double kDigammaAsymptoticFrom = 16.0;

// The rational forms of gamma.hpp, coefficients from the constant term up;
// N1(0) = Gamma'(1) = -0.5772156649015329 (minus Euler's constant) and
// N2(0) = Gamma'(2) = 1 - Euler's constant.
// Gamma(1 + z) = 1 + z N1(z) / D1(z) for z = a - 1 in [0, 0.5).
constexpr double kN1[6] = {-0.5772156649015329,  0.25472591714733017,  0.3098460568601646,
                           0.017528892500123194, -0.007510271533842285, 0.002625070040437531};
constexpr double kD1[8] = {1.0,
                           1.2721936060171066,
                           0.07093636364673782,
                           -0.20811952170101305,
                           0.007359937308245615,
                           0.012161691626495507,
                           -0.0019925700585908582,
                           6.856025300447944e-05};
// Gamma(2 + z) = 1 + z N2(z) / D2(z) for z = a - 2 in [-0.5, 0].
constexpr double kN2[6] = {0.42278433509846713,  0.6538471125765124,    0.24766843010599837,
                           0.019387015799639237, 0.004928316425130836, 0.0021469534024007183};
constexpr double kD2[8] = {1.0,
                           0.5724118943378274,
                           -0.16474307835695642,
                           -0.0797327318216399,
                           0.021218073289239688,
                           0.002705006167117301,
                           -0.001184778421571799,
                           8.768061728710059e-05};

// c[0] + c[1] z + ... + c[m-1] z^(m-1) by Horner's rule.
template <int M>
double poly(const double (&c)[M], double z) {
  double r = c[M - 1];
  for (int i = M - 2; i >= 0; --i) r = r * z + c[i];
  return r;
}

int fail(double* value) {
  *value = std::numeric_limits<double>::quiet_NaN();
  return 1;
}

}  // namespace

int gamma_eval(double x, double* value) {
  // A NaN would otherwise slip through every comparison below.
  if (std::isnan(x)) return fail(value);
  double a = x >= 0.5 ? x : 1.0 - x;
  double g;
  if (a >= kStirlingFrom) {
    const double t = 1.0 / (a * a);
    const double series = (0.08333333333333333 - 0.002777777777777778 * t +
                           0.0007936507936507937 * t * t - 0.0005952380952380953 * t * t * t) /
                          a;
    const double log_g = kLogSqrtTwoPi - a + (a - 0.5) * std::log(a) + series;
    // Written so that an infinite argument (log_g NaN) fails too.
    if (!(log_g < kGammaLogLimit)) return fail(value);
    g = std::exp(log_g);
  } else {
    g = 1.0;
    while (a < 1.0) {
      g /= a;
      a += 1.0;
    }
    while (a > 2.0) {
      a -= 1.0;
      g *= a;
    }
    if (a >= 1.5) {
      const double z = a - 2.0;
      g *= 1.0 + z * poly(kN2, z) / poly(kD2, z);
    } else {
      const double z = a - 1.0;
      g *= 1.0 + z * poly(kN1, z) / poly(kD1, z);
    }
  }
  if (x >= 0.5) {
    *value = g;
    return 0;
  }
  const double s = std::sin(kPi * x);
  if (!(std::fabs(s) > kGammaPoleTol)) return fail(value);
  *value = kPi / (s * g);
  return 0;
}

double digamma(double x) {
  if (std::isnan(x)) return x;
  if (x < 0.5) {
    const double f = x - std::nearbyint(x);  // tan(pi x) = tan(pi f)
    if (f == 0.0) return std::numeric_limits<double>::quiet_NaN();
    return digamma(1.0 - x) - kPi / std::tan(kPi * f);
  }
  double shift = 0.0;
  for (; x < kDigammaAsymptoticFrom; x += 1.0) shift -= 1.0 / x;
  // B_2k / (2k) for k = 1..6: 1/12, -1/120, 1/252, -1/240, 1/132, -691/32760.
  const double t = 1.0 / (x * x);
  const double series =
      t * (1.0 / 12 -
           t * (1.0 / 120 - t * (1.0 / 252 - t * (1.0 / 240 - t * (1.0 / 132 - t * (691.0 / 32760))))));
  return shift + std::log(x) - 0.5 / x - series;
}

}  // namespace mvtsa
