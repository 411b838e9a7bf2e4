// The gamma function with a failure flag, shared by fractional differencing,
// the ARFIMA autocovariances and ARFIMA simulation.
#pragma once

namespace mvtsa {

// The value above which ln Gamma(a) would overflow a double: ln(DBL_MAX).
inline constexpr double kGammaLogLimit = 709.782712893384;
// |sin(pi x)| at or below this counts as a pole of Gamma(x) for x < 0.5.
inline constexpr double kGammaPoleTol = 1e-12;

// Gamma(x).  Returns 0 with the value in *value, or 1 (overflow, x too close
// to a pole, or x not a number) with a NaN in *value.
//
//   x < 0.5: reflection  Gamma(x) = pi / (sin(pi x) Gamma(1 - x));
//   a >= 20: Stirling series  ln Gamma(a) = ln sqrt(2 pi) - a + (a - 1/2) ln a
//            + (1/12 - t/360 + t^2/1260 - t^3/1680) / a,  t = 1/a^2;
//   a < 20:  shift a into [1, 2] by Gamma(a + 1) = a Gamma(a), then one of two
//            rational forms centred on 1 and on 2.
int gamma_eval(double x, double* value);

}  // namespace mvtsa
