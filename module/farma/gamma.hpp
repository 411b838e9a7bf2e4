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
//            + (1/12 - t/360 + t^2/1260 - t^3/1680) / a,  t = 1/a^2
//            (the asymptotic series through its a^-7 term, the coefficients
//            B_2k / (2k (2k - 1)) of the Bernoulli numbers);
//   a < 20:  shift a into [1, 2] by Gamma(a + 1) = a Gamma(a), then one of two
//            rational forms centred on 1 and on 2: Gamma(1 + z) and
//            Gamma(2 + z) as 1 + z N(z) / D(z), N of degree 5 and D of degree
//            7 (not a Lanczos sum; not Pade approximants either: they fit the
//            function over the interval rather than its Taylor series at the
//            centre).  Where they were fitted is not recorded; evaluated in
//            40-digit arithmetic with their double coefficients, their own
//            relative error is below 8e-18 on [1, 1.5) and 4e-18 on
//            [1.5, 2], so that double rounding decides the accuracy.
// Largest relative errors against std::tgamma, 0.01 or more from the poles
// (tests/fdif/gamma_test.cpp): 9.1e-16 on [0.5, 20), 1.4e-13 on (-20, 0.5)
// (the rounding of pi x next to a pole), 2.4e-13 on [20, 171) (the rounding
// of the logarithm, about 680, carried through exp).
int gamma_eval(double x, double* value);

// The digamma function psi(x) = Gamma'(x) / Gamma(x), for the derivatives
// of the ARFIMA autocovariances and fractional weights in d:
//   x < 1/2:  reflection psi(x) = psi(1 - x) - pi / tan(pi x), the tangent of
//             x less its nearest integer;
//   x < 16:   psi(x) = psi(x + k) - sum_{i<k} 1 / (x + i) up to x + k >= 16;
//   x >= 16:  the asymptotic series ln x - 1/(2x) - sum_k B_2k / (2k x^2k)
//             through k = 6 (the first term left out is below 1e-16 there).
// NaN at the poles (0 and the negative integers) and for NaN.  Tested
// (tests/farma/gamma_test.cpp) against psi(1) and psi(1/2) to 1e-15, the
// recurrence psi(x + 1) = psi(x) + 1/x to 4e-15 on (-5, 50) 0.01 or more
// from a pole, and central differences of std::lgamma to 1e-8.
double digamma(double x);

}  // namespace mvtsa
