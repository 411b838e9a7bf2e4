#include "module/varma/varmafit.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/blas/blas.hpp"
#include "module/fit/optimizer_bridge.hpp"
#include "module/frame/host.hpp"
#include "module/linalg/covariance.hpp"
#include "module/varma/varma_kalman.hpp"
#include "module/varma/varma_kalman_gradient.hpp"
#include "module/varma/varmafit_kalman.hpp"

namespace mvtsa {

void varmafit_vector_to_model(const double* x, int k, int P, int Q, double* ar, double* ma,
                              double* sigma_packed) {
  const std::int64_t kk = std::int64_t(k) * k;
  const std::int64_t seg = std::int64_t(k) * (P + Q);
  for (int j = 0; j < k; ++j) {
    const double* s = x + j * seg;
    for (int b = 0; b < P; ++b, s += k) std::memcpy(ar + b * kk + j * k, s, sizeof(double) * k);
    for (int b = 0; b < Q; ++b, s += k) std::memcpy(ma + b * kk + j * k, s, sizeof(double) * k);
  }
  // Sigma = L L', in place over the packed copy of L: rows from the last
  // upwards and, within a row, columns from the diagonal down, so that every
  // element is overwritten only after its last use.
  const double* l = x + k * seg;
  std::memcpy(sigma_packed, l, sizeof(double) * std::size_t(packed_size(k)));
  for (int i = k - 1; i >= 0; --i) {
    double* ri = sigma_packed + packed_index(i, 0);
    for (int j = i; j >= 0; --j) {
      const double* rj = sigma_packed + packed_index(j, 0);
      double s = 0.0;
      for (int m = 0; m <= j; ++m) s += ri[m] * rj[m];
      ri[j] = s;
    }
  }
}

int varmafit_model_to_vector(const double* ar, const double* ma, const double* sigma_packed,
                             int k, int P, int Q, double* x) {
  const std::int64_t kk = std::int64_t(k) * k;
  const std::int64_t seg = std::int64_t(k) * (P + Q);
  for (int j = 0; j < k; ++j) {
    double* s = x + j * seg;
    for (int b = 0; b < P; ++b, s += k) std::memcpy(s, ar + b * kk + j * k, sizeof(double) * k);
    for (int b = 0; b < Q; ++b, s += k) std::memcpy(s, ma + b * kk + j * k, sizeof(double) * k);
  }
  double* l = x + k * seg;
  std::memcpy(l, sigma_packed, sizeof(double) * std::size_t(packed_size(k)));
  return cholesky_packed(l, k, kVarmafitPivotTol, kVarmafitPivotTol);
}

std::int64_t varmafit_complete_rows(const double* series, std::int64_t T, int k) {
  std::int64_t n = 0;
  for (std::int64_t t = 0; t < T; ++t) {
    bool ok = true;
    for (int j = 0; j < k && ok; ++j) {
      const double v = series[t * k + j];
      ok = !is_missing(v) && std::fabs(v) <= kSeriesBound;
    }
    n += ok ? 1 : 0;
  }
  return n;
}

namespace {

bool row_complete(const double* y, int k);

}  // namespace

void varmafit_standardize(double* series, std::int64_t T, int k, double* scale) {
  for (int j = 0; j < k; ++j) {
    // sqrt(mean y^2) as m sqrt(mean (y / m)^2), m = max |y|: no overflow
    double m = 0.0;
    for (std::int64_t t = 0; t < T; ++t)
      if (row_complete(series + t * k, k)) m = std::fmax(m, std::fabs(series[t * k + j]));
    double ss = 0.0;
    std::int64_t n = 0;
    if (m > 0.0 && std::isfinite(m))
      for (std::int64_t t = 0; t < T; ++t)
        if (row_complete(series + t * k, k)) {
          const double u = series[t * k + j] / m;
          ss += u * u;
          ++n;
        }
    const double s = n > 0 ? m * std::sqrt(ss / double(n)) : 1.0;
    scale[j] = s > 0.0 && std::isfinite(s) ? s : 1.0;
  }
  for (std::int64_t t = 0; t < T; ++t)
    for (int j = 0; j < k; ++j) series[t * k + j] /= scale[j];
}

void varmafit_restore_units(const double* scale, int k, int P, int Q, double* ar, double* ma,
                            double* sigma_packed) {
  const std::int64_t kk = std::int64_t(k) * k;
  for (int b = 0; b < P + Q; ++b) {
    double* block = b < P ? ar + b * kk : ma + (b - P) * kk;
    for (int i = 0; i < k; ++i)
      for (int j = 0; j < k; ++j) block[i * k + j] *= scale[i] / scale[j];
  }
  for (int i = 0; i < k; ++i)
    for (int j = 0; j <= i; ++j) sigma_packed[packed_index(i, j)] *= scale[i] * scale[j];
}

namespace {

// Pivots of the start's regression below this share of their diagonal make
// the cross-product matrix singular.
constexpr double kStartPivotTol = 1e-10;

bool row_complete(const double* y, int k) {
  for (int j = 0; j < k; ++j)
    if (is_missing(y[j]) || std::fabs(y[j]) > kSeriesBound) return false;
  return true;
}

// Sigma = (1/n) sum e e' over the rows e that row(t, e) accepts; false when
// there is none or Sigma is not positive definite.
template <class RowFn>
bool mean_outer_product(const VarmafitData& d, RowFn row, double* sigma, double* e,
                        double* factor) {
  const int k = d.k;
  std::fill(sigma, sigma + packed_size(k), 0.0);
  std::int64_t n = 0;
  for (std::int64_t t = 0; t < d.T; ++t) {
    if (!row(t, e)) continue;
    ++n;
    for (int i = 0; i < k; ++i)
      for (int j = 0; j <= i; ++j) sigma[packed_index(i, j)] += e[i] * e[j];
  }
  if (n == 0) return false;
  for (std::int64_t i = 0; i < packed_size(k); ++i) sigma[i] /= double(n);
  std::copy(sigma, sigma + packed_size(k), factor);
  for (int r = 0; r < k; ++r) {
    const double diag = factor[packed_index(r, r)];
    const double piv = cholesky_packed_row(factor, r, 0.0);
    if (!(piv > kStartPivotTol * diag) || !std::isfinite(piv)) return false;
  }
  return true;
}

}  // namespace

std::uint64_t varmafit_start_work_size(int k, int P) {
  const std::uint64_t m = std::uint64_t(k) * std::uint64_t(P);
  // the packed cross products (m), the right-hand sides (m k), a regressor
  // row (m), a residual (k) and the factor of Sigma
  return m * (m + 1) / 2 + m * std::uint64_t(k) + m + 2 * std::uint64_t(k) +
         std::uint64_t(packed_size(k)) + 1;
}

namespace {

// The AR blocks from the normal equations (X'X) B = X'Y, X'X (packed, order
// m = k P) already replaced by its Cholesky factor L: for each column c of
// X'Y, L z = X'y then L' b = z, and Phi_b(c, j) = b[b k + j].  x: m doubles.
void least_squares_blocks(const double* xx, const double* xy, int k, int P, double* x,
                          double* ar) {
  const std::int64_t kk = std::int64_t(k) * k, m = std::int64_t(k) * P;
  for (int c = 0; c < k; ++c) {
    for (std::int64_t i = 0; i < m; ++i) {  // L z = X'y
      double acc = xy[i * k + c];
      for (std::int64_t j = 0; j < i; ++j) acc -= xx[packed_index(i, j)] * x[j];
      x[i] = acc / xx[packed_index(i, i)];
    }
    for (std::int64_t i = m - 1; i >= 0; --i) {  // L' b = z
      double acc = x[i];
      for (std::int64_t j = i + 1; j < m; ++j) acc -= xx[packed_index(j, i)] * x[j];
      x[i] = acc / xx[packed_index(i, i)];
    }
    for (int b = 0; b < P; ++b)
      for (int j = 0; j < k; ++j) ar[b * kk + std::int64_t(c) * k + j] = x[b * k + j];
  }
}

}  // namespace

void varmafit_start(const VarmafitData& d, double* ar, double* ma, double* sigma_packed,
                    double* work) {
  const int k = d.k, P = d.P;
  const std::int64_t kk = std::int64_t(k) * k, m = std::int64_t(k) * P;
  std::fill(ar, ar + kk * P, 0.0);
  std::fill(ma, ma + kk * d.Q, 0.0);
  double* xx = work;                // packed m x m
  double* xy = xx + m * (m + 1) / 2;  // m x k
  double* x = xy + m * k;           // regressors of one row
  double* e = x + m;                // residual
  double* factor = e + k;           // packed k x k
  // Rows t >= pmax whose own and lagged rows are complete.
  auto usable = [&](std::int64_t t) {
    if (t < d.pmax || !row_complete(d.series + t * k, k)) return false;
    for (int b = 0; b < P; ++b)
      if (!row_complete(d.series + (t - d.ar_lags[b]) * k, k)) return false;
    return true;
  };
  bool have_ar = false;
  if (P > 0) {
    std::fill(xx, xx + m * (m + 1) / 2, 0.0);
    std::fill(xy, xy + m * k, 0.0);
    std::int64_t rows = 0;
    for (std::int64_t t = d.pmax; t < d.T; ++t) {
      if (!usable(t)) continue;
      ++rows;
      for (int b = 0; b < P; ++b)
        std::copy_n(d.series + (t - d.ar_lags[b]) * k, k, x + std::int64_t(b) * k);
      const double* y = d.series + t * k;
      for (std::int64_t i = 0; i < m; ++i) {
        for (std::int64_t j = 0; j <= i; ++j) xx[packed_index(i, j)] += x[i] * x[j];
        for (int c = 0; c < k; ++c) xy[i * k + c] += x[i] * y[c];
      }
    }
    // (X'X) B = X'Y by the Cholesky factor of X'X; B is m x k, and block b
    // of the AR coefficients is Phi_b(i, j) = B(b k + j, i).
    have_ar = rows >= 2 * m;
    for (std::int64_t r = 0; r < m && have_ar; ++r) {
      const double diag = xx[packed_index(r, r)];
      const double piv = cholesky_packed_row(xx, int(r), 0.0);
      have_ar = piv > kStartPivotTol * diag && std::isfinite(piv);
    }
    if (have_ar) {
      least_squares_blocks(xx, xy, k, P, x, ar);
      // Residuals e = y - sum_b Phi_b y(t - l_b); x serves as the lagged row.
      auto residual = [&](std::int64_t t, double* out) {
        if (!usable(t)) return false;
        const double* y = d.series + t * k;
        for (int i = 0; i < k; ++i) {
          double acc = y[i];
          for (int b = 0; b < P; ++b) {
            const double* yl = d.series + (t - d.ar_lags[b]) * k;
            for (int j = 0; j < k; ++j) acc -= ar[b * kk + std::int64_t(i) * k + j] * yl[j];
          }
          out[i] = acc;
        }
        return true;
      };
      if (mean_outer_product(d, residual, sigma_packed, e, factor)) return;
      std::fill(ar, ar + kk * P, 0.0);
    }
  }
  auto observed = [&](std::int64_t t, double* out) {
    if (!row_complete(d.series + t * k, k)) return false;
    std::copy_n(d.series + t * k, k, out);
    return true;
  };
  if (!mean_outer_product(d, observed, sigma_packed, e, factor)) packed_identity(k, sigma_packed);
}

void varmafit_typical_sizes(const VarmafitData& d, const double* sigma_packed, double* typ) {
  const int k = d.k;
  const std::int64_t seg = std::int64_t(k) * (d.P + d.Q);
  double* l = typ + k * seg;
  // s_j, the root mean square of column j over the complete rows (1 if none
  // or 0), held in the first k places of the L part until the end.
  double* s = l;
  std::fill(s, s + k, 0.0);
  std::int64_t n = 0;
  for (std::int64_t t = 0; t < d.T; ++t) {
    if (!row_complete(d.series + t * k, k)) continue;
    ++n;
    for (int j = 0; j < k; ++j) s[j] += d.series[t * k + j] * d.series[t * k + j];
  }
  for (int j = 0; j < k; ++j) {
    s[j] = n > 0 ? std::sqrt(s[j] / double(n)) : 1.0;
    if (!(s[j] > 0) || !std::isfinite(s[j])) s[j] = 1.0;
  }
  for (int i = 0; i < k; ++i)
    for (std::int64_t c = 0; c < seg; ++c) typ[i * seg + c] = s[i] / s[c % k];
  for (int i = 0; i < k; ++i) {
    double si = std::sqrt(sigma_packed[packed_index(i, i)]);
    if (!(si > 0) || !std::isfinite(si)) si = 1.0;
    for (int j = 0; j <= i; ++j) l[packed_index(i, j)] = si;
  }
}

std::uint64_t varmafit_gradient_work_size(int k, int P, int Q, int pmax, int qmax,
                                          std::int64_t T) {
  const std::uint64_t pass = kalman_gradient_work(k, pmax, qmax, T);
  if (pass == UINT64_MAX) return 0;
  // dL/dPhi (P blocks), dL/dTheta (Q blocks), dL/dSigma (k x k)
  const std::uint64_t blocks = std::uint64_t(k) * std::uint64_t(k) * std::uint64_t(P + Q + 1);
  if (pass > kVarmafitGradientWorkCap || blocks > kVarmafitGradientWorkCap - pass) return 0;
  return pass + blocks;
}

namespace {

// The likelihood at the model, with its gradient in the parameter vector x
// (as on entry) into grad when the work for it is there: d(-L)/dx.
int loglik_at(const VarmafitData& data, VarmafitModel& model, const double* x, double* grad,
              bool* given) {
  *given = false;
  if (!grad || !model.gradient_work)
    return varmafit_kalman_loglik(model.loglik, data.series, data.T, data.k, model.ar, data.P,
                                  data.pmax, data.ar_lags, model.ma, data.Q, data.qmax,
                                  data.ma_lags, model.sigma_packed, model.filter_work);
  const int k = data.k, P = data.P, Q = data.Q;
  const std::int64_t kk = std::int64_t(k) * k, seg = std::int64_t(k) * (P + Q);
  double* g_ar = model.gradient_work;
  double* g_ma = g_ar + P * kk;
  double* g_sigma = g_ma + Q * kk;
  double* pass = g_sigma + kk;
  KalmanGradient g{g_ar, g_ma, g_sigma};
  const int st = varma_kalman_loglik_gradient(
      model.loglik, &g, data.series, data.T, k, model.ar, P, data.pmax, data.ar_lags, model.ma,
      Q, data.qmax, data.ma_lags, model.sigma_packed, model.filter_work, pass);
  if (st != 0 || !g.given) return st;
  for (int j = 0; j < k; ++j) {
    double* s = grad + j * seg;
    for (int b = 0; b < P; ++b, s += k)
      for (int c = 0; c < k; ++c) s[c] = -g_ar[b * kk + j * k + c];
    for (int b = 0; b < Q; ++b, s += k)
      for (int c = 0; c < k; ++c) s[c] = -g_ma[b * kk + j * k + c];
  }
  // d(-L)/dL_ij = -2 (S L)_ij, i >= j, with S = dL/dSigma and L packed by rows
  const double* l = x + k * seg;
  double* gl = grad + k * seg;
  for (int i = 0; i < k; ++i)
    for (int j = 0; j <= i; ++j) {
      double acc = 0.0;
      for (int m = j; m < k; ++m) acc += g_sigma[i * k + m] * l[packed_index(m, j)];
      gl[packed_index(i, j)] = -2.0 * acc;
    }
  *given = true;
  return st;
}

}  // namespace

int varmafit_evaluate(const VarmafitData& data, VarmafitModel& model, double* x, double* value,
                      double* grad, bool* grad_given) {
  // vector -> model
  varmafit_vector_to_model(x, data.k, data.P, data.Q, model.ar, model.ma, model.sigma_packed);
  // The Kalman-filter likelihood; any non-zero status fails the point.  A
  // floating-point fault recorded on the way belongs to this trial point
  // only: it fails the point and is cleared.
  const int before = fp_fault();
  bool given = false;
  int st = loglik_at(data, model, x, grad, &given);
  if (grad_given) *grad_given = false;
  if (before == kFpNone && fp_fault() != kFpNone) {
    clear_fp_fault();
    if (st == 0) st = kStatusMessage;
  }
  if (st == kKalmanSingular) return fail_message(kMsgSingular);
  if (st != 0) return kStatusMessage;  // diverged, or cancelled (the fit ends at the next point)
  // a log-likelihood beyond 2^512 / 100 in magnitude rejects the point
  const double L = model.loglik[0];
  if (std::fabs(L) > kSeriesBound) {
    issue_message(kMsgLoglikBound, {kSeriesBound});
    return kStatusMessage;
  }
  if (std::isnan(L)) return kStatusMessage;
  // model -> vector: the L part becomes the Cholesky factor of Sigma
  if (varmafit_model_to_vector(model.ar, model.ma, model.sigma_packed, data.k, data.P, data.Q,
                               x) != 0)
    return kStatusMessage;
  *value = -L;
  if (grad_given) *grad_given = given;
  return 0;
}

int varmafit_objective(void* args) {
  // A cancelled call fails every point, so the optimizer stops at once.
  if (cancel_requested()) {
    bridge_report_failure(args, missing_value());
    return 1;
  }
  void* ctx = bridge_context(args);
  const auto* data = context_word<const VarmafitData*>(ctx, nlbrg::kCtxData);
  auto* model = context_word<VarmafitModel*>(ctx, nlbrg::kCtxModel);
  double* x = context_word<double*>(ctx, nlbrg::kCtxParams);
  double* grad = model->gradient_work ? bridge_gradient_wanted(args) : nullptr;
  double value = 0.0;
  bool given = false;
  if (varmafit_evaluate(*data, *model, x, &value, grad, &given) != 0) {
    bridge_report_failure(args, missing_value());
    return 1;
  }
  bridge_report_value(args, value);
  if (given) bridge_report_gradient(args);
  return 0;
}

}  // namespace mvtsa
