// The observed information of a VARMA model: the Hessian of the exact
// log-likelihood (the Kalman filter's, varmafit_kalman.hpp) in the model's
// own parameters, by Richardson-extrapolated central differences
// (hessian_by_differences, module/fit/hessian.hpp).
//
// Model (k variables, mean zero: the caller subtracts the mean):
//   Y(t) - sum_l Phi_l Y(t-l) = e(t) - sum_j Theta_j e(t-j),   e(t) ~ N(0, Sigma)
//
// Parameter vector, n = k^2 (ar_count + ma_count) + k (k + 1) / 2 values: the
// entries of the AR blocks (block by block in lag order, row-major within a
// block), then those of the MA blocks, then the lower triangle of Sigma by
// rows (Sigma_11, Sigma_21, Sigma_22, ...): the compact blocks and the
// packed Sigma one after the other.
//
// Steps: a share of the parameter's scale -- sqrt(Sigma_aa / Sigma_bb) for
// entry (a, b) of a coefficient block, sqrt(Sigma_aa Sigma_bb) for
// Sigma_ab -- and half of it, one Richardson step removing the h^2 term of
// the central differences (1201 evaluations of the likelihood for
// VARMA(1,1), k = 3), so that the Hessian changes with the units of the
// data as the parameters do.  The share is 2^-8, where the rounding of the
// likelihood and the truncation of the differences balance: a white-noise
// model's Sigma block within 1e-8 of its closed form; a VARMA(1,1), k = 3,
// T = 1000, within 3.5e-9 (relative to sqrt(|H_ii H_jj|)) of four levels
// from 2^-6, where four levels from 2^-8 are off by 3e-7 (rounding) and two
// levels from 2^-5 by 7e-4 (truncation).  When a difference point leaves
// the model's region (an AR part near the stationarity bound) the Hessian
// is taken again from 2^-12, then 2^-16.
#pragma once

#include <cstdint>

#include "module/varma/varma_params.hpp"

namespace mvtsa {

// The largest difference steps relative to the parameters' scales, tried in
// turn while a difference point leaves the model's region.
inline constexpr double kVarmaInfoSteps[] = {0x1p-8, 0x1p-12, 0x1p-16};
// Levels of hessian_by_differences: the steps h and h / 2.
inline constexpr int kVarmaInfoLevels = 2;

// A difference point left the model's region: its AR part is not
// stationary (a companion root of modulus at least 1 - 2^-26.5), or its
// Sigma has a Cholesky pivot below 1e-14 of its diagonal.  (Kalman
// outcomes are -1 .. -3.)
inline constexpr int kVarmaInfoOutside = -4;

inline std::int64_t varma_info_parameter_count(int k, int ar_count, int ma_count) {
  return std::int64_t(k) * k * (ar_count + ma_count) + std::int64_t(k) * (k + 1) / 2;
}

// Doubles of work varma_info_hessian needs (UINT64_MAX when that cannot be
// represented).
std::uint64_t varma_info_work(const VarmaParams& m);

// The largest step of each parameter (n values): `share` times its scale.
void varma_info_steps(const VarmaParams& m, double share, double* step);

// H (n x n) = the Hessian of the log-likelihood of the T x k series (row
// major, mean subtracted; missing rows add nothing) at the model m.
// work: varma_info_work(m) doubles.  Returns 0; kVarmaInfoOutside (with every
// share of kVarmaInfoSteps); or a Kalman
// outcome of an evaluation (kKalmanDiverged, kKalmanSingular,
// kKalmanCancelled).
int varma_info_hessian(const VarmaParams& m, const double* series, std::int64_t T, double* H,
                       double* work);

// 1 when the AR part of m (its blocks at their lags) has a companion root of
// modulus at least 1 - 2^-26.5 or its roots cannot be computed, else 0.
// work: varma_stationarity_work(k, pmax) doubles.
std::uint64_t varma_stationarity_work(int k, int pmax);
int varma_ar_nonstationary(const double* ar, int ar_count, int pmax, const int* ar_lags, int k,
                           double* work);

}  // namespace mvtsa
