// Conditional VARMA likelihood.  The innovations solve the block unit
// lower-triangular system L a = r of order k n, L having -Theta_j on its j-th
// block sub-diagonal; forward substitution does that one block row at a time
// and needs only the last qmax innovations (a ring buffer), so memory does
// not grow with T.
#include "module/varma/varma_cond.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/frame/host.hpp"
#include "module/frame/sizes.hpp"
#include "module/linalg/block_ops.hpp"
#include "module/linalg/covariance.hpp"
#include "module/linalg/lu.hpp"
#include "module/linalg/sweep_inverse.hpp"

namespace mvtsa {

std::uint64_t varma_cond_work_size(int k, int qmax) {
  const std::uint64_t uk = std::uint64_t(k);
  // Sigma full (k^2), packed inverse, scale and sweep work (k each), residual
  // (k), ring of qmax + 1 innovations.
  std::uint64_t n = checked_mul(uk, uk);
  n = checked_add(n, std::uint64_t(packed_size(k)) + 3 * uk);
  const std::uint64_t ring = checked_mul(std::uint64_t(qmax) + 1, uk);
  return checked_add(n, ring);
}

int varma_cond_loglik(double* loglik, double* logdet, double* quad, const double* series,
                      std::int64_t T, int k, const double* ar, int pmax, const double* ma,
                      int qmax, const double* sigma_packed, double* work, char* flags) {
  const std::int64_t K = k, kk = K * K, ring_len = std::int64_t(qmax) + 1;
  double* full = work;                  // k x k
  double* inv = full + kk;              // packed
  double* scale = inv + packed_size(k); // k
  double* sweep_work = scale + K;       // k
  double* r = sweep_work + K;           // k
  double* ring = r + K;                 // (qmax + 1) x k

  // Sigma^-1 by sweeping; det Sigma by LU.
  std::memcpy(inv, sigma_packed, sizeof(double) * std::size_t(packed_size(k)));
  if (sweep_inverse(inv, k, flags, sweep_work) < k) return fail_message(kMsgSingular);
  unpack_symmetric(sigma_packed, k, full);
  double det = 0.0;
  const int det_status = lu_solve(full, k, nullptr, scale, &det);
  if (!std::isfinite(lu_log_det(full, k, det))) return fail_message(kMsgSingular);

  const std::int64_t n = T - pmax;
  double S = 0.0;
  for (std::int64_t t = pmax; t < T; ++t) {  // 0-based row t is Y(t+1)
    // r = Y(t) - sum_j Phi_j Y(t-j)
    const double* y = series + t * K;
    for (std::int64_t i = 0; i < K; ++i) r[i] = y[i];
    for (std::int64_t j = 1; j <= pmax; ++j)
      block_mul_sub(ar + (j - 1) * kk, series + (t - j) * K, K, r);
    // a(t) = r(t) + sum_{j <= min(qmax, t - pmax)} Theta_j a(t-j)
    const std::int64_t s = t - pmax;  // innovations before this one
    double* at = ring + (s % ring_len) * K;
    std::memcpy(at, r, sizeof(double) * std::size_t(K));
    const std::int64_t jmax = std::min<std::int64_t>(qmax, s);
    for (std::int64_t j = 1; j <= jmax; ++j)
      block_mul_add(ma + (j - 1) * kk, ring + ((s - j) % ring_len) * K, K, at);
    // S += a' Sigma^-1 a
    double q = 0.0;
    for (std::int64_t i = 0; i < K; ++i) {
      double acc = 0.0;
      for (std::int64_t c = 0; c < K; ++c) acc += inv[packed_index(i, c)] * at[c];
      q += at[i] * acc;
    }
    S += q;
  }
  // Sigma passed the sweep's relative test, so det Sigma > 0 needs no floor
  const double D = double(n) * lu_log_det(full, k, det);
  *logdet = D;
  *quad = S;
  *loglik = -(D + S) / 2.0;
  // Innovations that grew past the largest double (an MA part far from
  // invertible) leave S, and so L, infinite or undefined: a failure, as the
  // divergence of the exact methods is, never a missing value with status 0.
  if (!std::isfinite(*loglik) || !std::isfinite(S))
    return fail_message(kMsgConditionalOverflow);
  return det_status;
}

}  // namespace mvtsa
