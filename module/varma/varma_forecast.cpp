#include "module/varma/varma_forecast.hpp"

#include <cmath>
#include <cstring>

#include "module/frame/host.hpp"
#include "module/varma/varma_kalman.hpp"

namespace mvtsa {
namespace {

// Keeps the moments the forecasts start from: a(1), P(1) (a series of no
// rows) until the update with the last row gives a(T|T), P(T|T).
class EndMoments final : public KalmanSink {
 public:
  EndMoments(std::int64_t T, std::int64_t f, double* a, double* P) : T_(T), f_(f), a_(a), P_(P) {}
  int predicted(std::int64_t t, const double* a, const double* P, std::int64_t) override {
    if (t == 0 && T_ == 0) keep(a, P);
    return 0;
  }
  int filtered(std::int64_t t, const double* att, const double* Ptt) override {
    if (t == T_ - 1) keep(att, Ptt);
    return 0;
  }

 private:
  void keep(const double* a, const double* P) {
    std::memcpy(a_, a, sizeof(double) * std::size_t(f_));
    std::memcpy(P_, P, sizeof(double) * std::size_t(f_ * f_));
  }
  std::int64_t T_, f_;
  double* a_;
  double* P_;
};

// One prediction step with the dense system (f x f each):
//   a <- T a (f),   P <- T P T' + Q (f x f), symmetric by construction;
// x (f) and X (f x f) are scratch.
void predict(const double* Tm, const double* Q, std::int64_t f, double* a, double* P, double* x,
             double* X) {
  for (std::int64_t r = 0; r < f; ++r) {
    double acc = 0.0;
    for (std::int64_t c = 0; c < f; ++c) acc += Tm[r * f + c] * a[c];
    x[r] = acc;
  }
  std::memcpy(a, x, sizeof(double) * std::size_t(f));
  // X = T P   (f x f)
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t c = 0; c < f; ++c) {
      double acc = 0.0;
      for (std::int64_t b = 0; b < f; ++b) acc += Tm[r * f + b] * P[b * f + c];
      X[r * f + c] = acc;
    }
  // P = X T' + Q, the lower triangle mirrored
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t c = 0; c <= r; ++c) {
      double acc = Q[r * f + c];
      for (std::int64_t b = 0; b < f; ++b) acc += X[r * f + b] * Tm[c * f + b];
      P[r * f + c] = P[c * f + r] = acc;
    }
}

}  // namespace

std::uint64_t varma_forecast_work(int k, int pmax, int qmax) {
  const std::uint64_t filter = kalman_filter_work(k, pmax, qmax);
  if (filter == UINT64_MAX) return UINT64_MAX;
  const std::uint64_t f = std::uint64_t(k) * std::uint64_t(pmax > qmax + 1 ? pmax : qmax + 1);
  // a, x (f each), P, X (f x f each); f^2 < 2^52 where the filter's work is representable
  return filter + 2 * f + 2 * f * f;
}

int varma_forecast(const VarmaParams& m, const double* series, std::int64_t T, std::int64_t h,
                   const double* mean, double* forecast, double* mse, double* work) {
  const int k = m.k;
  const std::int64_t f = m.state_dim();
  double* a = work + kalman_filter_work(k, m.pmax, m.qmax);
  double* x = a + f;
  double* P = x + f;
  double* X = P + f * f;
  EndMoments end(T, f, a, P);
  if (int st = kalman_filter(series, T, k, m.ar, m.ar_count, m.pmax, m.ar_lags, m.ma, m.ma_count,
                             m.qmax, m.ma_lags, m.sigma_packed, work, &end))
    return st;
  const double* Tm = nullptr;
  const double* Q = nullptr;
  kalman_filter_system(work, k, m.pmax, m.qmax, &Tm, &Q);
  for (std::int64_t j = 0; j < h; ++j) {
    if (j % kCancelPollRows == kCancelPollRows - 1 && cancel_requested()) return kKalmanCancelled;
    // a(1), P(1) are the first forecast of an empty series
    if (T > 0 || j > 0) predict(Tm, Q, f, a, P, x, X);
    for (int i = 0; i < k; ++i) {
      forecast[j * k + i] = a[i] + (mean ? mean[i] : 0.0);
      for (int c = 0; c < k; ++c) mse[(j * k + i) * k + c] = P[std::int64_t(i) * f + c];
    }
  }
  return 0;
}

void varma_forecast_interval(const double* forecast, const double* mse, std::int64_t h, int k,
                             double z, double* interval) {
  for (std::int64_t j = 0; j < h; ++j)
    for (int i = 0; i < k; ++i) {
      const double half = z * std::sqrt(mse[(j * k + i) * k + i]);
      interval[j * 2 * k + i] = forecast[j * k + i] - half;
      interval[j * 2 * k + k + i] = forecast[j * k + i] + half;
    }
}

}  // namespace mvtsa
