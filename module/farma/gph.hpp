// The log-periodogram (GPH) starting value of d for FARMAFIT.
#pragma once

#include <cstdint>

namespace mvtsa {

// d0 when the transform of the series fails (or the regression is empty).
inline constexpr double kGphFallback = 0.001;

// Doubles of work space for gph_start: the transform's real and imaginary
// arrays and its own work space.
inline std::int64_t gph_work_size(std::int64_t n) { return 4 * n; }

// d0 from the regression of the log periodogram on the log of the spectral
// factor 4 sin^2(lambda_j / 2) over the Fourier frequencies lambda_j =
// 2 pi j / n, j = 1 .. floor(n / 2):
//   I_j = (2 / n)(a_j^2 + b_j^2)    from the transform a + i b of y,
//   Y_j = ln I_j (ln mean(I) when I_j <= 2^-26.5 mean(I): a floor in the
//         units of the series, so d0 does not depend on them),
//   X_j = ln(4 sin^2(pi j / n)),
//   X, Y centred by their means,    d0 = -sum X_j Y_j / sum X_j^2.
// No mean is removed from y and d0 is not clamped.  0.001 when the
// mixed-radix transform fails (n < 2, a prime factor above 23, a square-free
// part above 209) or when the regressor does not vary (n < 4).
double gph_start(const double* y, std::int64_t n, double* work);

}  // namespace mvtsa
