#include "module/farma/farma_loglik.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "module/farma/arfima_autocov.hpp"
#include "module/farma/durbin_levinson.hpp"
#include "module/farma/farma_model.hpp"
#include "module/farma/frac_diff.hpp"
#include "module/farma/superfast_toeplitz.hpp"
#include "module/farma/toeplitz_filter.hpp"
#include "module/frame/host.hpp"

namespace mvtsa {
namespace {

// The exact method's work space: its results (3, or 4 with the GLS mean),
// gamma(0..n-1), the model autocovariances' room and then, in the same
// place, toeplitz_loglik's, and with the GLS mean the standardised
// innovations of y and of the ones vector (2n).
struct ExactLayout {
  std::uint64_t gamma, model, levinson, gls, total;
};

ExactLayout exact_layout(std::int64_t n, int p, int q, bool gls) {
  ExactLayout l{};
  std::uint64_t at = gls ? 4 : 3;
  l.gamma = at;
  at += std::uint64_t(n);
  l.model = l.levinson = at;
  const std::uint64_t route = !gls                ? toeplitz_loglik_work_size(n)
                              : n >= kSuperfastFrom ? superfast_gls_work_size(n)
                                                    : std::uint64_t(levinson_work_size(n));
  at += std::max(farma_model_gamma_work_size(n > 0 ? n - 1 : 0, p, q), route);
  l.gls = at;
  if (gls) at += 2 * std::uint64_t(n);
  l.total = at;
  return l;
}

}  // namespace

std::uint64_t farma_model_gamma_work_size(std::int64_t lag, int p, int q) {
  // the root pairs, the root finder's room, the autocovariance routine's
  return 2 * std::uint64_t(p) + std::uint64_t(farma_roots_work_size(p)) +
         std::uint64_t(arfima_autocov_work_size(p, q, lag));
}

int farma_model_gamma(double* gamma, std::int64_t lag, double d, int p, int q, const double* ar,
                      const double* ma, double sigma2, double* work) {
  double* roots = work;
  double* rwork = roots + 2 * std::int64_t(p);
  double* acov = rwork + farma_roots_work_size(p);
  // AR roots: inside the unit circle and distinct.
  bool complex_roots = false;
  if (p > 0) {
    if (farma_ar_roots(ar, p, roots, rwork, &complex_roots) == kPolyRootsCancelled)
      return kMsgCancelled;
    if (int st = farma_root_check(roots, p)) return st;
  }
  // gamma(0..lag) for sigma^2 = 1, then scaled.
  if (int st = arfima_autocov(gamma, lag, d, p, q, ma, ar, roots, complex_roots, acov)) return st;
  if (sigma2 != 1.0)
    for (std::int64_t k = 0; k <= lag; ++k) gamma[k] *= sigma2;
  // Subnormal autocovariances (below 2^-1022: those of an ARMA model, d = 0,
  // fall there geometrically) are set to 0: beside gamma(0) they are far
  // below the rounding of the recursion's sums (FARMALIK and FARMAFIT give
  // the same bits with and without them), and every product with a subnormal
  // operand costs some hundred times a normal one on x86-64 (an ARMA(1, 1)
  // forecast at n = 10^4: 1.4 s -> 0.1 s).
  for (std::int64_t k = 1; k <= lag; ++k)
    if (std::fabs(gamma[k]) < std::numeric_limits<double>::min()) gamma[k] = 0.0;
  return 0;
}

int toeplitz_loglik_levinson(const double* gamma, const double* y, std::int64_t n, double* work,
                             double* logdet, double* quad, double* last_pivot) {
  if (n < 1) {
    *logdet = *quad = 0.0;
    return 0;
  }
  double ld = 0.0, qy = 0.0;
  double last = 0.0;
  const int st = levinson_pass(gamma, y, n, work, [&](std::int64_t t, double pred, double v,
                                                      double) {
    const double e = y[t] - pred;
    ld += std::log(v);
    qy += e * e / v;
    last = v;
  });
  if (st) return st;
  if (last_pivot) *last_pivot = last;
  *logdet = ld;
  *quad = qy;
  return 0;
}

std::uint64_t toeplitz_loglik_work_size(std::int64_t n) {
  return n >= kSuperfastFrom ? superfast_work_size(n) : std::uint64_t(levinson_work_size(n));
}

int toeplitz_loglik(const double* gamma, const double* y, std::int64_t n, double* work,
                    double* logdet, double* quad, double* last_pivot, ToeplitzRoute* route) {
  if (n >= kSuperfastFrom) {
    double v = 0.0;
    const int st = toeplitz_superfast(gamma, y, n, work, logdet, quad, &v);
    if (st != kSuperfastDeclined) {
      if (route) *route = ToeplitzRoute::kSuperfast;
      if (st == 0 && last_pivot) *last_pivot = v;
      return st;
    }
    // The superfast route's checks failed: Durbin-Levinson, whose
    // coefficients take the same first n doubles of work.
    if (route) *route = ToeplitzRoute::kSuperfastDeclined;
  } else if (route) {
    *route = ToeplitzRoute::kDurbinLevinson;
  }
  return toeplitz_loglik_levinson(gamma, y, n, work, logdet, quad, last_pivot);
}

int toeplitz_loglik_gls(const double* gamma, const double* y, std::int64_t n, double* work,
                        double* std_y, double* std_one, double* logdet, double* quad,
                        double* mean) {
  // The innovations of the ones vector: e1_t = 1 - sum_j phi_(t,j), and since
  // phi_(t,j) = phi_(t-1,j) - kappa_t phi_(t-1,t-j), phi_(t,t) = kappa_t,
  // sum_j phi_(t,j) = (1 - kappa_t) sum_j phi_(t-1,j) + kappa_t, that is
  // e1_t = (1 - kappa_t) e1_(t-1), e1_0 = 1.
  double ld = 0.0, e1 = 1.0;
  for (std::int64_t t = 0; t < n; ++t) std_y[t] = std_one[t] = 0.0;
  const int st = levinson_pass(gamma, y, n, work, [&](std::int64_t t, double pred, double v,
                                                      double kappa) {
    const double r = 1.0 / std::sqrt(v);
    e1 *= 1.0 - kappa;
    ld += std::log(v);
    std_y[t] = (y[t] - pred) * r;
    std_one[t] = e1 * r;
  });
  if (st) return st;
  // mu = (1' Sigma^-1 y) / (1' Sigma^-1 1) = sum a_t b_t / sum b_t^2 with a, b
  // the standardised innovations of y and of 1; then
  // (y - mu 1)' Sigma^-1 (y - mu 1) = sum (a_t - mu b_t)^2.
  double ab = 0.0, bb = 0.0;
  for (std::int64_t t = 0; t < n; ++t) {
    ab += std_y[t] * std_one[t];
    bb += std_one[t] * std_one[t];
  }
  if (!(bb > 0.0)) return kStatusGammaFailed;
  const double mu = ab / bb;
  double qy = 0.0;
  for (std::int64_t t = 0; t < n; ++t) {
    const double a = std_y[t] - mu * std_one[t];
    qy += a * a;
  }
  *logdet = ld;
  *quad = qy;
  *mean = mu;
  return 0;
}

namespace {

int exact_loglik(double* work, const double* y, std::int64_t n, double d, int p, int q,
                 const double* ar, const double* ma, double sigma2, bool gls) {
  const ExactLayout l = exact_layout(n, p, q, gls);
  double* gamma = work + l.gamma;
  if (int st = farma_model_gamma(gamma, n - 1, d, p, q, ar, ma, sigma2, work + l.model)) return st;
  // ln det Sigma and y' Sigma^-1 y by the prediction-error decomposition
  // (at the GLS mean, which goes to work[3]).
  double logdet = 0.0, qy = 0.0;
  if (gls) {
    // The GLS mean by the route toeplitz_loglik would take at this n.
    int st = kSuperfastDeclined;
    if (n >= kSuperfastFrom)
      st = toeplitz_superfast_gls(gamma, y, n, work + l.levinson, &logdet, &qy, work + 3);
    double* a = work + l.gls;
    if (st == kSuperfastDeclined)
      st = toeplitz_loglik_gls(gamma, y, n, work + l.levinson, a, a + n, &logdet, &qy, work + 3);
    if (st) return st;
  } else if (int st = toeplitz_loglik(gamma, y, n, work + l.levinson, &logdet, &qy)) {
    return st;
  }
  // The three values: the log-likelihood, ln det Sigma, y' Sigma^-1 y.
  work[0] = -0.5 * (qy + logdet);
  work[1] = logdet;
  work[2] = qy;
  return 0;
}

int css_loglik(double* work, const double* y, std::int64_t n, double d, int p, int q,
               const double* ar, const double* ma) {
  double* e = work + 3 + n;
  if (int st = farma_css_residuals(work, y, n, d, p, q, ar, ma, e)) return st;
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

int farma_css_residuals(double* work, const double* y, std::int64_t n, double d, int p, int q,
                        const double* ar, const double* ma, double* e) {
  double* u = work + 3;
  double* w = work + 3 + 2 * n;
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
  return 0;
}

std::uint64_t farma_loglik_work_size(std::int64_t n, int p, int q, int method) {
  // Series lengths are 32-bit counts; anything else cannot be given.
  if (n < 1 || n > 2147483647 || p < 0 || q < 0) return ~std::uint64_t(0);
  if (method == kFarmaExact || method == kFarmaExactGls)
    return exact_layout(n, p, q, method == kFarmaExactGls).total;
  return 3 + 2 * std::uint64_t(n) + std::uint64_t(frac_diff_work_size(n));
}

int farma_loglik(double* work, const double* y, std::int64_t n, double d, int p, int q,
                 const double* ar, const double* ma, double sigma2, int method) {
  if (method == kFarmaExact || method == kFarmaExactGls)
    return exact_loglik(work, y, n, d, p, q, ar, ma, sigma2, method == kFarmaExactGls);
  return css_loglik(work, y, n, d, p, q, ar, ma);
}

}  // namespace mvtsa
