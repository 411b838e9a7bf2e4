#include "module/fit/normal_quantile.hpp"

#include <cmath>
#include <limits>

namespace mvtsa {
namespace {

// Newton steps from the approximation: each roughly squares the relative
// error, so three reach rounding; the fourth and fifth change nothing.
constexpr int kQuantileNewtonSteps = 5;
constexpr double kSqrtHalf = 0.70710678118654752440;     // 1 / sqrt(2)
constexpr double kInvSqrtTwoPi = 0.39894228040143267794;  // 1 / sqrt(2 pi)

}  // namespace

double normal_upper_quantile(double alpha) {
  if (!(alpha > 0.0 && alpha < 1.0)) return std::numeric_limits<double>::quiet_NaN();
  if (alpha > 0.5) return -normal_upper_quantile(1.0 - alpha);
  if (alpha == 0.5) return 0.0;
  // Abramowitz and Stegun 26.2.23: t = sqrt(-2 ln alpha),
  // z = t - (c0 + c1 t + c2 t^2) / (1 + d1 t + d2 t^2 + d3 t^3).
  const double t = std::sqrt(-2.0 * std::log(alpha));
  double z = t - (2.515517 + t * (0.802853 + t * 0.010328)) /
                     (1.0 + t * (1.432788 + t * (0.189269 + t * 0.001308)));
  // z <- z + (Q(z) - alpha) / phi(z), Q(z) = erfc(z / sqrt 2) / 2; near the
  // centre (alpha above 1/4, where 1/2 - alpha is exact) in the form
  // z <- z + ((1/2 - alpha) - erf(z / sqrt 2) / 2) / phi(z), whose terms keep
  // their relative accuracy as z goes to 0.
  const bool centre = alpha > 0.25;
  const double half_less = 0.5 - alpha;
  for (int i = 0; i < kQuantileNewtonSteps; ++i) {
    const double density = kInvSqrtTwoPi * std::exp(-0.5 * z * z);
    if (!(density > 0.0)) break;
    const double miss = centre ? half_less - 0.5 * std::erf(z * kSqrtHalf)
                               : 0.5 * std::erfc(z * kSqrtHalf) - alpha;
    z += miss / density;
  }
  return z;
}

}  // namespace mvtsa
