#include "module/farma/farma_predict.hpp"

#include <cmath>
#include <cstring>

#include "module/farma/durbin_levinson.hpp"
#include "module/farma/farma_loglik.hpp"
#include "module/farma/toeplitz_filter.hpp"
#include "module/frame/status.hpp"

namespace mvtsa {
namespace {

// farma_forecast's work space, N = n + h: gamma(0..N-1), the model
// autocovariances' room, the series with its predictions (N), the
// Durbin-Levinson coefficients (N), the variances v_(n..N-1) (h) and the rows
// of B (h (h + 1) / 2).
struct ForecastLayout {
  std::uint64_t gamma, model, s, levinson, v, b, total;
};

ForecastLayout forecast_layout(std::int64_t n, std::int64_t h, int p, int q) {
  const std::uint64_t N = std::uint64_t(n) + std::uint64_t(h);
  ForecastLayout l{};
  l.gamma = 0;
  l.model = l.gamma + N;
  l.s = l.model + farma_model_gamma_work_size(std::int64_t(N) - 1, p, q);
  l.levinson = l.s + N;
  l.v = l.levinson + std::uint64_t(levinson_work_size(std::int64_t(N)));
  l.b = l.v + std::uint64_t(h);
  l.total = l.b + std::uint64_t(h) * (std::uint64_t(h) + 1) / 2;
  return l;
}

// Row i of B at pivot n + i, from the coefficients of that order
// (phi_(n+i,k) = coef[N - k]) and the rows before it:
//   B_il = sum_{j=l..i-1} phi_(n+i,i-j) B_jl,  B_ii = 1;
// returns mse_i = sum_{l<=i} B_il^2 v_(n+l).  Row j starts at j (j + 1) / 2.
double forecast_error_row(double* B, std::int64_t i, const double* coef, std::int64_t N,
                          const double* v) {
  double* row = B + i * (i + 1) / 2;
  for (std::int64_t l = 0; l < i; ++l) row[l] = 0.0;
  row[i] = 1.0;
  for (std::int64_t j = 0; j < i; ++j) {
    const double c = coef[N - (i - j)];  // phi_(n+i,i-j)
    const double* bj = B + j * (j + 1) / 2;
    for (std::int64_t l = 0; l <= j; ++l) row[l] += c * bj[l];
  }
  double mse = 0.0;
  for (std::int64_t l = 0; l <= i; ++l) mse += row[l] * row[l] * v[l];
  return mse;
}

}  // namespace

std::uint64_t farma_forecast_work_size(std::int64_t n, std::int64_t h, int p, int q) {
  // 32-bit counts; the rows of B for h near 2^31 overflow no 64-bit size.
  if (n < 1 || n > kMaxCount || h < 1 || h > kMaxCount || p < 0 || q < 0)
    return ~std::uint64_t(0);
  return forecast_layout(n, h, p, q).total;
}

int farma_forecast(double* work, const double* y, std::int64_t n, double mu, std::int64_t h,
                   double d, int p, int q, const double* ar, const double* ma, double sigma2,
                   double* forecast, double* mse) {
  const std::int64_t N = n + h;
  const ForecastLayout l = forecast_layout(n, h, p, q);
  double* gamma = work + l.gamma;
  if (int st = farma_model_gamma(gamma, N - 1, d, p, q, ar, ma, sigma2, work + l.model))
    return st;
  // s_t = y_t - mu, then room for the predictions.
  double* s = work + l.s;
  for (std::int64_t t = 0; t < n; ++t) s[t] = y[t] - mu;
  for (std::int64_t t = n; t < N; ++t) s[t] = 0.0;
  double* coef = work + l.levinson;
  double* v = work + l.v;
  double* B = work + l.b;
  const int st = levinson_pass(gamma, s, N, coef, [&](std::int64_t t, double pred, double vt,
                                                      double) {
    if (t < n) return;
    // shat_t = sum_j phi_(t,j) shat_(t-j): the unknown value is its prediction.
    const std::int64_t i = t - n;
    s[t] = pred;
    v[i] = vt;
    mse[i] = forecast_error_row(B, i, coef, N, v);
  });
  if (st) return st;
  for (std::int64_t i = 0; i < h; ++i) forecast[i] = s[n + i] + mu;
  return 0;
}

std::uint64_t farma_residuals_work_size(std::int64_t n, int p, int q, int method) {
  if (n < 1 || n > kMaxCount || p < 0 || q < 0) return ~std::uint64_t(0);
  // the series less its mean, then the conditional likelihood's room, or
  // gamma(0..n-1), the Durbin-Levinson coefficients and the model
  // autocovariances' room
  if (method == kFarmaCss) return std::uint64_t(n) + farma_loglik_work_size(n, p, q, method);
  return 2 * std::uint64_t(n) + std::uint64_t(levinson_work_size(n)) +
         farma_model_gamma_work_size(n - 1, p, q);
}

int farma_residuals(double* work, const double* y, std::int64_t n, double mu, double d, int p,
                    int q, const double* ar, const double* ma, double sigma2, int method,
                    double* resid, double* var) {
  double* s = work;
  double* w = work + n;
  for (std::int64_t t = 0; t < n; ++t) s[t] = y[t] - mu;
  if (method == kFarmaCss) {
    // e_t / sigma and sigma^2 from the conditional likelihood's filter.
    if (int st = farma_css_residuals(w, s, n, d, p, q, ar, ma, resid)) return st;
    const double r = 1.0 / std::sqrt(sigma2);
    for (std::int64_t t = 0; t < n; ++t) {
      resid[t] *= r;
      var[t] = sigma2;
    }
    return 0;
  }
  // The exact method: gamma(0..n-1), then a_t / sqrt(v_t) and v_t pivot by pivot.
  double* gamma = w;
  double* coef = gamma + n;
  double* model = coef + levinson_work_size(n);
  if (int st = farma_model_gamma(gamma, n - 1, d, p, q, ar, ma, sigma2, model)) return st;
  for (std::int64_t t = 0; t < n; ++t) resid[t] = var[t] = 0.0;
  return levinson_pass(gamma, s, n, coef, [&](std::int64_t t, double pred, double v, double) {
    resid[t] = (s[t] - pred) / std::sqrt(v);
    var[t] = v;
  });
}

}  // namespace mvtsa
