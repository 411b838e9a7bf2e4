// Theoretical autocovariances of a k-variate VARMA(p, q) process
//
//   y_t = Phi_1 y_{t-1} + ... + Phi_p y_{t-p} + e_t - Theta_1 e_{t-1} - ... - Theta_q e_{t-q},
//   E[e_t e_t'] = S,
//
// and the intermediate quantities that the simulation and likelihood code
// share: the psi weights of the MA(infinity) form and the cross terms
// C(h) = E[y_t u_{t+h}'] with u_t = e_t - sum_j Theta_j e_{t-j}.
//
// Every block is k x k, row-major, k*k doubles; arrays of blocks are
// contiguous (block j at offset j*k*k).  Phi holds p blocks (Phi_1 .. Phi_p),
// Theta q blocks (Theta_1 .. Theta_q), already spread over their lags.
// Gamma(h) = E[y_t y_{t+h}'], so Gamma(-h) = Gamma(h)'.
#pragma once

#include <cstdint>

namespace mvtsa {

// Solve statuses of varma_autocov (besides 0); 1 to 3 are also the statuses
// of the LU solve (lu_solve) of the first group.
inline constexpr int kAutocovSingularInverse = 1;  // second-group pivot <= 2^-26.5,
                                                   // or an all-zero row in the first group
inline constexpr int kAutocovSmallPivot = 2;       // a scaled LU pivot < 2^-44 before the last
inline constexpr int kAutocovSmallLastPivot = 3;   // the last scaled LU pivot < 2^-44

// psi weights Psi_0 .. Psi_{count-1} of y_t = sum_j Psi_j e_{t-j}:
//   Psi_0 = I,  Psi_j = sum_{i=1..min(j,p)} Phi_i Psi_{j-i} - Theta_j   (Theta_j = 0 for j > q).
// psi: count blocks.
void varma_psi_weights(const double* phi, int p, const double* theta, int q, int k,
                       std::int64_t count, double* psi);

// Cross terms C(0) .. C(q) from Psi_0 .. Psi_q:
//   C(h) = sum_{j=h..q} Psi_{j-h} S T_j'   with T_0 = I, T_j = -Theta_j,
// that is C(0) = S - sum_{j>=1} Psi_j S Theta_j', C(h) = -S Theta_h' - sum_{j>h} Psi_{j-h} S Theta_j'.
// cross: q+1 blocks; work: max(q, 1) blocks.
void varma_cross_terms(const double* psi, const double* theta, int q, const double* sigma, int k,
                       double* cross, double* work);

// Autocovariances of the pure MA(q) process, D(0) .. D(q):
//   D(0) = S + sum_j Theta_j S Theta_j',  D(h) = -S Theta_h' + sum_{j>h} Theta_{j-h} S Theta_j'.
// (These are the cross terms with Psi_j = -Theta_j.)  d: q+1 blocks; work: 2q+1 blocks.
void varma_ma_autocov(const double* theta, int q, const double* sigma, int k, double* d,
                      double* work);

// Doubles of work space that varma_autocov_work needs (64-bit, saturating
// to UINT64_MAX when it cannot be represented).
std::uint64_t varma_autocov_work_size(int p, int q, int k);

// Gamma(0) .. Gamma(L) into out ((L+1) blocks), with caller-supplied work
// space of varma_autocov_work_size(p, q, k) doubles.  Returns 0 or a solve
// status (1, 2, 3); out is not filled on a non-zero status.  p = 0 gives the
// pure-MA covariances.  Needs no host service.
int varma_autocov_work(double* out, std::int64_t L, const double* sigma, const double* phi,
                       const double* theta, int p, int q, int k, double* work);

// The same, taking its work space from the host: status 1 after a failed
// allocation (the host error raised).
int varma_autocov(double* out, std::int64_t L, const double* sigma, const double* phi,
                  const double* theta, int p, int q, int k);

}  // namespace mvtsa
