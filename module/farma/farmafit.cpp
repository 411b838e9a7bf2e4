#include "module/farma/farmafit.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "module/blas/blas.hpp"
#include "module/farma/farma_gradient.hpp"
#include "module/farma/farma_loglik.hpp"
#include "module/farma/frac_diff.hpp"
#include "module/fit/hessian.hpp"
#include "module/fit/optimizer_bridge.hpp"
#include "module/frame/status.hpp"

namespace mvtsa {
namespace {

void put_name(unsigned char* rec, const char* text) {
  std::size_t len = std::strlen(text);
  if (len > std::size_t(kNameRoom)) len = kNameRoom;
  const std::uint16_t l16 = static_cast<std::uint16_t>(len);
  std::memcpy(rec, &l16, sizeof l16);
  std::memset(rec + 2, 0, kNameRoom);
  std::memcpy(rec + 2, text, len);
}

// dL/dx from the kernel's derivatives in the polynomial coefficients
// (exact: those of ln det R and q, combined with sigma^2 profiled).
void gradient_in_parameters(const FarmafitData& data, FarmafitModel& model, double* grad) {
  const ArmaLags& l = data.lags;
  double* g = model.grad;
  const int m = model.m;
  const int nk = 1 + l.P + l.Q;
  if (data.method == kFarmaExact) {
    // L = -(n ln(q / n) + n + ln det R) / 2 from d ln det R (g) and dq (g + nk)
    const double nq = double(data.n) / model.work[2];
    for (int i = 0; i < nk; ++i) g[i] = -0.5 * (g[i] + nq * g[nk + i]);
  }
  grad[0] = g[0];
  for (int i = 0; i < l.na; ++i) grad[1 + i] = -g[l.ar[i]];
  for (int i = 0; i < l.nm; ++i) grad[1 + l.na + i] = -g[l.P + l.ma[i]];
  if (m > 1 + l.na + l.nm) grad[m - 1] = 0.0;  // SIGMA
}

}  // namespace

void farmafit_names(const ArmaLags& lags, bool exact, unsigned char* records) {
  char buf[kNameRoom + 1];
  put_name(records, "D");
  records += kNameRecordBytes;
  for (int i = 0; i < lags.na; ++i, records += kNameRecordBytes) {
    std::snprintf(buf, sizeof buf, "AR%d", lags.ar[i]);
    put_name(records, buf);
  }
  for (int i = 0; i < lags.nm; ++i, records += kNameRecordBytes) {
    std::snprintf(buf, sizeof buf, "MA%d", lags.ma[i]);
    put_name(records, buf);
  }
  if (exact) put_name(records, "SIGMA");
}

void farmafit_bounds(int m, double* bounds) {
  for (int i = 0; i < m; ++i) {
    const double b = i == 0 ? kFarmafitDBound : kFarmafitWideBound;
    bounds[i] = -b;
    bounds[m + i] = b;
  }
}

int farmafit_objective(const FarmafitData& data, FarmafitModel& model, const double* x,
                       double* loglik, double* grad) {
  const ArmaLags& l = data.lags;
  // The polynomials: a_lag = -phi, theta*_lag = -theta, zeros elsewhere.
  model.last_error = 0;
  std::memset(model.ar, 0, sizeof(double) * (std::size_t(l.P) + 1));
  std::memset(model.ma, 0, sizeof(double) * (std::size_t(l.Q) + 1));
  model.ar[0] = 1.0;
  model.ma[0] = 1.0;
  for (int i = 0; i < l.na; ++i) model.ar[l.ar[i]] = -x[1 + i];
  for (int i = 0; i < l.nm; ++i) model.ma[l.ma[i]] = -x[1 + l.na + i];
  // The likelihood.  A floating-point fault recorded by a vector kernel
  // belongs to this trial point only: it counts as an overflow (315).
  const bool exact = data.method == kFarmaExact;
  const int before = fp_fault();
  ++model.evaluations;
  // The GLS-mean objective has no analytic gradient: its fits run on
  // values (use_gradient is off for them), so grad is null here.
  const int method = exact && data.gls_mean ? kFarmaExactGls : data.method;
  const double sigma = exact ? 1.0 : missing_value();
  int code = grad ? farma_loglik_gradient(model.work, data.y, data.n, x[0], l.P, l.Q, model.ar,
                                          model.ma, sigma, data.method, model.grad)
                  : farma_loglik(model.work, data.y, data.n, x[0], l.P, l.Q, model.ar, model.ma,
                                 sigma, method);
  if (before == kFpNone && fp_fault() != kFpNone) {
    clear_fp_fault();
    if (code == 0) code = kStatusGammaFailed;
  }
  double L = 0.0, sigma2 = 0.0;
  if (code == 0) {
    const double n = double(data.n);
    if (exact) {
      // sigma^2 = q / n maximises -(q / sigma^2 + n ln sigma^2 + ln det R) / 2
      sigma2 = model.work[2] / n;
      L = -(n * std::log(sigma2) + n + model.work[1]) / 2.0;
    } else {
      const double kept = n - double(l.P > l.Q ? l.P : l.Q);
      L = model.work[0];
      sigma2 = std::exp(-2.0 * L / kept);
    }
    if (!(sigma2 > 0) || !std::isfinite(sigma2) || !std::isfinite(L)) code = kStatusGammaFailed;
  }
  if (code != 0) {
    model.last_error = code;
    return code;
  }
  *loglik = L;
  model.sigma2 = sigma2;
  if (grad) gradient_in_parameters(data, model, grad);
  if (!model.have_best || L > model.best_loglik) {
    model.have_best = true;
    model.best_loglik = L;
    model.best_sigma2 = sigma2;
    model.best_mean = data.gls_mean ? model.work[3] : 0.0;
  }
  return 0;
}

int farmafit_callback(void* args) {
  // A cancelled call fails every point, so the optimizer stops at once.
  if (cancel_requested()) {
    bridge_report_failure(args, kFarmafitFailedValue);
    return 1;
  }
  void* ctx = bridge_context(args);
  const auto* data = context_word<const FarmafitData*>(ctx, nlbrg::kCtxData);
  auto* model = context_word<FarmafitModel*>(ctx, nlbrg::kCtxModel);
  const double* x = context_word<const double*>(ctx, nlbrg::kCtxParams);
  double* g = model->use_gradient ? bridge_gradient_wanted(args) : nullptr;
  const std::size_t m = std::size_t(model->m);
  double L = 0.0;
  if (model->cache_valid && (!g || model->cache_grad) &&
      std::memcmp(x, model->cache_x, sizeof(double) * m) == 0) {
    model->cache_valid = false;  // answered once: the start the fit evaluated
    L = model->cache_loglik;
    model->sigma2 = model->cache_sigma2;
    if (g) std::memcpy(g, model->cache_grad, sizeof(double) * m);
  } else if (farmafit_objective(*data, *model, x, &L, g) != 0 || !std::isfinite(L)) {
    bridge_report_failure(args, kFarmafitFailedValue);
    return 1;
  }
  bridge_report_value(args, -L);
  if (g) {
    for (std::size_t i = 0; i < m; ++i) g[i] = -g[i];
    bridge_report_gradient(args);
  }
  return 0;
}

namespace {

// The objective over the parameters the polish moves (the first k of the
// fit's m), SIGMA held in the point's last place.
struct PolishContext {
  const FarmafitData* data;
  FarmafitModel* model;
  double* point;
  int k;
};

int polish_value(void* context, const double* xs, double* value) {
  const PolishContext& c = *static_cast<const PolishContext*>(context);
  std::memcpy(c.point, xs, sizeof(double) * std::size_t(c.k));
  return farmafit_objective(*c.data, *c.model, c.point, value);
}

// The polish's work space: the point and a trial (m each), the steps and
// the gradient (k each), the Hessian and its inverse (k^2 each), then the
// covariance's and the differences' room.
struct PolishLayout {
  std::uint64_t point, trial, step, grad, hess, cov, info, diff, total;
};

PolishLayout polish_layout(int m) {
  const std::uint64_t k = std::uint64_t(m), km = k * k;
  PolishLayout l{};
  l.point = 0;
  l.trial = l.point + k;
  l.step = l.trial + k;
  l.grad = l.step + k;
  l.hess = l.grad + k;
  l.cov = l.hess + km;
  l.info = l.cov + km;
  l.diff = l.info + std::uint64_t(information_work_size(m));
  l.total = l.diff + std::uint64_t(hessian_work_size(m, 1, 1));
  return l;
}

// One Newton step from x: the trial point x + dx in `trial` when the step
// is allowed (see farmafit_polish), else false.
bool newton_step(const FarmafitData& data, PolishContext& c, const double* x, int m, double* w,
                 const PolishLayout& l) {
  const int k = c.k;
  const bool exact = data.method == kFarmaExact;
  double* step = w + l.step;
  for (int i = 0; i < k; ++i) step[i] = kPolishStep * std::fmax(1.0, std::fabs(x[i]));
  if (exact) step[0] = std::fmin(step[0], 0.5 * (kFarmafitDBound - std::fabs(x[0])));
  if (!(step[0] > kPolishStep / 16)) return false;  // d at its bound
  std::memcpy(c.point, x, sizeof(double) * std::size_t(m));
  DifferenceProblem problem;
  problem.f = polish_value;
  problem.context = &c;
  problem.m = k;
  double value = 0.0;
  double* grad = w + l.grad;
  double* hess = w + l.hess;
  double* cov = w + l.cov;
  if (hessian_by_differences(problem, x, step, 1, &value, grad, hess, w + l.diff) != 0)
    return false;
  if (information_covariance(hess, k, cov, w + l.info) != 0) return false;
  // dx = (-H)^-1 g
  double* trial = w + l.trial;
  std::memcpy(trial, x, sizeof(double) * std::size_t(m));
  for (int i = 0; i < k; ++i) {
    double dx = 0.0;
    for (int j = 0; j < k; ++j) dx += cov[std::int64_t(i) * k + j] * grad[j];
    if (!(std::fabs(dx) <= kPolishMaxMove * std::fmax(1.0, std::fabs(x[i])))) return false;
    trial[i] = x[i] + dx;
  }
  return !exact || std::fabs(trial[0]) < kFarmafitDBound;
}

}  // namespace

std::uint64_t farmafit_polish_work_size(int m) { return polish_layout(m).total; }

int farmafit_polish(const FarmafitData& data, FarmafitModel& model, double* x, double* loglik,
                    double* work) {
  const int m = model.m;
  const PolishLayout l = polish_layout(m);
  PolishContext c{&data, &model, work + l.point, 1 + data.lags.na + data.lags.nm};
  double L = 0.0;
  if (farmafit_objective(data, model, x, &L) != 0) return -1;
  int taken = 0;
  const double* trial = work + l.trial;
  for (; taken < kPolishSteps; ++taken) {
    double Lt = 0.0;
    if (!newton_step(data, c, x, m, work, l)) break;
    // A fall within the rounding of L is no fall: along a direction of low
    // curvature the maximum is found by the gradient, not by comparing values.
    if (farmafit_objective(data, model, trial, &Lt) != 0 ||
        !(Lt >= L - kPolishLoss * (1.0 + std::fabs(L))))
      break;
    std::memcpy(x, trial, sizeof(double) * std::size_t(m));
    L = Lt;
  }
  // The model record at x (sigma^2, the GLS mean), whatever was tried last.
  if (farmafit_objective(data, model, x, &L) != 0) return -1;
  *loglik = L;
  return taken;
}

}  // namespace mvtsa
