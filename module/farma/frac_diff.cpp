#include "module/farma/frac_diff.hpp"

#include <algorithm>
#include <cmath>

#include "module/blas/blas.hpp"
#include "module/farma/fft_convolve.hpp"
#include "module/farma/gamma.hpp"
#include "module/frame/status.hpp"

namespace mvtsa {
namespace {

// out_t = sum_{j=0..t} w_j y_{t-j}, t = 1..n-1, by FFT: directly for
// d <= 1/2; for d > 1/2 by summation by parts,
//   sum_j w_j y_{t-j} = sum_j W_j z_{t-j} + W_t y_0,
// W_j = w_0 + ... + w_j, z_0 = 0, z_s = y_s - y_{s-1}, so that the transform
// sees the differences rather than the level of y.  work holds w's partial
// sums and the differences (n each) and the transform arrays.  false when no
// FFT plan is available.
bool frac_diff_fft(double* out, const double* w, double d, const double* y, std::int64_t n,
                   double* work) {
  if (!(d > 0.5)) return fft_convolve_head(out, w, y, n, work);
  double* W = work;
  double* z = W + n;
  double s = 0.0;
  for (std::int64_t k = 0; k < n; ++k) W[k] = s += w[k];
  z[0] = 0.0;
  for (std::int64_t t = 1; t < n; ++t) z[t] = y[t] - y[t - 1];
  const double y0 = y[0];
  if (!fft_convolve_head(out, W, z, n, z + n)) return false;
  for (std::int64_t t = 0; t < n; ++t) out[t] += W[t] * y0;
  return true;
}

}  // namespace

std::int64_t frac_diff_work_size(std::int64_t n) {
  if (n < kFracDiffFftMin) return 2 * n;
  return 3 * n + fft_convolve_work_size(n);
}

void frac_diff_direct(double* out, const double* w, const double* y, std::int64_t n,
                      double* rev) {
  // The series reversed, so that each output is one contiguous dot product:
  // sum_{j=0..t} w_j y_{t-j} = w[0..t] . rev[n-1-t .. n-1].
  for (std::int64_t t = 0; t < n; ++t) rev[n - 1 - t] = y[t];
  for (std::int64_t t = 1; t < n; ++t)
    out[t] = blas_ddot(static_cast<int>(t + 1), w, rev + (n - 1 - t));
}

int frac_diff_filter(double* out, double* w, double d, const double* x, std::int64_t n,
                     double* work) {
  if (n < 1) return 0;
  // |d| within 2^-26.5 of 0: no differencing.
  if (std::fabs(d) <= kCloseTol) {
    std::copy_n(x, n, out);
    return 0;
  }
  // d within 2^-26.5 of 1: the first difference.
  if (std::fabs(1.0 - d) <= kCloseTol) {
    out[0] = missing_value();
    for (std::int64_t t = 1; t < n; ++t) out[t] = x[t] - x[t - 1];
    return 0;
  }
  // (1 - B)^d = (1 - B)^(d + 1) (1 - B)^-1 for d <= -0.5: sum once, then
  // difference with d + 1 in (0, 0.5].
  const double* y = x;
  if (d <= -0.5) {
    double sum = 0.0;
    for (std::int64_t t = 0; t < n; ++t) out[t] = sum += x[t];
    y = out;
    d += 1.0;
  }
  // Binomial weights of (1 - B)^d = sum_k w_k B^k.
  double g_num, g_den;
  if (gamma_eval(1.0 - d, &g_num) != 0 || gamma_eval(-d, &g_den) != 0)
    return kStatusGammaFailed;
  w[0] = 1.0;
  if (n > 1) w[1] = g_num / g_den;  // = -d
  for (std::int64_t k = 2; k < n; ++k) w[k] = w[k - 1] * (double(k) - 1.0 - d) / double(k);
  // The filter, truncated at the start of the series.
  frac_diff_convolve(out, w, d, y, n, work);
  out[0] = missing_value();
  return 0;
}

void frac_diff_convolve(double* out, const double* w, double d, const double* y,
                        std::int64_t n, double* work) {
  if (n < kFracDiffFftMin || !frac_diff_fft(out, w, d, y, n, work))
    frac_diff_direct(out, w, y, n, work);
}

void frac_diff_weight_derivatives(double d, std::int64_t n, const double* w, double* v) {
  if (n < 1) return;
  v[0] = 0.0;
  for (std::int64_t k = 1; k < n; ++k)
    v[k] = (v[k - 1] * (double(k) - 1.0 - d) - w[k - 1]) / double(k);
}

void frac_diff_weights(double d, std::int64_t n, double* w, double* v) {
  if (n < 1) return;
  w[0] = 1.0;
  v[0] = 0.0;
  for (std::int64_t k = 1; k < n; ++k) {
    const double kd = double(k) - 1.0 - d;
    w[k] = w[k - 1] * kd / double(k);
    v[k] = (v[k - 1] * kd - w[k - 1]) / double(k);
  }
}

}  // namespace mvtsa
