// A VARMA model as the statistics kernels (forecasts, residuals, observed
// information) take it: the compact coefficient blocks with their lags and
// the packed innovation covariance, the layout the Kalman filter runs on.
//
// Model (mean zero, k variables):
//   Y(t) - sum_l Phi_l Y(t-l) = e(t) - sum_j Theta_j e(t-j),   e(t) ~ N(0, Sigma)
#pragma once

#include <cstdint>

#include "module/frame/status.hpp"

namespace mvtsa {

struct VarmaParams {
  int k = 0;
  const double* ar = nullptr;  // ar_count compact k x k blocks, row-major
  int ar_count = 0;
  int pmax = 0;                // the largest AR lag
  const int* ar_lags = nullptr;  // ascending, required when ar_count > 0
  const double* ma = nullptr;  // likewise for the MA part
  int ma_count = 0;
  int qmax = 0;
  const int* ma_lags = nullptr;
  const double* sigma_packed = nullptr;  // packed lower triangle, k (k + 1) / 2

  // The state dimension of the filter: k max(pmax, qmax + 1).
  std::int64_t state_dim() const {
    return std::int64_t(k) * (pmax > qmax + 1 ? pmax : qmax + 1);
  }
};

// A row the likelihood leaves out: a missing value, or an element above the
// series bound in magnitude (the rule of the Kalman filter's update).
inline bool varma_row_missing(const double* y, int k) {
  for (int i = 0; i < k; ++i)
    if (is_missing(y[i]) || !(y[i] <= kSeriesBound && y[i] >= -kSeriesBound)) return true;
  return false;
}

}  // namespace mvtsa
