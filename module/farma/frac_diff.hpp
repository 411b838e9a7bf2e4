// The fractional-difference filter (1 - B)^d over a finite series, shared by
// FDIF and the ARFIMA likelihood and estimation.
#pragma once

#include <cstdint>

#include "module/frame/status.hpp"  // kStatusGammaFailed

namespace mvtsa {

// From this series length on the filter convolves by FFT, below it by the
// direct sums.  With the plans cached the FFT is the faster from about 16
// values on (bench_fdif: BM_ConvolveDirect against BM_ConvolveFft, 1.5 and
// 0.7 us of CPU at 64), which is what repeated calls at one length (the
// conditional fit) see.  The first call at a new transform length also makes
// its plans, 5 to 18 ms of FFTW_ESTIMATE planning up to 2^17 points; 64
// keeps that off the shortest series.  A constant, so that the route never
// depends on timing.
inline constexpr std::int64_t kFracDiffFftMin = 64;

// Doubles of work space frac_diff_filter needs beside the result: the
// weights w (the first n) and the scratch `work` (the rest): n for the
// reversed series of the direct sums, or the transform arrays from
// kFracDiffFftMin on.
std::int64_t frac_diff_work_size(std::int64_t n);

// out = (1 - B)^d x for a series of n values, the filter truncated at the
// start of the series (values before x_0 count as zero):
//   |d| <= 2^-26.5:      out = x (no value is set missing);
//   |1 - d| <= 2^-26.5:  out_0 = missing, out_t = x_t - x_{t-1};
//   otherwise:           out_0 = missing, out_t = sum_{j=0..t} w_j y_{t-j},
//     with w_0 = 1, w_1 = Gamma(1 - d) / Gamma(-d), w_k = w_{k-1} (k - 1 - d) / k,
//     and y = x; for d <= -0.5, y is the running sum of x and d is raised by 1.
// The sums are formed directly below kFracDiffFftMin values (O(n^2)) and by
// FFT from there on (O(n log n)); for d > 1/2 the FFT convolves the first
// differences of y with the partial sums W_k = w_0 + ... + w_k, which equals
// the sum above, so that a series with a level or a trend keeps the
// accuracy of its differences.
// w holds n doubles and work frac_diff_work_size(n) - n; out must not
// overlap x, w or work.  Returns 0, or 315 when the gamma function fails
// (out then holds no result).
int frac_diff_filter(double* out, double* w, double d, const double* x, std::int64_t n,
                     double* work);

// out_t = sum_{j=0..t} w_j y_{t-j}, t = 1..n-1 (out_0 is not set) for any
// weights w, as frac_diff_filter forms its sums for the exponent d: by FFT
// from kFracDiffFftMin values on (by parts for d > 1/2), else directly.
// work: frac_diff_work_size(n) - n doubles; out may be y.
void frac_diff_convolve(double* out, const double* w, double d, const double* y,
                        std::int64_t n, double* work);

// The binomial weights of (1 - B)^d and their derivatives in d, k = 0..n-1:
//   w_0 = 1, w_k = w_(k-1) (k - 1 - d) / k,
//   v_0 = 0, v_k = dw_k/dd = (v_(k-1) (k - 1 - d) - w_(k-1)) / k,
// that is v_k = -w_k (psi(k - d) - psi(-d)) = w_k sum_{i<k} 1 / (d - i) with
// psi the digamma function, by a recursion that stays finite where d is an
// integer (w_k = 0 from k = d + 1 on, v_k not).
void frac_diff_weights(double d, std::int64_t n, double* w, double* v);
// v alone from given weights w (those frac_diff_filter formed for d).
void frac_diff_weight_derivatives(double d, std::int64_t n, const double* w, double* v);

// The direct sums out_t = sum_{j=0..t} w_j y_{t-j}, t = 1..n-1 (out_0 is not
// set), with rev (n doubles) as scratch; out may be y.
void frac_diff_direct(double* out, const double* w, const double* y, std::int64_t n,
                      double* rev);

}  // namespace mvtsa
