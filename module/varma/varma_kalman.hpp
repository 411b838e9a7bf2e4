// Exact Gaussian log-likelihood of a VARMA model by the Kalman filter on a
// state-space form, and the small dense helpers the VARMA likelihoods share.
//
// Model (mean zero, k variables):
//   Y(t) - sum_l Phi_l Y(t-l) = e(t) - sum_j Theta_j e(t-j),   e(t) ~ N(0, Sigma)
#pragma once

#include <cstdint>

namespace mvtsa {

// Pivot tolerance of the state-space filter: the stationary-covariance
// solve, the generalized inverse of F and the eigenvalue check of P(1).
inline constexpr double kFilterTol = 1e-10;
// Diagonal of P(1) when the stationary covariance cannot be found.
inline constexpr double kFallbackVariance = 1e6;
// A scaled LU pivot below 2^-44 stops the factorisation (determinant status).
inline constexpr double kLuScaledPivotTol = 5.684341886080804e-14;

// Determinant of the row-major n x n matrix `a` (overwritten by its LU
// factors) by Gaussian elimination with scaled partial pivoting: each row is
// scaled by the reciprocal of its largest absolute element when the pivot is
// chosen.  `scale` holds n doubles of work.  *det receives the product of the
// pivots with the sign of the row exchanges.  Returns the status of the
// factorisation: 0; 2 when a scaled pivot before the last is below 2^-44; 3
// when the last one is; 1 when a row is entirely zero (then *det = 0).  The
// elimination goes on past a small nonzero pivot, so *det is always the
// product of the pivots actually met.
int lu_determinant(double* a, int n, double* scale, double* det);

// log(max(det, floor)) for the determinant `det` that lu_determinant returned
// with the factors it left in `lu`.  A product of pivots that overflowed
// (det = +inf, as for a covariance of 1e300 I) is replaced by the sum of the
// logarithms of the pivots, so the log-determinant stays finite; otherwise the
// value is log(max(det, floor)) itself.
double floored_log_det(const double* lu, int n, double det, double floor);

// log-likelihood of the k-variate VARMA model for the T x k series (row
// major; a row holding a missing value, or an element above 2^506 in
// magnitude, is treated as missing) by the Kalman filter.
//
//   ar: ar_count compact k x k blocks, block i the coefficient at lag
//       ar_lags[i] (ascending, 1 .. pmax); ar_lags null means lags 1 .. ar_count.
//   ma: likewise with ma_count, qmax, ma_lags.
//   sigma_packed: the innovation covariance, packed lower triangle.
//
// Fills *loglik = -(D + S)/2, *logdet = D (sum of log max(det F(t), 2^-26.5))
// and *quad = S (sum of v(t)' F(t)^-1 v(t)); the constant -(T k/2) log(2 pi)
// is not included.
//
// Uses the host: a memory pool for the filter's arrays, four utility files for
// the filter output, and the host's sweep operation.  Returns 0; 1 after a
// host error (allocation); 100 after message 178 (a singular F(t)) or after
// error_code_report (a utility file operation failed), or without a message
// when the filter covariance diverges; otherwise the determinant status
// (lu_determinant) of the last F(T), with the three values filled.  Sizes or
// pointers that cannot describe a model (k < 1, a negative count) give 11.
int varma_kalman_loglik(double* loglik, double* logdet, double* quad, const double* series,
                        std::int64_t T, int k, const double* ar, int ar_count, int pmax,
                        const int* ar_lags, const double* ma, int ma_count, int qmax,
                        const int* ma_lags, const double* sigma_packed);

}  // namespace mvtsa
