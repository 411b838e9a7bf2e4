// The fractional-difference filter (1 - B)^d over a finite series, shared by
// FDIF and the ARFIMA likelihood and estimation.
#pragma once

#include <cstdint>

namespace mvtsa {

// Status of frac_diff_filter when the gamma function fails for w_1.
inline constexpr int kStatusGammaFailed = 315;
inline constexpr int kMsgGammaFailed = 315;

// Doubles of work space frac_diff_filter needs beside the result: the
// weights w (n) and the scratch copy of the series (n).
inline std::int64_t frac_diff_work_size(std::int64_t n) { return 2 * n; }

// out = (1 - B)^d x for a series of n values, the filter truncated at the
// start of the series (values before x_0 count as zero):
//   |d| <= 2^-26.5:      out = x (no value is set missing);
//   |1 - d| <= 2^-26.5:  out_0 = missing, out_t = x_t - x_{t-1};
//   otherwise:           out_0 = missing, out_t = sum_{j=0..t} w_j y_{t-j},
//     with w_0 = 1, w_1 = Gamma(1 - d) / Gamma(-d), w_k = w_{k-1} (k - 1 - d) / k,
//     and y = x; for d <= -0.5, y is the running sum of x and d is raised by 1.
// w and work are n doubles of scratch each; out must not overlap x, w or
// work.  Returns 0, or 315 when the gamma function fails (out then holds
// no result).  The direct filter takes O(n^2) operations.
int frac_diff_filter(double* out, double* w, double d, const double* x, std::int64_t n,
                     double* work);

}  // namespace mvtsa
