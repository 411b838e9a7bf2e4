#include "module/farma/frac_diff.hpp"

#include <algorithm>
#include <cmath>

#include "module/blas/blas.hpp"
#include "module/farma/gamma.hpp"
#include "module/frame/status.hpp"

namespace mvtsa {

int frac_diff_filter(double* out, double* w, double d, const double* x, std::int64_t n,
                     double* work) {
  if (n < 1) return 0;
  // 1. No differencing.
  if (std::fabs(d) <= kCloseTol) {
    std::copy_n(x, n, out);
    return 0;
  }
  // 2. The first difference.
  if (std::fabs(1.0 - d) <= kCloseTol) {
    out[0] = missing_value();
    for (std::int64_t t = 1; t < n; ++t) out[t] = x[t] - x[t - 1];
    return 0;
  }
  // 3. (1 - B)^d = (1 - B)^(d + 1) (1 - B)^-1 for d <= -0.5: sum once, then
  //    difference with d + 1 in (0, 0.5].
  const double* y = x;
  if (d <= -0.5) {
    double sum = 0.0;
    for (std::int64_t t = 0; t < n; ++t) out[t] = sum += x[t];
    y = out;
    d += 1.0;
  }
  // 4. The series reversed into work, so that each output is one contiguous
  //    dot product: sum_{j=0..t} w_j y_{t-j} = w[0..t] . rev[n-1-t .. n-1].
  for (std::int64_t t = 0; t < n; ++t) work[n - 1 - t] = y[t];
  // 5. Binomial weights of (1 - B)^d = sum_k w_k B^k.
  double g_num, g_den;
  if (gamma_eval(1.0 - d, &g_num) != 0 || gamma_eval(-d, &g_den) != 0)
    return kStatusGammaFailed;
  w[0] = 1.0;
  if (n > 1) w[1] = g_num / g_den;  // = -d
  for (std::int64_t k = 2; k < n; ++k) w[k] = w[k - 1] * (double(k) - 1.0 - d) / double(k);
  // 6. The filter, truncated at the start of the series.
  out[0] = missing_value();
  for (std::int64_t t = 1; t < n; ++t)
    out[t] = blas_ddot(static_cast<int>(t + 1), w, work + (n - 1 - t));
  return 0;
}

}  // namespace mvtsa
