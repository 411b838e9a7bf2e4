// The quantile function of the standard normal distribution, for prediction
// intervals and confidence bounds.
#pragma once

namespace mvtsa {

// z with Phi(z) = p for 0 < p < 1 (Wichura 1988, algorithm AS 241, PPND16:
// rational approximations with relative error about 1e-16); NaN outside
// (0, 1).  Measured against scipy.special.ndtri (tests/fit/normal_quantile_test.cpp):
// within 1e-15 relative (4 ulps) over p in [1e-300, 1 - 2^-53].
double normal_quantile(double p);

}  // namespace mvtsa
