// The VARMA log-likelihood of varma_kalman_loglik (varma_kalman.hpp) for the
// fit's objective: the same filter (kalman_filter) and the same sums
// (kalman_step_loglik), formed in the one pass over the series instead of
// from utility files, in work space the fit takes once (no pool, no utility
// file, no allocation per evaluation).  The two give the same three values
// to the last bit.
//
// Model (mean zero, k variables):
//   Y(t) - sum_l Phi_l Y(t-l) = e(t) - sum_j Theta_j e(t-j),   e(t) ~ N(0, Sigma)
#pragma once

#include <cstdint>

namespace mvtsa {

// Doubles of work space for k variables and m = max(pmax, qmax + 1) blocks;
// 0 when the sizes cannot be represented.
std::uint64_t varmafit_kalman_work_size(int k, int pmax, int qmax);

// log-likelihood (without -(T k / 2) log 2 pi) of the T x k series (row
// major; a row with a missing value or an element above 2^512 / 100 in magnitude
// is missing) with AR blocks at ar_lags (ascending, largest pmax) and MA
// blocks at ma_lags (largest qmax); lag lists are required.  Fills
// out[0] = -(D + S) / 2, out[1] = D, out[2] = S and returns the determinant
// status (lu_solve) of the last F(t), as varma_kalman_loglik does; or
// kKalmanSingular (F(t) could not be inverted) or kKalmanDiverged (P(t)
// reached 2^512 or NaN), with out not filled.
int varmafit_kalman_loglik(double out[3], const double* series, std::int64_t T, int k,
                           const double* ar, int ar_count, int pmax, const int* ar_lags,
                           const double* ma, int ma_count, int qmax, const int* ma_lags,
                           const double* sigma_packed, double* work);

}  // namespace mvtsa
