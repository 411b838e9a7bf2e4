#include "module/farma/farma_gradient.hpp"

#include <cmath>

#include "module/farma/farma_loglik.hpp"
#include "module/farma/frac_diff.hpp"
#include "module/frame/status.hpp"

namespace mvtsa {
namespace {

// out = theta*(B)^-1 x: out_t = x_t - sum_{j=1..min(q,t)} theta*_j out_(t-j).
void ma_inverse(const double* ma, int q, const double* x, std::int64_t n, double* out) {
  for (std::int64_t t = 0; t < n; ++t) {
    double s = x[t];
    for (int j = 1; j <= q && j <= t; ++j) s -= ma[j] * out[t - j];
    out[t] = s;
  }
}

// out = theta*(B)^-1 a(B) x, the residual filter of the conditional method.
void arma_residual(const double* ar, int p, const double* ma, int q, const double* x,
                   std::int64_t n, double* out) {
  for (std::int64_t t = 0; t < n; ++t) {
    double s = x[t];
    for (int j = 1; j <= p && j <= t; ++j) s += ar[j] * x[t - j];
    for (int j = 1; j <= q && j <= t; ++j) s -= ma[j] * out[t - j];
    out[t] = s;
  }
}

// sum_{t=m..n-1} e_t z_(t-k), z before its start 0.
double lagged_dot(const double* e, const double* z, std::int64_t m, std::int64_t n,
                  std::int64_t k) {
  double s = 0.0;
  for (std::int64_t t = (m > k ? m : k); t < n; ++t) s += e[t] * z[t - k];
  return s;
}

// du/dd into du: sum_j v_j y'_(t-j) with y' = y and d' = d, or the running
// sum of y and d + 1 for d <= -1/2, as frac_diff_filter forms u.
void frac_diff_derivative(const double* y, std::int64_t n, double d, double* w, double* v,
                          double* du, double* scratch) {
  if (d <= -0.5) {
    double sum = 0.0;
    for (std::int64_t t = 0; t < n; ++t) du[t] = sum += y[t];
    d += 1.0;
  } else {
    for (std::int64_t t = 0; t < n; ++t) du[t] = y[t];
  }
  frac_diff_weights(d, n, w, v);
  frac_diff_convolve(du, v, d, du, n, scratch);
  du[0] = 0.0;  // u_0 = 0 whatever d
}

int css_gradient(double* work, const double* y, std::int64_t n, double d, int p, int q,
                 const double* ar, const double* ma, double* grad, FarmaGradientDrop drop) {
  if (int st = farma_loglik(work, y, n, d, p, q, ar, ma, 1.0, kFarmaCss)) return st;
  const double* u = work + 3;
  const double* e = u + n;
  double* w = work + farma_loglik_work_size(n, p, q, kFarmaCss);
  double* v = w + n;
  double* du = v + n;
  double* de = du + n;
  double* z = de + n;  // theta*(B)^-1 u, then theta*(B)^-1 e
  double* scratch = z + n;
  const std::int64_t m = p > q ? p : q;
  const int qf = drop == FarmaGradientDrop::kMaFeedback ? 0 : q;
  double S = 0.0;
  for (std::int64_t t = m; t < n; ++t) S += e[t] * e[t];
  const double c = -double(n - m) / S;
  // d
  frac_diff_derivative(y, n, d, w, v, du, scratch);
  arma_residual(ar, p, ma, qf, du, n, de);
  grad[0] = c * lagged_dot(e, de, m, n, 0);
  // a_k: e against theta*(B)^-1 u lagged k
  ma_inverse(ma, qf, u, n, z);
  for (int k = 1; k <= p; ++k) grad[k] = c * lagged_dot(e, z, m, n, k);
  // theta*_k: e against -theta*(B)^-1 e lagged k
  ma_inverse(ma, qf, e, n, z);
  for (int k = 1; k <= q; ++k) grad[p + k] = -c * lagged_dot(e, z, m, n, k);
  return 0;
}

}  // namespace

std::uint64_t farma_gradient_work_size(std::int64_t n, int p, int q, int method) {
  const std::uint64_t base = farma_loglik_work_size(n, p, q, method);
  if (base == ~std::uint64_t(0)) return base;
  if (method == kFarmaExact) return base;
  return base + 5 * std::uint64_t(n) + std::uint64_t(frac_diff_work_size(n));
}

int farma_loglik_gradient(double* work, const double* y, std::int64_t n, double d, int p, int q,
                          const double* ar, const double* ma, double sigma2, int method,
                          double* grad, FarmaGradientDrop drop) {
  if (method == kFarmaExact) return kStatusGammaFailed;  // not yet
  (void)sigma2;
  return css_gradient(work, y, n, d, p, q, ar, ma, grad, drop);
}

}  // namespace mvtsa
