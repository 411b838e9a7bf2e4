#include "module/farma/farma_loglik.hpp"

#include <cmath>

#include "module/farma/arfima_autocov.hpp"
#include "module/farma/durbin_levinson.hpp"
#include "module/farma/farma_model.hpp"
#include "module/farma/frac_diff.hpp"
#include "module/frame/host.hpp"

namespace mvtsa {
namespace {

// Pivots of Sigma: one whose magnitude is not above kCloseTol gamma(0) makes
// Sigma singular for the sweep (178); one not above kLoglikCholeskyTol
// gamma(0) makes the Cholesky factor's diagonal 0, a determinant that is not
// positive (315).  Both bounds are relative to gamma(0), so that neither
// depends on the units of the series.
constexpr double kLoglikCholeskyTol = kHundredRoundoffTol;  // 100 u

// Pivots (O(t) operations each) between two questions whether the call has
// been cancelled.
constexpr std::int64_t kCancelPollPivots = 1024;

struct ExactLayout {
  std::uint64_t gamma, acov, roots, rwork, levinson, total;
};

ExactLayout exact_layout(std::int64_t n, int p, int q) {
  ExactLayout l{};
  std::uint64_t at = 3;
  l.gamma = at;
  at += std::uint64_t(n);
  l.acov = at;
  at += std::uint64_t(arfima_autocov_work_size(p, q, n > 0 ? n - 1 : 0));
  l.roots = at;
  at += 2 * std::uint64_t(p);
  l.rwork = at;
  at += std::uint64_t(farma_roots_work_size(p));
  l.levinson = at;
  at += std::uint64_t(levinson_work_size(n));
  l.total = at;
  return l;
}

}  // namespace

int toeplitz_loglik(const double* gamma, const double* y, std::int64_t n, double* work,
                    double* logdet, double* quad, double* last_pivot) {
  if (n < 1) {
    *logdet = *quad = 0.0;
    return 0;
  }
  // The sweep's test at pivot t: |v_t| above 2^-26.5 times Sigma's diagonal.
  const double singular = kCloseTol * gamma[0];
  double v = gamma[0];     // v_t
  double pred = 0.0;       // sum_j phi_(t,j) y_(t-j)
  double conv = 0.0;       // sum_j phi_(t,j) gamma(t+1-j)
  double ld = 0.0, qy = 0.0;
  bool zero_pivot = false;
  for (std::int64_t t = 0;; ++t) {
    if (!(std::fabs(v) > singular)) return kMsgSingular;
    if (t % kCancelPollPivots == kCancelPollPivots - 1 && cancel_requested()) return kMsgCancelled;
    if (v > kLoglikCholeskyTol * gamma[0]) {
      const double e = y[t] - pred;
      ld += std::log(v);
      qy += e * e / v;
    } else {
      zero_pivot = true;  // the sweep may still fail at a later pivot
    }
    if (t + 1 == n) break;
    // phi_(t+1,t+1) = (gamma(t+1) - sum_j phi_(t,j) gamma(t+1-j)) / v_t
    const double kappa = (gamma[t + 1] - conv) / v;
    v *= (1.0 - kappa) * (1.0 + kappa);
    const LevinsonSums sums = levinson_step(work, n, t, kappa, y, gamma);
    pred = sums.pred;
    conv = sums.conv;
  }
  if (zero_pivot) return kStatusGammaFailed;
  if (last_pivot) *last_pivot = v;
  *logdet = ld;
  *quad = qy;
  return 0;
}

namespace {

int exact_loglik(double* work, const double* y, std::int64_t n, double d, int p, int q,
                 const double* ar, const double* ma, double sigma2) {
  const ExactLayout l = exact_layout(n, p, q);
  double* gamma = work + l.gamma;
  double* roots = work + l.roots;
  // AR roots: inside the unit circle and distinct.
  bool complex_roots = false;
  if (p > 0) {
    farma_ar_roots(ar, p, roots, work + l.rwork, &complex_roots);
    if (int st = farma_root_check(roots, p)) return st;
  }
  // gamma(0..n-1) for sigma^2 = 1, then scaled.
  if (int st = arfima_autocov(gamma, n - 1, d, p, q, ma, ar, roots, complex_roots,
                              work + l.acov))
    return st;
  if (sigma2 != 1.0)
    for (std::int64_t k = 0; k < n; ++k) gamma[k] *= sigma2;
  // ln det Sigma and y' Sigma^-1 y by the prediction-error decomposition.
  double logdet = 0.0, qy = 0.0;
  if (int st = toeplitz_loglik(gamma, y, n, work + l.levinson, &logdet, &qy)) return st;
  // The three values: the log-likelihood, ln det Sigma, y' Sigma^-1 y.
  work[0] = -0.5 * (qy + logdet);
  work[1] = logdet;
  work[2] = qy;
  return 0;
}

int css_loglik(double* work, const double* y, std::int64_t n, double d, int p, int q,
               const double* ar, const double* ma) {
  double* u = work + 3;
  double* e = u + n;
  double* w = e + n;
  double* scratch = w + n;
  // u = (1 - B)^d y, u_0 = 0 (it is the missing value).
  if (int st = frac_diff_filter(u, w, d, y, n, scratch)) return st;
  u[0] = 0.0;
  // e_t = u_t - sum_{j<=min(p,t)} phi_j u_(t-j), then + sum_{j<=min(q,t)} theta_j e_(t-j)
  // (phi_j = -a_j, theta_j = -theta*_j).
  for (std::int64_t t = 0; t < n; ++t) {
    double s = u[t];
    for (int j = 1; j <= p && j <= t; ++j) s += ar[j] * u[t - j];
    if (s >= kDivergenceLimit) return kStatusGammaFailed;
    for (int j = 1; j <= q && j <= t; ++j) s -= ma[j] * e[t - j];
    e[t] = s;
  }
  // S = sum e_t^2 over t = m..n-1, m = max(p, q).
  const std::int64_t m = p > q ? p : q;
  if (m >= n) return kStatusGammaFailed;
  double S = 0.0;
  for (std::int64_t t = m; t < n; ++t) {
    S += e[t] * e[t];
    if (S >= kDivergenceLimit) return kStatusGammaFailed;
  }
  if (!(S > 0.0)) return kStatusGammaFailed;
  // The concentrated log-likelihood -(n - m)/2 ln(S / (n - m)).
  const double nm = double(n - m);
  work[0] = -0.5 * nm * std::log(S / nm);
  work[1] = missing_value();
  work[2] = missing_value();
  return 0;
}

}  // namespace

std::uint64_t farma_loglik_work_size(std::int64_t n, int p, int q, int method) {
  // Series lengths are 32-bit counts; anything else cannot be given.
  if (n < 1 || n > 2147483647 || p < 0 || q < 0) return ~std::uint64_t(0);
  if (method == kFarmaExact) return exact_layout(n, p, q).total;
  return 3 + 2 * std::uint64_t(n) + std::uint64_t(frac_diff_work_size(n));
}

int farma_loglik(double* work, const double* y, std::int64_t n, double d, int p, int q,
                 const double* ar, const double* ma, double sigma2, int method) {
  if (method == kFarmaExact) return exact_loglik(work, y, n, d, p, q, ar, ma, sigma2);
  return css_loglik(work, y, n, d, p, q, ar, ma);
}

}  // namespace mvtsa
