// One-step innovations of a VARMA model and their standardised form, from
// the Kalman filter that the exact likelihood runs (varma_kalman.hpp).
//
// Model (k variables, mean zero: the caller subtracts the mean):
//   Y(t) - sum_l Phi_l Y(t-l) = e(t) - sum_j Theta_j e(t-j),   e(t) ~ N(0, Sigma)
//
// For each row, v(t) = Y(t) - Z a(t) is the innovation and F(t) = Z P(t) Z'
// its covariance.  The standardised innovation is L(t)^-1 v(t) with
// F(t) = L(t) L(t)' (Cholesky, formed as L = U D^(1/2) from the LDL'
// factors); where F(t) is nearly singular the likelihood raises its
// conditional variances to 2^-26.5 of the variances (floored_ldl), and the
// residuals use the same raised factors (a variable of zero variance gives
// 0).  So, over the rows observed,
//   sum_t |L(t)^-1 v(t)|^2 + sum_t log det F(t) = D + S = -2 log-likelihood
// of varma_kalman_loglik (without the 2 pi constant): to the last bits of
// the sums for log det (the same numbers), to rounding for the squares
// (tests/varma/stats_kernels_test.cpp and tests/stats/varma_stats_test.cpp:
// within 1e-10 relative, missing rows and a floored F(t) included).
#pragma once

#include <cstdint>

#include "module/varma/varma_params.hpp"

namespace mvtsa {

// Doubles of work varma_residuals needs (UINT64_MAX when that cannot be
// represented).
std::uint64_t varma_residuals_work(int k, int pmax, int qmax);

// For the T x k series (row major, mean subtracted; a row with a missing
// value, or an element above the series bound, is missing): resid (T x k)
// the standardised innovations L(t)^-1 v(t), innov (T x k) the innovations
// v(t), logdet (T) log det F(t), the determinant the likelihood adds (of
// the raised factors where it raises them).  A missing row gets the missing
// value in all three: it adds nothing to the likelihood.
// work: varma_residuals_work doubles.  Returns 0, or the filter's outcome
// (kKalmanDiverged, kKalmanSingular: an observed row's F(t) has a negative
// diagonal element, kKalmanCancelled).
int varma_residuals(const VarmaParams& m, const double* series, std::int64_t T, double* resid,
                    double* innov, double* logdet, double* work);

}  // namespace mvtsa
