// P(1) of the Kalman filter by the Lyapunov equation P = T P T' + Q
// (varma_kalman.hpp), solved in balanced units.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "module/linalg/covariance.hpp"
#include "module/linalg/lyapunov.hpp"
#include "module/linalg/symmetric_eigenvalues.hpp"
#include "module/varma/varma_kalman.hpp"
#include "module/varma/varma_state_covariance.hpp"

namespace mvtsa {

std::uint64_t kalman_initial_covariance_work(std::int64_t f) {
  const std::uint64_t solve = discrete_lyapunov_work(f);
  if (solve == UINT64_MAX) return UINT64_MAX;
  // afterwards: the packed solution, its eigenvalues and symmetric_eigenvalues' work
  const std::uint64_t check = std::uint64_t(packed_size(f)) + 10 * std::uint64_t(f);
  // before: the balanced T and Q, and the scales
  const std::uint64_t ff = std::uint64_t(f) * std::uint64_t(f);
  if (ff > (UINT64_MAX - solve) / 3) return UINT64_MAX;
  return std::max(solve, check) + 2 * ff + std::uint64_t(f);
}

int kalman_initial_covariance(std::int64_t f, int k, const double* T, const double* Q, double* P,
                              double* work) {
  // The equation is solved in balanced units: with D = diag(d_i), d_i the
  // power of two nearest the standard deviation sqrt(Q_jj) of state element
  // i's variable j (Q's first block is Sigma), P~ = D^-1 P D^-1 solves
  // P~ = T~ P~ T~' + Q~ for T~ = D^-1 T D and Q~ = D^-1 Q D^-1, and P = D P~ D.
  // The scaling is exact, so data in units near 1 give the same bits as the
  // equation itself, and data whose variables come in units far apart give
  // the transition the Schur solver sees in units near 1.
  const std::int64_t ff = f * f;
  double* Tb = work + std::max(discrete_lyapunov_work(f),
                               std::uint64_t(packed_size(f)) + 10 * std::uint64_t(f));
  double* Qb = Tb + ff;
  double* d = Qb + ff;
  kalman_balance_scales(f, k, Q, d);
  for (std::int64_t i = 0; i < f; ++i)
    for (std::int64_t j = 0; j < f; ++j) {
      Tb[i * f + j] = T[i * f + j] / d[i] * d[j];
      Qb[i * f + j] = Q[i * f + j] / d[i] / d[j];
    }
  int outcome = kInitialStationary;
  if (discrete_lyapunov(f, Tb, Qb, kFilterTol, P, work) != kLyapunovOk) {
    outcome = kInitialSingular;
  } else {
    bool finite = true;
    for (std::int64_t i = 0; i < f; ++i)
      for (std::int64_t j = 0; j <= i; ++j) {
        const double x = 0.5 * (P[i * f + j] + P[j * f + i]);
        P[i * f + j] = P[j * f + i] = x;
        finite = finite && std::isfinite(x);
      }
    // smallest eigenvalue >= -kFilterTol * largest magnitude, on a packed copy
    double* packed = work;
    double* eig = packed + packed_size(f);
    double* eig_work = eig + f;
    pack_symmetric(P, int(f), packed);
    const int st = finite ? symmetric_eigenvalues(int(f), packed, eig, eig_work) : kSymIncomplete;
    if (st != 0 && st != kSymBisection) {
      outcome = kInitialIndefinite;
    } else {
      const double lo = eig[f - 1], big = std::max(std::fabs(eig[0]), std::fabs(lo));
      if (!(lo >= -kFilterTol * big)) outcome = kInitialIndefinite;
    }
    for (std::int64_t i = 0; i < f; ++i)
      for (std::int64_t j = 0; j < f; ++j) P[i * f + j] *= d[i] * d[j];
  }
  if (outcome != kInitialStationary) kalman_fallback_covariance(f, k, Q, P);
  return outcome;
}

}  // namespace mvtsa
