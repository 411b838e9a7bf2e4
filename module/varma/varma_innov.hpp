// Exact Gaussian log-likelihood of a stationary VARMA model by the
// multivariate innovations algorithm applied to the transformed process
//   W(t) = Y(t)                                   t <= m = max(pmax, qmax)
//   W(t) = Y(t) - sum_{j=1..pmax} Phi_j Y(t-j)     t > m   (a pure MA(qmax) process).
#pragma once

#include <cstdint>

namespace mvtsa {

// Doubles of work space varma_innov_loglik needs for a series of T rows
// (saturating in 64 bits).  It grows linearly in T: for n >= m only the
// coefficients Theta(n, 1..qmax) are kept, the others being exactly zero.
std::uint64_t varma_innov_work_size(std::int64_t T, int k, int pmax, int qmax);

// ar: pmax blocks (block j-1 = Phi_j), ma: qmax blocks, sigma: full k x k;
// gamma: Gamma(0) .. Gamma(2m-1) (Gamma(h) = E[Y(t) Y(t+h)'], from
// varma_autocov; unused when m = 0).  `flags` holds k characters.
//
// Innovations recursion on kappa(i, j) = E[W(i) W(j)']:
//   V(0) = kappa(1, 1)
//   Theta(n, n-k) = (kappa(n+1, k+1) - sum_{l<k} Theta(n, n-l) V(l) Theta(k, k-l)') V(k)^-1
//   V(n) = kappa(n+1, n+1) - sum_{k<n} Theta(n, n-k) V(k) Theta(n, n-k)'
// One-step predictions
//   Yhat(n+1) = sum_{j=1..n} Theta(n, j) U(n+1-j)                       n < m
//   Yhat(n+1) = sum_j Phi_j Y(n+1-j) + sum_{j=1..qmax} Theta(n, j) U(n+1-j)  n >= m
// with U(t) = Y(t) - Yhat(t); D = sum_t log det V(t-1),
// S = sum_t U(t)' V(t-1)^-1 U(t).  Every V^-1 comes from sweep_inverse,
// whose test relative to the variances refuses a V near singularity in any
// units, so det V needs no absolute floor.
// Returns the determinant status of V(T-1) (lu_solve), or 100 after
// message 178 when some V(n) cannot be inverted.
int varma_innov_loglik(double* loglik, double* logdet, double* quad, const double* series,
                       std::int64_t T, int k, const double* ar, int pmax, const double* ma,
                       int qmax, const double* sigma, const double* gamma, double* work,
                       char* flags);

}  // namespace mvtsa
