// The first n terms of the convolution of two real sequences of length n by
// real fast Fourier transforms (FFTW3), for the fractional-difference filter;
// and the same cached plans handed out (FftPlans) to the superfast Toeplitz
// route (superfast_toeplitz.hpp).
//
// Plans are made with FFTW_ESTIMATE only, so that the transforms, and with
// them every result, never depend on timing measurements.  They are kept in
// a small cache keyed by the transform length; plan creation and destruction
// are serialised (FFTW's planner is not thread-safe), while executing a
// cached plan on the caller's arrays is.  All arrays transformed are the
// caller's work space.
#pragma once

#include <cstdint>

namespace mvtsa {

// The smallest N >= m of the form 2^k, 3 * 2^k or 5 * 2^k (m >= 1).
std::int64_t fft_nice_length(std::int64_t m);

// The transform length for n terms: the smallest N >= 2n - 1 of the form
// 2^k, 3 * 2^k or 5 * 2^k (so that no term wraps around into the first n).
std::int64_t fft_convolve_length(std::int64_t n);

// Doubles of work space fft_convolve_head needs for n terms: two in-place
// half-complex arrays of N + 2 doubles, and 8 doubles to align them.
std::int64_t fft_convolve_work_size(std::int64_t n);

// out_t = sum_{j=0..t} a_j b_(t-j) for t = 0..n-1 (n >= 1), through
// N-point transforms of a and b zero-padded.  out may be a or b.  Returns
// false, with out untouched, when FFTW makes no plan; the caller then
// convolves directly.  The rounding error of a term is typically of the
// order of 1e-16 sqrt(log2 N) ||a||_2 rms(b).
bool fft_convolve_head(double* out, const double* a, const double* b, std::int64_t n,
                       double* work);

// Doubles of one array transformed in place at length N: N + 2 (N / 2 + 1
// complex values) rounded up to a multiple of 8; and the first 64-byte
// boundary at or after p.  Arrays handed to FftPlans are of this size and
// start on such boundaries (the plans were made for aligned arrays).
std::int64_t fft_array_stride(std::int64_t N);
double* fft_align(double* p);

// The forward (real to half-complex) and the unnormalised inverse transform
// of length N, in place, taken from the convolution's plan cache (the same
// plans, made with FFTW_ESTIMATE) and handed back when the holder goes.
// Executing them on the caller's arrays is thread-safe.
class FftPlans {
 public:
  FftPlans() = default;
  FftPlans(const FftPlans&) = delete;
  FftPlans& operator=(const FftPlans&) = delete;
  ~FftPlans();
  // false when FFTW makes no plan of length N (or N > INT_MAX); buf: one
  // aligned array of fft_array_stride(N) doubles (not written).
  bool acquire(std::int64_t N, double* buf);
  std::int64_t length() const { return length_; }
  // x: fft_array_stride(N) aligned doubles; x[0..N) real in, N / 2 + 1
  // complex values (re, im) out, and back.
  void forward(double* x) const;
  void inverse(double* x) const;

 private:
  void release();
  std::int64_t length_ = 0;
  std::int64_t cached_ = 0;  // the cache's length for the pair, 0 when not cached
  void* fwd_ = nullptr;
  void* inv_ = nullptr;
};

// FFTW's wisdom for the estimated plans of the lengths above up to 2^22,
// made at build time; the first plan of a length from 4096 on takes it
// (where this machine's planner agrees with the build machine's), so that a
// one-off call does not pay for planning.
const char* fft_build_wisdom();

}  // namespace mvtsa
