#include "module/varma/varma_resid.hpp"

#include <cmath>
#include <cstring>

#include "module/linalg/covariance.hpp"
#include "module/varma/varma_kalman.hpp"

namespace mvtsa {
namespace {

// kalman_step_loglik's floor: each conditional variance of F at least
// 2^-26.5 times its variance.
constexpr double kFloor = kCloseTol;

// Forms each row's terms as the filter hands on its predicted moments: the
// likelihood's own step (kalman_step_loglik: the log-determinant and which
// factors it used) and the standardised innovation from the LDL' factors of
// F, kept per ring slot so that a repeated P reuses them.
class Innovations final : public KalmanSink {
 public:
  Innovations(const double* series, std::int64_t T, int k, std::int64_t f, double* scratch,
              double* ldl_ring, double* w, double* resid, double* innov, double* logdet)
      : y_(series), T_(T), k_(k), f_(f), scratch_(scratch), ldl_(ldl_ring), w_(w),
        resid_(resid), innov_(innov), logdet_(logdet) {}

  int predicted(std::int64_t t, const double* a, const double* P, std::int64_t same_as) override {
    if (t >= T_) return 0;  // P(1) of an empty series
    const double* y = y_ + t * k_;
    if (int st = kalman_step_loglik(y, a, P, k_, f_, scratch_, &sums_, t, same_as)) return st;
    const std::int64_t slot = (same_as >= 0 ? same_as : t) % kFilterRing;
    double* ldl = ldl_ + slot * packed_size(k_);
    if (same_as < 0) {
      for (int r = 0; r < k_; ++r)
        for (int c = 0; c <= r; ++c) ldl[packed_index(r, c)] = P[std::int64_t(r) * f_ + c];
      double ignored = 0.0;
      (void)floored_ldl(ldl, k_, kFloor, &ignored);  // its failure: kalman_step_loglik's
    }
    double* rt = resid_ + t * k_;
    double* vt = innov_ + t * k_;
    if (varma_row_missing(y, k_)) {
      for (int i = 0; i < k_; ++i) rt[i] = vt[i] = missing_value();
      logdet_[t] = missing_value();
      return 0;
    }
    logdet_[t] = sums_.log_dets[slot];
    // v = y - Z a;  U w = v (unit lower U);  resid_i = w_i / sqrt(d_i), 0 where d_i = 0
    for (int r = 0; r < k_; ++r) {
      vt[r] = y[r] - a[r];
      const double* lr = ldl + packed_index(r, 0);
      double s = vt[r];
      for (int c = 0; c < r; ++c) s -= lr[c] * w_[c];
      w_[r] = s;
      rt[r] = lr[r] > 0.0 ? s / std::sqrt(lr[r]) : 0.0;
    }
    return 0;
  }
  int filtered(std::int64_t, const double*, const double*) override { return 0; }

 private:
  const double* y_;
  std::int64_t T_;
  int k_;
  std::int64_t f_;
  double* scratch_;
  double* ldl_;
  double* w_;
  double* resid_;
  double* innov_;
  double* logdet_;
  KalmanSums sums_;
};

}  // namespace

std::uint64_t varma_residuals_work(int k, int pmax, int qmax) {
  const std::uint64_t filter = kalman_filter_work(k, pmax, qmax);
  if (filter == UINT64_MAX) return UINT64_MAX;
  const std::uint64_t uk = std::uint64_t(k);
  // the step's scratch, kFilterRing packed factors and w (k)
  return filter + kalman_step_work(k) + kFilterRing * (uk * (uk + 1) / 2) + uk;
}

int varma_residuals(const VarmaParams& m, const double* series, std::int64_t T, double* resid,
                    double* innov, double* logdet, double* work) {
  const int k = m.k;
  double* scratch = work + kalman_filter_work(k, m.pmax, m.qmax);
  double* ldl_ring = scratch + kalman_step_work(k);
  double* w = ldl_ring + kFilterRing * packed_size(k);
  Innovations sink(series, T, k, m.state_dim(), scratch, ldl_ring, w, resid, innov, logdet);
  return kalman_filter(series, T, k, m.ar, m.ar_count, m.pmax, m.ar_lags, m.ma, m.ma_count,
                       m.qmax, m.ma_lags, m.sigma_packed, work, &sink);
}

}  // namespace mvtsa
