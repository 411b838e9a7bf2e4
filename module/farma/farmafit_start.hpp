// Starting values of the ARMA part of FARMAFIT by the two-stage
// Hannan-Rissanen procedure on the fractionally differenced series.
#pragma once

#include <cstdint>

namespace mvtsa {

// The lags of the ARMA part: na AR lags (ascending, largest P) and nm MA lags
// (largest Q).
struct ArmaLags {
  const int* ar = nullptr;
  int na = 0;
  int P = 0;
  const int* ma = nullptr;
  int nm = 0;
  int Q = 0;
};

// Doubles of work space for hannan_rissanen_start on a series of length n.
std::uint64_t hannan_rissanen_work_size(std::int64_t n, const ArmaLags& lags);

// Fills out[0 .. na-1] with the AR and out[na .. na+nm-1] with the MA
// starting values, and out[na + nm] with sigma^2 when `exact`:
//  1. (Q > 0 only) long autoregressions of orders k = max(1, P) .. P + Q on
//     t = k .. n-1, each by the packed cross-product matrix of (regressors,
//     response) and a sweep of the k regressor pivots (tolerance 2^-26.5
//     times the diagonal); the order h with the least
//     C_k = ln(S_k / n) + 2k / (n - k) (the lowest on ties) gives the
//     residuals e_t = u_t - sum_i c_i u_(t-i), t >= h;
//  2. the regression of u_t on u_(t-l) (AR lags) and -e_(t-l) (MA lags)
//     over t = Q + max(P, h) .. n-1 (h = 0 when Q = 0); for the exact method
//     sigma^2 = S / (n - Q - max(P, h)).
// Uses the host's sweep operation.  Returns 0, or 1 when a regression row
// holds a missing value or a regression has no rows; `out` is then
// unchanged.  A floating-point fault in the accumulation fails the routine
// too (and is cleared).
int hannan_rissanen_start(const double* u, std::int64_t n, const ArmaLags& lags, bool exact,
                          double* out, double* work);

// Doubles of work space for arma_start_inside with the largest lag `order`.
std::uint64_t arma_start_inside_work_size(int order);

// Moves the starting coefficients c of 1 - sum_i c_i z^(lags_i) (count
// coefficients, largest lag `order`) into the region where that polynomial
// has every zero outside the unit circle.  In terms of the reciprocal zeros
// w (the zeros of z^order - sum_i c_i z^(order - lags_i)): nothing changes
// when every |w| < 1; otherwise, with contiguous lags, each w with |w| >= 1
// is reflected to w / |w|^2 with its modulus capped at 0.95 and the
// polynomial rebuilt from the zeros; with a subset of lags, c_i becomes
// c_i s^(lags_i), s = 0.95 / max |w|, which scales every w by s.  Returns 1
// when the coefficients changed, 0 when they were inside already, -1 when
// the zeros could not be found (c unchanged).
int arma_start_inside(double* c, const int* lags, int count, int order, double* work);

}  // namespace mvtsa
