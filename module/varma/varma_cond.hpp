// Conditional Gaussian log-likelihood of a VARMA model: the first pmax
// observations are taken as given and the pre-sample innovations as zero.
#pragma once

#include <cstdint>

namespace mvtsa {

// Doubles of work space varma_cond_loglik needs (saturating in 64 bits).
std::uint64_t varma_cond_work_size(int k, int qmax);

// With n = T - pmax (pmax < T):
//   r(t) = Y(t) - sum_{j=1..pmax} Phi_j Y(t-j),                t = pmax+1 .. T
//   a(t) = r(t) + sum_{j=1..min(qmax, t-pmax-1)} Theta_j a(t-j)    (forward recursion)
//   S = sum_t a(t)' Sigma^-1 a(t),  D = n log det Sigma,
// with no absolute floor on det Sigma: the sweep's relative test already
// refuses a Sigma near singularity, whatever its units.
// ar: pmax blocks (block j-1 = Phi_j, zero at unlisted lags); ma: qmax blocks
// likewise.  sigma_packed: packed lower triangle.  `flags` holds k
// characters.  Fills the three values (L = -(D + S)/2, D, S).  Returns the
// determinant status of Sigma (lu_solve), or 100 after message 178
// when Sigma cannot be inverted by sweeping, or 100 after message 382 when
// S or L is not finite (the innovations overflowed).
int varma_cond_loglik(double* loglik, double* logdet, double* quad, const double* series,
                      std::int64_t T, int k, const double* ar, int pmax, const double* ma,
                      int qmax, const double* sigma_packed, double* work, char* flags);

}  // namespace mvtsa
