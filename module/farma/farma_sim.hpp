// The two stages of ARFIMA simulation: fractional noise with parameter X
// from normal deviates, then the ARMA(p, q) filter applied to it.
#pragma once

#include <cstdint>

#include "module/frame/status.hpp"  // kStatusSimOverflow, kStatusGammaFailed

namespace mvtsa {

// Number of moving-average weights of the truncated fractional noise.
inline constexpr int kFracMaTerms = 100;

// Fractional noise by the Cholesky method, -1/2 < X < 1/2:
//   gamma_X(0) = Gamma(1 - 2X) / Gamma(1 - X)^2,
//   gamma_X(k) = gamma_X(k - 1) (k - 1 + X) / (k - X),
// and x = L z with L L' the N x N Toeplitz matrix of gamma_X, row by row by
// the Durbin-Levinson recursion (module/farma/durbin_levinson.hpp):
//   x_t = sum_{j=1..t} phi_(t,j) x_(t-j) + sqrt(v_t) z_t,
// in O(N^2) operations and O(N) memory; a pivot v_t not above 100 x 2^-53
// gives L_tt = 0 as in the packed Cholesky factorisation.  work:
// frac_noise_work_size(N) doubles.  Returns 0 or 315 (a gamma evaluation
// failed).
std::uint64_t frac_noise_work_size(std::int64_t N);
int frac_noise_cholesky(double* x, const double* z, std::int64_t N, double X, double* work);

// Fractional noise by the truncated moving average, X <= -1/2: weights
// w_0 = 1, w_1 = Gamma(1 + X) / Gamma(X), w_k = w_(k-1) (k - 1 + X) / k
// (k < 100), and x_t = sum_{u=0..99} w_u z_(100 + t - u) from N + 100
// deviates (the first 100 are the pre-sample).  Returns 0 or 315.
int frac_noise_ma(double* x, const double* z, std::int64_t N, double X);

// Doubles of work space for arma_start_stationary.
std::int64_t arma_start_work_size(int p, int q);

// The ARMA filter from the stationary start-up.  x holds n + q values of the
// driving noise; ar (a_0 = 1, a_j = -phi_j) and ma (theta*_j = -theta_j);
// gamma(0..p) the ARMA autocovariances for unit innovation variance.
//   q = 0: (y_0..y_(p-1)) = L (x_0..x_(p-1)), L L' the Toeplitz matrix of
//          gamma(0..p-1); then y_t = x_t + sum phi_j y_(t-j).
//   q > 0: the vector (y_0..y_(p-1), eps_(p-q)..eps_(p-1)) = L (x_0..x_(p+q-1)),
//          L L' = [Gamma_p, Psi; Psi', I_q] with Psi(t, s) = psi_(t-s) for
//          t >= s (0 otherwise) and psi the MA(infinity) weights
//          psi_i = -theta_i + sum_{k=1..min(p,i)} phi_k psi_(i-k), formed up to
//          psi_(q-1) (so the block is complete also when q > p); then
//          eps_t = x_(t+q), y_t = eps_t - sum theta_j eps_(t-j) + sum phi_j y_(t-j).
// x is overwritten (the start-up innovations take the places of the
// deviates they came from).  Requires p < n.
void arma_start_stationary(double* y, double* x, std::int64_t n, int p, int q, const double* ar,
                           const double* ma, const double* gamma, double* work);

// The ARMA filter from fixed start values: every y before y_0 is `initial`,
//   y_t = x_(t+q) - sum_{j=1..q} theta_j x_(t+q-j) + sum_{j=1..p} phi_j y_(t-j).
// Returns 0, or 316 when some |y_t| reaches 2^512 (y then unfinished).
int arma_filter_fixed(double* y, const double* x, std::int64_t n, int p, int q, const double* ar,
                      const double* ma, double initial);

}  // namespace mvtsa
