// The likelihood terms of one step of the Kalman filter (varma_kalman.hpp):
// log det F and v' F^-1 v, with the scale-free floor on a near-singular F.
#include <cmath>
#include <cstdint>

#include "module/frame/status.hpp"
#include "module/frame/tolerances.hpp"
#include "module/linalg/covariance.hpp"
#include "module/linalg/lu.hpp"
#include "module/linalg/sweep_inverse.hpp"
#include "module/varma/varma_kalman.hpp"

namespace mvtsa {
namespace {

// The least share of its variance a conditional variance of F keeps: 2^-26.5.
constexpr double kDetFloor = kCloseTol;

}  // namespace

std::uint64_t kalman_step_work(int k) {
  const std::uint64_t uk = std::uint64_t(k < 1 ? 1 : k);
  // F (k x k), kFilterRing packed factors, v, the sweep's work and k flag
  // characters
  return uk * uk + kFilterRing * (uk * (uk + 1) / 2) + 2 * uk + uk / sizeof(double) + 1;
}

int kalman_step_loglik(const double* y, const double* a, const double* P, int k, std::int64_t f,
                       double* scratch, KalmanSums* sums, std::int64_t step, std::int64_t same_as) {
  const std::int64_t kk = std::int64_t(k) * k;
  // The factors of F of step j live in slot j mod kFilterRing: those of the
  // step whose P this one repeats are read back, others are computed.
  const std::int64_t slot = (same_as >= 0 ? same_as : step) % kFilterRing;
  double* Fd = scratch;
  double* Fp = Fd + kk + slot * packed_size(k);
  double* v = Fd + kk + kFilterRing * packed_size(k);
  double* work = v + k;
  char* flags = reinterpret_cast<char*>(work + k);
  if (same_as < 0) {
    for (int r = 0; r < k; ++r)
      for (int c = 0; c < k; ++c) Fd[r * k + c] = P[std::int64_t(r) * f + c];
    double det = 0.0;
    sums->det_statuses[slot] = lu_solve(Fd, k, nullptr, work, &det);
    for (int r = 0; r < k; ++r)
      for (int c = 0; c <= r; ++c) Fp[packed_index(r, c)] = P[std::int64_t(r) * f + c];
    // F^-1 and log det F where every pivot passes the sweep's relative test
    const double log_det = lu_log_det(Fd, k, det);
    int factor = kFactorInverse;
    if (sweep_inverse(Fp, k, flags, work) < k || !std::isfinite(log_det)) {
      // otherwise the floored factors of F
      for (int r = 0; r < k; ++r)
        for (int c = 0; c <= r; ++c) Fp[packed_index(r, c)] = P[std::int64_t(r) * f + c];
      factor = floored_ldl(Fp, k, kDetFloor, &sums->log_dets[slot]) < 0 ? kFactorFailed
                                                                         : kFactorFloored;
    } else {
      sums->log_dets[slot] = log_det;
    }
    sums->factors[slot] = factor;
  }
  if (kalman_row_missing(y, k)) return kStatusOk;  // nothing observed, nothing added
  if (sums->factors[slot] == kFactorFailed) return kKalmanSingular;
  sums->det_status = sums->det_statuses[slot];
  sums->D += sums->log_dets[slot];
  for (int r = 0; r < k; ++r) v[r] = y[r] - a[r];
  double q = 0.0;
  if (sums->factors[slot] == kFactorInverse) {
    for (int r = 0; r < k; ++r) {
      double acc = 0.0;
      for (int c = 0; c < k; ++c) acc += Fp[packed_index(r, c)] * v[c];
      q += v[r] * acc;
    }
  } else {
    q = ldl_quadratic(Fp, k, v, work);
  }
  sums->S += q;
  return kStatusOk;
}

}  // namespace mvtsa
