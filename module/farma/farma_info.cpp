#include "module/farma/farma_info.hpp"

#include <cmath>
#include <cstring>

#include "module/blas/blas.hpp"
#include "module/farma/farma_loglik.hpp"
#include "module/farma/farma_model.hpp"
#include "module/fit/hessian.hpp"
#include "module/frame/status.hpp"

namespace mvtsa {
namespace {

// Values differenced together: q (or S) and ln det R.
constexpr int kInfoValues = 2;

// The work space: y - mu (n), the two polynomials, the likelihood's room,
// the differences' room, then the full point (m'), the steps (m'), the
// values (2), the gradients (2 m') and the Hessians (2 m'^2), m' = m - 1 the
// parameters differenced at most.
struct InfoLayout {
  std::uint64_t s, ar, ma, lik, diff, full, step, value, grad, hess, total;
};

InfoLayout info_layout(const FarmaInfoModel& md) {
  const int mp = 1 + md.na + md.nm;
  const int method = md.method == kFarmaExact ? kFarmaExact : kFarmaCss;
  InfoLayout l{};
  l.s = 0;
  l.ar = l.s + std::uint64_t(md.n);
  l.ma = l.ar + std::uint64_t(md.P) + 1;
  l.lik = l.ma + std::uint64_t(md.Q) + 1;
  l.diff = l.lik + farma_loglik_work_size(md.n, md.P, md.Q, method);
  l.full = l.diff + std::uint64_t(hessian_work_size(mp, kInfoValues, kRichardsonLevels));
  l.step = l.full + std::uint64_t(mp);
  l.value = l.step + std::uint64_t(mp);
  l.grad = l.value + kInfoValues;
  l.hess = l.grad + kInfoValues * std::uint64_t(mp);
  l.total = l.hess + kInfoValues * std::uint64_t(mp) * std::uint64_t(mp);
  return l;
}

struct InfoContext {
  const FarmaInfoModel* md;
  const double* s;
  double* ar;
  double* ma;
  double* lik;
  // With d held (first = 1) the differenced vector is x[1..]: the full
  // point is assembled in `full`, whose x[0] stays d.
  int first;
  double* full;
};

// (q, ln det R) at theta = (d, phi, theta) for sigma^2 = 1; (S, 0) for the
// conditional method.  A floating-point fault of a vector kernel belongs to
// this point only: it counts as an overflow (315).
int info_values(void* context, const double* xs, double* values) {
  const InfoContext& c = *static_cast<const InfoContext*>(context);
  const FarmaInfoModel& md = *c.md;
  const int mp = 1 + md.na + md.nm;
  for (int i = c.first; i < mp; ++i) c.full[i] = xs[i - c.first];
  const double* x = c.full;
  std::memset(c.ar, 0, sizeof(double) * (std::size_t(md.P) + 1));
  std::memset(c.ma, 0, sizeof(double) * (std::size_t(md.Q) + 1));
  c.ar[0] = c.ma[0] = 1.0;
  for (int i = 0; i < md.na; ++i) c.ar[md.ar_lags[i]] = -x[1 + i];
  for (int i = 0; i < md.nm; ++i) c.ma[md.ma_lags[i]] = -x[1 + md.na + i];
  const int before = fp_fault();
  int code = 0;
  if (md.method == kFarmaExact) {
    code = farma_loglik(c.lik, c.s, md.n, x[0], md.P, md.Q, c.ar, c.ma, 1.0, kFarmaExact);
    values[0] = c.lik[2];
    values[1] = c.lik[1];
  } else {
    double* e = c.lik + 3 + md.n;
    code = farma_css_residuals(c.lik, c.s, md.n, x[0], md.P, md.Q, c.ar, c.ma, e);
    double S = 0.0;
    for (std::int64_t t = md.P > md.Q ? md.P : md.Q; t < md.n; ++t) S += e[t] * e[t];
    values[0] = S;
    values[1] = 0.0;
  }
  if (before == kFpNone && fp_fault() != kFpNone) {
    clear_fp_fault();
    if (code == 0) code = kStatusGammaFailed;
  }
  if (code == 0 && !(std::isfinite(values[0]) && std::isfinite(values[1]) && values[0] > 0.0))
    code = kStatusGammaFailed;
  return code;
}

// Whether d is so close to its bound that a step of kInfoMinDStep does not
// fit twice between them.
bool d_near_bound(const FarmaInfoModel& md, double d) {
  const double bound = md.method == kFarmaExact ? kDBoundHalf : kDBoundOne;
  return bound - std::fabs(d) < 2.0 * kInfoMinDStep;
}

// The steps of the parameters first.. at try `retry`: kInfoStep / 2^retry,
// times max(1, |x|) for the ARMA coefficients; d's cut to half its distance
// from the bound.
void info_steps(const FarmaInfoModel& md, const double* x, int mp, int first, int retry,
                double* step) {
  const double bound = md.method == kFarmaExact ? kDBoundHalf : kDBoundOne;
  const double h = std::ldexp(kInfoStep, -retry);
  for (int i = first; i < mp; ++i)
    step[i - first] = i == 0 ? std::fmin(h, 0.5 * (bound - std::fabs(x[0])))
                             : h * std::fmax(1.0, std::fabs(x[i]));
}

// The log-likelihood's Hessian (m x m) from the Hessians and gradients of q
// and ln det R over the parameters first..mp-1 (see the header); with d held
// its row and column are missing.
void assemble_hessian(const FarmaInfoModel& md, const double* x, int first, double q,
                      const double* grad, const double* h2, double* hess) {
  const int mp = 1 + md.na + md.nm, m = mp + 1, k = mp - first;
  const double s2 = x[m - 1];
  const std::int64_t lags = md.P > md.Q ? md.P : md.Q;
  const double N = md.method == kFarmaExact ? double(md.n) : double(md.n - lags);
  const double* hq = h2;
  const double* hl = h2 + std::int64_t(k) * k;
  for (std::int64_t e = 0; e < std::int64_t(m) * m; ++e) hess[e] = missing_value();
  for (int i = first; i < mp; ++i) {
    const int a = i - first;
    for (int j = first; j < mp; ++j) {
      const int b = j - first;
      // L_ij = -(q_ij / sigma^2 + (ln det R)_ij) / 2
      hess[std::int64_t(i) * m + j] =
          -0.5 * (hq[std::int64_t(a) * k + b] / s2 + hl[std::int64_t(a) * k + b]);
    }
    const double cross = grad[a] / (2.0 * s2 * s2);  // L_i,sigma^2 = q_i / (2 sigma^4)
    hess[std::int64_t(i) * m + mp] = cross;
    hess[std::int64_t(mp) * m + i] = cross;
  }
  // L_sigma^2,sigma^2 = N / (2 sigma^4) - q / sigma^6
  hess[std::int64_t(mp) * m + mp] = N / (2.0 * s2 * s2) - q / (s2 * s2 * s2);
}

}  // namespace

std::uint64_t farma_info_work_size(const FarmaInfoModel& model) {
  if (model.n < 1 || model.n > kMaxCount || model.P < 0 || model.Q < 0) return ~std::uint64_t(0);
  return info_layout(model).total;
}

int farma_information(const FarmaInfoModel& model, const double* x, double* hess, double* work,
                      int* note) {
  const InfoLayout l = info_layout(model);
  const int mp = 1 + model.na + model.nm;
  double* s = work + l.s;
  for (std::int64_t t = 0; t < model.n; ++t) s[t] = model.y[t] - model.mu;
  // d next to its bound is held: the others are differenced around it.
  const int first = d_near_bound(model, x[0]) ? 1 : 0;
  *note = first ? kInfoNearBound : kInfoInterior;
  double* full = work + l.full;
  std::memcpy(full, x, sizeof(double) * std::size_t(mp));
  InfoContext ctx{&model, s, work + l.ar, work + l.ma, work + l.lik, 0, full};
  double* step = work + l.step;
  double* value = work + l.value;
  double* grad = work + l.grad;
  double* h2 = work + l.hess;
  // The value at x first: a failure there is the model's, not the steps'.
  if (int st = info_values(&ctx, x, value)) return st;
  ctx.first = first;
  DifferenceProblem problem;
  problem.f = info_values;
  problem.context = &ctx;
  problem.m = mp - first;
  problem.k = kInfoValues;
  if (problem.m > 0) {
    int st = 0;
    for (int retry = 0; retry <= kInfoStepRetries; ++retry) {
      info_steps(model, x, mp, first, retry, step);
      st = hessian_by_differences(problem, x + first, step, kRichardsonLevels, value, grad, h2,
                                  work + l.diff);
      if (st == 0 || st == kMsgCancelled) break;
    }
    if (st) return st;
  }
  assemble_hessian(model, x, first, value[0], grad, h2, hess);
  return 0;
}

}  // namespace mvtsa
