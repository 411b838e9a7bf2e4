#include "module/varma/varmafit_kalman.hpp"

#include "module/varma/varma_kalman.hpp"

namespace mvtsa {
namespace {

// Sums the likelihood terms of each row from its predicted moments as the
// filter hands them on.
class OnePassSums final : public KalmanSink {
 public:
  OnePassSums(const double* series, std::int64_t T, int k, std::int64_t f, double* scratch)
      : series_(series), T_(T), k_(k), f_(f), scratch_(scratch) {}
  int predicted(std::int64_t t, const double* a, const double* P, std::int64_t same_as) override {
    if (t >= T_) return 0;  // P(1) of an empty series
    return kalman_step_loglik(series_ + t * k_, a, P, k_, f_, scratch_, &sums, t, same_as);
  }
  int filtered(std::int64_t, const double*, const double*) override { return 0; }
  KalmanSums sums;

 private:
  const double* series_;
  std::int64_t T_;
  int k_;
  std::int64_t f_;
  double* scratch_;
};

}  // namespace

std::uint64_t varmafit_kalman_work_size(int k, int pmax, int qmax) {
  const std::uint64_t filter = kalman_filter_work(k, pmax, qmax);
  if (filter == UINT64_MAX) return 0;
  return filter + kalman_step_work(k);
}

int varmafit_kalman_loglik(double out[3], const double* series, std::int64_t T, int k,
                           const double* ar, int ar_count, int pmax, const int* ar_lags,
                           const double* ma, int ma_count, int qmax, const int* ma_lags,
                           const double* sigma_packed, double* work) {
  const std::int64_t f = std::int64_t(k) * (pmax > qmax + 1 ? pmax : qmax + 1);
  OnePassSums sink(series, T, k, f, work + kalman_filter_work(k, pmax, qmax));
  if (int st = kalman_filter(series, T, k, ar, ar_count, pmax, ar_lags, ma, ma_count, qmax,
                             ma_lags, sigma_packed, work, &sink))
    return st;
  out[0] = -(sink.sums.D + sink.sums.S) / 2.0;
  out[1] = sink.sums.D;
  out[2] = sink.sums.S;
  return sink.sums.det_status;
}

}  // namespace mvtsa
