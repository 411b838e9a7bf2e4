#include "module/farma/farma_loglik.hpp"

#include <cmath>
#include <cstring>

#include "module/farma/arfima_autocov.hpp"
#include "module/farma/farma_model.hpp"
#include "module/farma/frac_diff.hpp"
#include "module/frame/host.hpp"
#include "module/varma/covariance.hpp"
#include "module/varma/sweep_inverse.hpp"

namespace mvtsa {
namespace {

// Pivot tolerance of the Cholesky factorisation of Sigma.
constexpr double kLoglikCholeskyTol = 1.110223024625157e-14;

struct ExactLayout {
  std::uint64_t gamma, acov, roots, rwork, sigma_a, sigma_b, sweep, flags, total;
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
  const std::uint64_t packed = checked_mul(std::uint64_t(n), std::uint64_t(n) + 1) / 2;
  l.sigma_a = at;
  at += packed;
  l.sigma_b = at;
  at += packed;
  l.sweep = at;
  at += std::uint64_t(n);
  l.flags = at;
  at += (std::uint64_t(n) + 7) / 8;
  l.total = at;
  return l;
}

int exact_loglik(double* work, const double* y, std::int64_t n, double d, int p, int q,
                 const double* ar, const double* ma, double sigma2) {
  const ExactLayout l = exact_layout(n, p, q);
  double* gamma = work + l.gamma;
  double* roots = work + l.roots;
  // 1. AR roots: inside the unit circle and distinct.
  bool complex_roots = false;
  if (p > 0) {
    farma_ar_roots(ar, p, roots, work + l.rwork, &complex_roots);
    if (int st = farma_root_check(roots, p)) return st;
  }
  // 2. gamma(0..n-1) for sigma^2 = 1, then scaled.
  if (int st = arfima_autocov(gamma, n - 1, d, p, q, ma, ar, roots, complex_roots,
                              work + l.acov))
    return st;
  if (sigma2 != 1.0)
    for (std::int64_t k = 0; k < n; ++k) gamma[k] *= sigma2;
  // 3. Sigma(i, j) = gamma(|i - j|), packed, twice.
  double* A = work + l.sigma_a;
  double* B = work + l.sigma_b;
  for (std::int64_t i = 0; i < n; ++i) {
    double* row = A + packed_index(i, 0);
    for (std::int64_t j = 0; j <= i; ++j) row[j] = gamma[i - j];
  }
  const std::uint64_t packed = std::uint64_t(packed_size(n));
  std::memcpy(B, A, sizeof(double) * packed);
  // 4. Sigma^-1 by sweeping every pivot.
  char* flags = reinterpret_cast<char*>(work + l.flags);
  const int k = static_cast<int>(n);
  if (sweep_inverse(B, k, flags, work + l.sweep) < k) return kMsgSingular;
  // 5. q_y = sum_j y_j (2 sum_{i<j} s_ij y_i + s_jj y_j)
  double qy = 0.0;
  for (std::int64_t j = 0; j < n; ++j) {
    const double* row = B + packed_index(j, 0);
    double s = 0.0;
    for (std::int64_t i = 0; i < j; ++i) s += row[i] * y[i];
    qy += y[j] * (2.0 * s + row[j] * y[j]);
  }
  // 6. Sigma = L L' by rows.
  cholesky_packed(A, k, kLoglikCholeskyTol);
  // 7. ln det Sigma = sum_k ln L_kk^2, accumulated as logarithms so that no
  //    product of the diagonal can overflow or underflow; a zero pivot
  //    (a determinant that is not positive) fails.
  double logdet = 0.0;
  for (std::int64_t i = 0; i < n; ++i) {
    const double lkk = A[packed_index(i, i)];
    if (!(lkk > 0.0)) return kStatusGammaFailed;
    logdet += 2.0 * std::log(lkk);
  }
  // 8. The three values.
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
  // 1. u = (1 - B)^d y, u_0 = 0 (it is the missing value).
  if (int st = frac_diff_filter(u, w, d, y, n, scratch)) return st;
  u[0] = 0.0;
  // 2. e_t = u_t - sum_{j<=min(p,t)} phi_j u_(t-j), then + sum_{j<=min(q,t)} theta_j e_(t-j)
  //    (phi_j = -a_j, theta_j = -theta*_j).
  for (std::int64_t t = 0; t < n; ++t) {
    double s = u[t];
    for (int j = 1; j <= p && j <= t; ++j) s += ar[j] * u[t - j];
    if (s >= kDivergenceLimit) return kStatusGammaFailed;
    for (int j = 1; j <= q && j <= t; ++j) s -= ma[j] * e[t - j];
    e[t] = s;
  }
  // 3-4. S over t = m..n-1.
  const std::int64_t m = p > q ? p : q;
  if (m >= n) return kStatusGammaFailed;
  double S = 0.0;
  for (std::int64_t t = m; t < n; ++t) {
    S += e[t] * e[t];
    if (S >= kDivergenceLimit) return kStatusGammaFailed;
  }
  if (!(S > 0.0)) return kStatusGammaFailed;
  // 5. -(n - m)/2 ln(S / (n - m))
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
  return 3 + checked_mul(4, std::uint64_t(n));
}

int farma_loglik(double* work, const double* y, std::int64_t n, double d, int p, int q,
                 const double* ar, const double* ma, double sigma2, int method) {
  if (method == kFarmaExact) return exact_loglik(work, y, n, d, p, q, ar, ma, sigma2);
  return css_loglik(work, y, n, d, p, q, ar, ma);
}

}  // namespace mvtsa
