// The VARMA log-likelihood of varma_kalman_loglik (varma_kalman.hpp) for the
// fit's objective: the same state-space form, filter and sums, in one pass
// over the series, in work space the fit takes once (no pool, no utility
// files, no allocation per evaluation).
//
// Model (mean zero, k variables):
//   Y(t) - sum_l Phi_l Y(t-l) = e(t) - sum_j Theta_j e(t-j),   e(t) ~ N(0, Sigma)
// State-space form with m = max(pmax, qmax + 1) blocks, f = k m:
//   state(t+1) = T state(t) + R e(t+1),   Y(t) = Z state(t),   Z = [I 0 ... 0].
//
// P(1), the stationary covariance P = T P T' + Q:
//   f <= kVarmafitDenseStationaryMax: the dense (I - T (x) T) vec P = vec Q
//     solve of varma_kalman_loglik, with its fallbacks (a pivot below 1e-10,
//     or a solution with an eigenvalue below -1e-10 times the largest:
//     P(1) = 1e6 I), so the two likelihoods agree to the last bit;
//   larger f: the doubling iteration P <- P + A P A', A <- A A from P = Q,
//     A = T, which sums T^j Q T'^j in O(f^3) per step, until |A|_F^2 is at
//     most 2^-56; when that takes more than kVarmafitMaxDoublings steps (a
//     root on or outside the unit circle, or within about 1e-9 of it),
//     P(1) = 1e6 I.  Where the dense solve succeeds both give the same P to
//     about 1e-12 relative (tested); near or past the unit circle the dense
//     solve can accept a solution the doubling does not reach.
#pragma once

#include <cstdint>

namespace mvtsa {

// Largest state dimension f = k m whose stationary covariance is found by
// the dense f^2 x f^2 solve (its work grows as f^4, its time as f^6).
inline constexpr int kVarmafitDenseStationaryMax = 12;
inline constexpr int kVarmafitMaxDoublings = 40;

// What varmafit_kalman_loglik returns besides 0 and the determinant status
// (1, 2 or 3, with the values filled) of the last F(t), as in
// varma_kalman_loglik.
inline constexpr int kVarmafitFilterSingular = 178;  // F(t) could not be inverted
inline constexpr int kVarmafitFilterDiverged = -1;   // P(t) reached 2^512 or NaN

// Doubles of work space for k variables, m = max(pmax, qmax + 1) blocks and
// ar_count AR blocks; 0 when the sizes overflow 64 bits.
std::uint64_t varmafit_kalman_work_size(int k, int pmax, int qmax);

// log-likelihood (without -(T k / 2) log 2 pi) of the T x k series (row
// major; a row with a missing value or an element above 2^512 / 100 in magnitude
// is missing) with AR blocks at ar_lags (ascending, largest pmax) and MA
// blocks at ma_lags (largest qmax); lag lists are required.  Fills
// out[0] = -(D + S) / 2, out[1] = D, out[2] = S.
int varmafit_kalman_loglik(double out[3], const double* series, std::int64_t T, int k,
                           const double* ar, int ar_count, int pmax, const int* ar_lags,
                           const double* ma, int ma_count, int qmax, const int* ma_lags,
                           const double* sigma_packed, double* work);

}  // namespace mvtsa
