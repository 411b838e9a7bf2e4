// One pass of the Durbin-Levinson recursion (durbin_levinson.hpp) over a
// series s_0..s_(n-1) with the Toeplitz covariance Sigma = [gamma(|i - j|)],
// with the pivot rules of the exact likelihood, handing each pivot to the
// caller: the exact likelihood, the standardised innovations, the
// likelihood with its GLS mean and the forecasts are all this pass with a
// different visitor.
//
// At pivot t the visitor is called as visit(t, pred, v, kappa) with
//   pred  = sum_{j=1..t} phi_(t,j) s_(t-j)   (the prediction of s_t),
//   v     = v_t                             (its error variance),
//   kappa = phi_(t,t)                       (0 at t = 0),
// and the coefficients of order t in work: phi_(t,j) = work[n - j],
// j = 1..t.  It may still write s_t (through its own pointer): the step to
// order t + 1, which reads s_0..s_t, comes after the call.  Pivots
// (relative to gamma(0), so that no rule depends on the units):
//   |v_t| not above 2^-26.5 gamma(0): the pass stops with 178;
//   v_t not above 100 x 2^-53 gamma(0): the visitor is not called, and the
//     pass returns 315 at the end (unless a later pivot gives 178);
//   398 when the host says the call has been cancelled (asked every 1024
//   pivots).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "module/farma/durbin_levinson.hpp"
#include "module/frame/host.hpp"

namespace mvtsa {

// Pivots not above this times gamma(0) make the Cholesky factor's diagonal
// 0, a determinant that is not positive (315).
inline constexpr double kLoglikCholeskyTol = kHundredRoundoffTol;  // 100 u

// Pivots (O(t) operations each) between two questions whether the call has
// been cancelled.
inline constexpr std::int64_t kCancelPollPivots = 1024;

// work: levinson_work_size(n) doubles; n >= 1.
template <class Visit>
int levinson_pass(const double* gamma, const double* s, std::int64_t n, double* work,
                  Visit&& visit) {
  // The sweep's test at pivot t: |v_t| above 2^-26.5 times Sigma's diagonal.
  const double singular = kCloseTol * gamma[0];
  double v = gamma[0];     // v_t
  double pred = 0.0;       // sum_j phi_(t,j) s_(t-j)
  double conv = 0.0;       // sum_j phi_(t,j) gamma(t+1-j)
  double kappa = 0.0;      // phi_(t,t)
  bool zero_pivot = false;
  for (std::int64_t t = 0;; ++t) {
    if (!(std::fabs(v) > singular)) return kMsgSingular;
    if (t % kCancelPollPivots == kCancelPollPivots - 1 && cancel_requested()) return kMsgCancelled;
    if (v > kLoglikCholeskyTol * gamma[0])
      visit(t, pred, v, kappa);
    else
      zero_pivot = true;  // the sweep may still fail at a later pivot
    if (t + 1 == n) break;
    // phi_(t+1,t+1) = (gamma(t+1) - sum_j phi_(t,j) gamma(t+1-j)) / v_t; a
    // subnormal one (an ARMA model's, once its autocovariances have decayed
    // to nothing) is 0, so that the step multiplies no subnormal number.
    kappa = (gamma[t + 1] - conv) / v;
    if (std::fabs(kappa) < std::numeric_limits<double>::min()) kappa = 0.0;
    v *= (1.0 - kappa) * (1.0 + kappa);
    const LevinsonSums sums = levinson_step(work, n, t, kappa, s, gamma);
    pred = sums.pred;
    conv = sums.conv;
  }
  return zero_pivot ? kStatusGammaFailed : 0;
}

}  // namespace mvtsa
