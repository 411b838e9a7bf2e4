// The standard normal distribution's upper quantile, for the prediction
// intervals and the Wald intervals of both families.
#pragma once

namespace mvtsa {

// z with P(Z > z) = alpha for Z ~ N(0, 1), 0 < alpha < 1 (NaN otherwise):
// the Abramowitz-Stegun 26.2.23 approximation (error below 4.5e-4) refined
// by Newton's method on Q(z) = erfc(z / sqrt 2) / 2, whose tail is computed
// without cancellation (on erf(z / sqrt 2) / 2 = 1/2 - alpha near the
// centre); alpha > 1/2 by symmetry.  Within 4 ulps of the
// tabulated quantiles (tests/fit/normal_quantile_test.cpp).
double normal_upper_quantile(double alpha);

}  // namespace mvtsa
