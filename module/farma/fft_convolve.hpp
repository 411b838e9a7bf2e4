// The first n terms of the convolution of two real sequences of length n by
// real fast Fourier transforms (FFTW3), for the fractional-difference filter.
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

// FFTW's wisdom for the estimated plans of the lengths above up to 2^22,
// made at build time; the first plan of a length from 4096 on takes it
// (where this machine's planner agrees with the build machine's), so that a
// one-off call does not pay for planning.
const char* fft_build_wisdom();

}  // namespace mvtsa
