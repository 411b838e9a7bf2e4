#include "module/farma/farma_gradient.hpp"

#include <cmath>

#include <algorithm>
#include <limits>

#include "module/farma/arfima_autocov.hpp"
#include "module/farma/arfima_autocov_grad.hpp"
#include "module/farma/farma_loglik.hpp"
#include "module/farma/farma_model.hpp"
#include "module/farma/fft_convolve.hpp"
#include "module/farma/frac_diff.hpp"
#include "module/frame/host.hpp"
#include "module/frame/sizes.hpp"
#include "module/frame/status.hpp"
#include "module/farma/durbin_levinson.hpp"

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
void frac_diff_derivative(const double* y, std::int64_t n, double d, const double* value_w,
                          double* w, double* v, double* du, double* scratch) {
  // The value's own weights where its filter formed them (not at d = 0 or 1).
  const bool formed = std::fabs(d) > kCloseTol && std::fabs(1.0 - d) > kCloseTol;
  if (d <= -0.5) {
    double sum = 0.0;
    for (std::int64_t t = 0; t < n; ++t) du[t] = sum += y[t];
    d += 1.0;
  } else {
    for (std::int64_t t = 0; t < n; ++t) du[t] = y[t];
  }
  if (formed)
    frac_diff_weight_derivatives(d, n, value_w, v);
  else
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
  frac_diff_derivative(y, n, d, e + n, w, v, du, scratch);  // e + n: the value's weights
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

// ---- Exact method

// delta(h) = sum_{i>=0} pi_i gamma(h + i) is summed by its recursion from
// gamma up to lag n - 1 + p + M with the terms beyond taken as 0: an error
// that the recursion damps by rho^M, rho the largest AR root modulus.  M is
// chosen for rho^M <= 2^-56 and capped; with a root so near the unit circle
// that the cap does not reach that, the gradient is not formed.
constexpr double kDeltaTail = 0x1p-56;
constexpr std::int64_t kDeltaMaxLags = 8192;

struct ExactLayout {
  std::uint64_t gamma, acov, roots, rwork, lev, gext, dg, delta, gs, total;
};

ExactLayout exact_layout(std::int64_t n, int p, int q) {
  ExactLayout l{};
  const std::int64_t L = n - 1 + (p > 0 ? p + kDeltaMaxLags : 0);
  WorkOffsets at(3);
  l.gamma = at.take(std::uint64_t(n));
  l.acov = at.take(std::uint64_t(std::max(arfima_autocov_work_size(p, q, n - 1),
                                       arfima_autocov_derivs_work_size(p, q, L))));
  l.roots = at.take(2 * std::uint64_t(p));
  l.rwork = at.take(std::uint64_t(farma_roots_work_size(p)));
  l.lev = at.take(toeplitz_loglik_work_size(n));
  l.gext = at.take(std::uint64_t(L) + 1);
  l.dg = at.take((1 + std::uint64_t(p) + std::uint64_t(q)) * std::uint64_t(n));
  l.delta = at.take(2 * std::uint64_t(n) + std::uint64_t(p) + std::uint64_t(q) + kDeltaMaxLags);
  l.gs = at.take(9 * std::uint64_t(n) + std::uint64_t(fft_convolve_work_size(n)));
  l.total = at.end();
  return l;
}

// The lags M beyond the series that delta needs, or 0 when the cap does not
// suffice.
std::int64_t delta_lags(const double* roots, int p) {
  double r = 0.0;
  for (int j = 0; j < p; ++j) r = std::max(r, std::hypot(roots[2 * j], roots[2 * j + 1]));
  if (!(r > 0.0)) return 1;
  const double m = std::ceil(std::log(kDeltaTail) / std::log(r));
  return m <= double(kDeltaMaxLags) ? std::max(std::int64_t(m), std::int64_t(1)) : 0;
}

// dgamma(s)/da_k = -(delta(s + k) + delta(k - s)), s < n, k = 1..p, from
//   delta(h) = E[z_t x_(t+h)],  z = a(B)^-1 x,  delta(h) = gamma(|h|) + sum_j phi_j delta(h + j),
// run downwards from h = n - 1 + p + M (delta 0 above) to h = 2 - n.
void ar_rows(const double* gext, std::int64_t n, int p, std::int64_t M, const double* ar,
             double* delta, double* rows) {
  const std::int64_t top = n - 1 + p + M, low = 2 - n;
  double* D = delta - low;  // D[h], h = low..top + p
  for (std::int64_t h = top + 1; h <= top + p; ++h) D[h] = 0.0;
  for (std::int64_t h = top; h >= low; --h) {
    double s = gext[h < 0 ? -h : h];
    for (int j = 1; j <= p; ++j) s -= ar[j] * D[h + j];  // phi_j = -a_j
    D[h] = s;
  }
  for (int k = 1; k <= p; ++k)
    for (std::int64_t s = 0; s < n; ++s) rows[(k - 1) * n + s] = -(D[s + k] + D[k - s]);
}

// At d within 2^-26.5 of 0 (the ARMA path of the value): the d row NaN, and
// dgamma(s)/dtheta*_k = sum_j theta*_j (g_v(s + k - j) + g_v(s - k + j)),
// g_v the autocovariances of a(B)^-1 e (x = theta*(B) v), into the rows
// theta*_1..theta*_q; gext gets the model's gamma to lag L for ar_rows.
int arma_path_rows(double* gext, std::int64_t L, std::int64_t n, int p, int q, const double* ar,
                   const double* ma, const double* roots, bool complex_roots, double* acov,
                   double* gv, double* dg) {
  if (int st = arfima_autocov(gext, L, 0.0, p, q, ma, ar, roots, complex_roots, acov)) return st;
  const double one = 1.0;
  if (int st = arfima_autocov(gv, n - 1 + q, 0.0, p, 0, &one, ar, roots, complex_roots, acov))
    return st;
  std::fill_n(dg, n, std::numeric_limits<double>::quiet_NaN());
  for (int k = 1; k <= q; ++k) {
    double* row = dg + std::int64_t(k) * n;
    for (std::int64_t s = 0; s < n; ++s) {
      double v = 0.0;
      for (int j = 0; j <= q; ++j) {
        const std::int64_t u = s + k - j, w = s - k + j;
        v += ma[j] * (gv[u < 0 ? -u : u] + gv[w < 0 ? -w : w]);
      }
      row[s] = v;
    }
  }
  return 0;
}

// out_t = sum_{j<=t} a_j b_(t-j), t < n; out may be b.
void convolve(double* out, const double* a, const double* b, std::int64_t n, double* fft) {
  if (n >= kFracDiffFftMin && fft_convolve_head(out, a, b, n, fft)) return;
  for (std::int64_t t = n - 1; t >= 0; --t) {
    double s = 0.0;
    for (std::int64_t j = 0; j <= t; ++j) s += a[j] * b[t - j];
    out[t] = s;
  }
}

// out_k = sum_j a_j b_(j+k), k < n, through b reversed in rev.
void correlate(double* out, const double* a, const double* b, std::int64_t n, double* rev,
               double* fft) {
  for (std::int64_t j = 0; j < n; ++j) rev[j] = b[n - 1 - j];
  convolve(rev, a, rev, n, fft);
  for (std::int64_t k = 0; k < n; ++k) out[k] = rev[n - 1 - k];
}

// The weights of the two traces: with Sigma^-1 by Gohberg and Semencul,
//   Sigma^-1 = (L(a) L(a)' - L(b) L(b)') / v,
// L(x) the lower triangular Toeplitz matrix with first column x,
// a = (1, -phi_(n-1,1), ..., -phi_(n-1,n-1)), b = (0, a_(n-1), ..., a_1),
// v = v_(n-1):
//   c_k = sum_i alpha_i alpha_(i+k), alpha = Sigma^-1 y   (y' Sigma^-1 dSigma Sigma^-1 y),
//   t_k = sum_i (Sigma^-1)_(i,i+k)
//       = sum_j (n - k - j) (a_j a_(j+k) - b_j b_(j+k)) / v   (tr Sigma^-1 dSigma).
void trace_weights(const double* lev, double v, const double* y, std::int64_t n, double* gs,
                   double* c, double* t) {
  double* a = gs;
  double* b = a + n;
  double* alpha = b + n;
  double* s1 = alpha + n;
  double* s2 = s1 + n;
  double* rev = s2 + n;
  double* jb = rev + n;
  double* fft = jb + 3 * n;  // c and t (gs + 7n, gs + 8n) are the caller's
  a[0] = 1.0;
  for (std::int64_t j = 1; j < n; ++j) a[j] = -lev[n - j];
  b[0] = 0.0;
  for (std::int64_t j = 1; j < n; ++j) b[j] = a[n - j];
  correlate(s1, a, y, n, rev, fft);
  convolve(s1, a, s1, n, fft);
  correlate(s2, b, y, n, rev, fft);
  convolve(s2, b, s2, n, fft);
  for (std::int64_t i = 0; i < n; ++i) alpha[i] = (s1[i] - s2[i]) / v;
  correlate(c, alpha, alpha, n, rev, fft);
  // t_k = ((n - k) (A_k - B_k) - (JA_k - JB_k)) / v with A_k = sum_j a_j a_(j+k),
  // JA_k = sum_j j a_j a_(j+k), and B, JB likewise.
  correlate(s1, a, a, n, rev, fft);
  correlate(s2, b, b, n, rev, fft);
  for (std::int64_t k = 0; k < n; ++k) t[k] = double(n - k) * (s1[k] - s2[k]);
  for (std::int64_t j = 0; j < n; ++j) jb[j] = double(j) * a[j];
  correlate(s1, jb, a, n, rev, fft);
  for (std::int64_t j = 0; j < n; ++j) jb[j] = double(j) * b[j];
  correlate(s2, jb, b, n, rev, fft);
  for (std::int64_t k = 0; k < n; ++k) t[k] = (t[k] - (s1[k] - s2[k])) / v;
}

// The exact value as farma_loglik forms it (the same kernels on the same
// inputs), keeping the predictor of order n - 1 and v_(n-1).
int exact_value(double* work, const ExactLayout& l, const double* y, std::int64_t n, double d,
                int p, int q, const double* ar, const double* ma, double sigma2,
                bool* complex_roots, double* v_last) {
  double* gamma = work + l.gamma;
  double* roots = work + l.roots;
  *complex_roots = false;
  if (p > 0) {
    if (farma_ar_roots(ar, p, roots, work + l.rwork, complex_roots) == kPolyRootsCancelled)
      return kMsgCancelled;
    if (int st = farma_root_check(roots, p)) return st;
  }
  if (int st = arfima_autocov(gamma, n - 1, d, p, q, ma, ar, roots, *complex_roots,
                              work + l.acov))
    return st;
  if (sigma2 != 1.0)
    for (std::int64_t k = 0; k < n; ++k) gamma[k] *= sigma2;
  double logdet = 0.0, qy = 0.0;
  if (int st = toeplitz_loglik(gamma, y, n, work + l.lev, &logdet, &qy, v_last)) return st;
  work[0] = -0.5 * (qy + logdet);
  work[1] = logdet;
  work[2] = qy;
  return 0;
}

// d ln det Sigma and dq into grad (1 + p + q each), NaN where not formed.
int exact_gradient(double* work, const double* y, std::int64_t n, double d, int p, int q,
                   const double* ar, const double* ma, double sigma2, double* grad,
                   FarmaGradientDrop drop) {
  const ExactLayout l = exact_layout(n, p, q);
  bool complex_roots = false;
  double v = 0.0;
  if (int st = exact_value(work, l, y, n, d, p, q, ar, ma, sigma2, &complex_roots, &v)) return st;
  const int nk = 1 + p + q;
  std::fill_n(grad, 2 * nk, std::numeric_limits<double>::quiet_NaN());
  const std::int64_t M = p > 0 ? delta_lags(work + l.roots, p) : 0;
  if (p > 0 && M == 0) return 0;
  // Rows of dgamma (unit variance): d, theta*_1..theta*_q, then a_1..a_p.
  double* gext = work + l.gext;
  double* dg = work + l.dg;
  const std::int64_t L = n - 1 + (p > 0 ? p + M : 0);
  const int st = std::fabs(d) <= kCloseTol
                     ? arma_path_rows(gext, L, n, p, q, ar, ma, work + l.roots, complex_roots,
                                      work + l.acov, work + l.delta, dg)
                     : arfima_autocov_derivs(gext, L, dg, n - 1, d, p, q, ma, work + l.roots,
                                             complex_roots, work + l.acov);
  if (st == kMsgCancelled) return st;
  if (st != 0) return 0;
  if (p > 0) ar_rows(gext, n, p, M, ar, work + l.delta, dg + (1 + std::int64_t(q)) * n);
  double* c = work + l.gs + 7 * n;
  double* t = c + n;
  trace_weights(work + l.lev, v, y, n, work + l.gs, c, t);
  // d ln det = tr(Sigma^-1 dSigma), dq = -alpha' dSigma alpha, dSigma = sigma^2 dR.
  for (int r = 0; r < nk; ++r) {
    const double* row = dg + std::int64_t(r) * n;
    double tr = t[0] * row[0], qa = c[0] * row[0];
    for (std::int64_t s = 1; s < n; ++s) {
      tr += 2.0 * t[s] * row[s];
      qa += 2.0 * c[s] * row[s];
    }
    const int at = r == 0 ? 0 : (r <= q ? p + r : r - q);  // d, a_k, theta*_k
    grad[at] = drop == FarmaGradientDrop::kTrace ? 0.0 : sigma2 * tr;
    grad[nk + at] = -sigma2 * qa;
  }
  return 0;
}

}  // namespace

std::uint64_t farma_gradient_work_size(std::int64_t n, int p, int q, int method) {
  const std::uint64_t base = farma_loglik_work_size(n, p, q, method);
  if (base == ~std::uint64_t(0)) return base;
  if (method == kFarmaExact) return exact_layout(n, p, q).total;
  return base + 5 * std::uint64_t(n) + std::uint64_t(frac_diff_work_size(n));
}

int farma_loglik_gradient(double* work, const double* y, std::int64_t n, double d, int p, int q,
                          const double* ar, const double* ma, double sigma2, int method,
                          double* grad, FarmaGradientDrop drop) {
  if (method == kFarmaExact) return exact_gradient(work, y, n, d, p, q, ar, ma, sigma2, grad, drop);
  return css_gradient(work, y, n, d, p, q, ar, ma, grad, drop);
}

}  // namespace mvtsa
