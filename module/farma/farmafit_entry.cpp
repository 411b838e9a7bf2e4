// FARMAFIT(y, p, q, opt) -> d, AR coefficients, MA coefficients, variance:
// the ARFIMA(p, d, q) fit by maximum likelihood (conditional sum of squares
// or exact), from a log-periodogram start for d and a Hannan-Rissanen start
// for the ARMA part, through the optimizer bridge.
//
// sigma^2 is profiled out of the objective (farmafit.hpp): the variance
// result is its closed-form optimum at the returned (d, phi, theta), q / n
// for the exact method and S / (n - m) for the conditional one, and the
// SIGMA parameter of the exact method is held fixed by its bounds.
//
// The start must evaluate: the exact method clamps d0 to +-0.45; a start
// that fails is retried with its AR and MA zeros moved inside the unit
// circle (arma_start_inside), then without ARMA part, then at d = 0.  The
// exact method with an ARMA part also runs from d = 0 with the
// Hannan-Rissanen values of y itself, keeps the higher likelihood and says
// so in note 397 when the second start won (the likelihood can have a mode
// of long memory and one of near-cancelling ARMA roots).  With the analytic
// gradients (farma_gradient.hpp), which make a run several times cheaper,
// the conditional method with an ARMA part does the same, and the exact
// second start's run first holds d at 0 and then frees it.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/farma/farma_gradient.hpp"
#include "module/farma/farma_loglik.hpp"
#include "module/farma/farmafit.hpp"
#include "module/farma/farmafit_start.hpp"
#include "module/farma/frac_diff.hpp"
#include "module/farma/gph.hpp"
#include "module/fit/lag_list.hpp"
#include "module/fit/optimizer_bridge.hpp"
#include "module/frame/args.hpp"
#include "module/frame/entries.hpp"

namespace mvtsa {
namespace {

enum { kY = 0, kP = 1, kQ = 2, kOpt = 3 };

// opt: the method (first element) and the second option value.
int read_options(const ArgList& in, int* method, int* option2) {
  MatrixArg o;
  if (int st = in.fetch(kOpt, &o)) return st;
  if (o.rows < 1 || o.cols < 1) return fail_message(kMsgDimension);
  if (o.rows > 1 && o.cols > 1) return fail_message(kMsgShape, {"matrix", "vector"});
  const double first = o.data[0];
  if (!is_missing(first)) {
    if (first < 0 || first > 1) return kStatusRange;
    *method = first >= 1 ? kFarmaExact : kFarmaCss;
  }
  if (o.size() == 2 && !is_missing(o.data[1])) {
    if (o.data[1] < 0 || o.data[1] > 1) return kStatusRange;
    *option2 = o.data[1] >= 1 ? 1 : 0;
  }
  return kStatusOk;
}

double mean_square(const double* v, std::int64_t n) {
  double s = 0.0;
  for (std::int64_t t = 0; t < n; ++t) s += v[t] * v[t];
  return n > 0 ? s / double(n) : 0.0;
}

// Typical sizes of d and of the ARMA coefficients for the optimizer.
constexpr double kTypicalCoefficient = 0.5;
// The second start's fit replaces the first only when its log-likelihood is
// higher by more than this: two runs that end at one mode differ by rounding.
constexpr double kSecondStartMargin = 1e-6;
// The d at which the exact second start's first run holds d: not 0 itself,
// where the likelihood takes the ARMA path, whose Durbin-Levinson
// coefficients decay geometrically into subnormal numbers (one evaluation
// at n = 10^4: 1.6 s against 59 ms at d = 0.05).
constexpr double kSecondStartHeldD = 1e-3;

// Work the starting values need, taken once: the differenced series and the
// filter's room, the Hannan-Rissanen regressions, the root finder.
struct StartWork {
  WorkBlock<double> u, filter, hr, roots;
  int allocate(std::int64_t n, const ArmaLags& lags) {
    if (int st = u.allocate(std::uint64_t(n))) return st;
    if (int st = filter.allocate(std::uint64_t(frac_diff_work_size(n)))) return st;
    if (int st = hr.allocate(hannan_rissanen_work_size(n, lags))) return st;
    const int order = lags.P > lags.Q ? lags.P : lags.Q;
    return roots.allocate(arma_start_inside_work_size(order));
  }
};

// The ARMA starting values (and sigma^2 for the exact method) at d: the
// Hannan-Rissanen regressions on (1 - B)^d y, or the mean square of that
// series for an exact fit without ARMA part.  Failures leave x unchanged.
void arma_start(const FarmafitData& data, double d, StartWork& w, double* x) {
  const ArmaLags& lags = data.lags;
  const bool exact = data.method == kFarmaExact;
  if (frac_diff_filter(w.u.data(), w.filter.data(), d, data.y, data.n,
                       w.filter.data() + data.n) != 0)
    return;
  const double* us = w.u.data();
  std::int64_t nu = data.n;
  if (std::fabs(d) > kCloseTol) {  // the first value is the missing value
    ++us;
    --nu;
  }
  if (lags.na + lags.nm > 0 || !exact)
    (void)hannan_rissanen_start(us, nu, lags, exact, x + 1, w.hr.data());
  else
    x[1 + lags.na + lags.nm] = mean_square(us, nu);
}

// Moves the AR and MA starting values inside their regions (see
// arma_start_inside); true when either changed.
bool move_inside(const ArmaLags& lags, StartWork& w, double* x) {
  const int ar = arma_start_inside(x + 1, lags.ar, lags.na, lags.P, w.roots.data());
  const int ma = arma_start_inside(x + 1 + lags.na, lags.ma, lags.nm, lags.Q, w.roots.data());
  return ar > 0 || ma > 0;
}

// One optimizer run from x (the start, already evaluated when `evaluated`)
// in a fresh bridge context.  Returns the bridge's report.
int run_optimizer(void* ctx, const FarmafitData& data, FarmafitModel& model, double* x,
                  const double* bounds, unsigned char* names, const double* typical) {
  const int m = model.m;
  std::memset(ctx, 0, nlbrg::kContextBytes);
  set_context_word<std::int32_t>(ctx, nlbrg::kCtxCount, m);
  set_context_word<double*>(ctx, nlbrg::kCtxParams, x);
  if (bounds) {
    set_context_word<const double*>(ctx, nlbrg::kCtxLower, bounds);
    set_context_word<const double*>(ctx, nlbrg::kCtxUpper, bounds + m);
  }
  set_context_word<unsigned char*>(ctx, nlbrg::kCtxNames, names);
  set_context_word<const FarmafitData*>(ctx, nlbrg::kCtxData, &data);
  set_context_word<FarmafitModel*>(ctx, nlbrg::kCtxModel, &model);
  set_context_word<void*>(ctx, nlbrg::kCtxHostWord, host_context_word());
  BridgeCall call;
  call.caller = FitCaller::kFarmafit;
  call.objective = farmafit_callback;
  call.reset_caller_state = data.option2 == 0;
  call.typical = typical;
  call.gradient = model.use_gradient;
  return optimizer_bridge(ctx, call);
}

// Evaluates the start x and remembers the value for the optimizer's first
// call; resets the run's best point first.  True when it evaluates.
bool evaluate_start(const FarmafitData& data, FarmafitModel& model, const double* x) {
  model.have_best = false;
  model.cache_valid = false;
  double L = 0.0;
  ++fit_report().extra_evaluations;
  if (farmafit_objective(data, model, x, &L, model.use_gradient ? model.cache_grad : nullptr) != 0)
    return false;
  std::memcpy(model.cache_x, x, sizeof(double) * std::size_t(model.m));
  model.cache_valid = true;
  model.cache_loglik = L;
  model.cache_sigma2 = model.sigma2;
  return true;
}

// The second start's run.  Exact method with the gradient: first with d
// held at its start (kSecondStartHeldD, next to the ARMA fit of y: the mode
// of near-cancelling roots that the second start is for), then with d free
// from there, so that the
// first steps, which the gradient in d would otherwise lead, cannot carry
// the run back to the first start's mode (as it did on the bimodal case of
// the tests).  Otherwise one run: on values only as always, and for the
// conditional method, where holding d changed no fit of the benchmark set.
// held: 2m doubles of room for the bounds with d held.
// wide: the bounds that d's hold starts from; bounds: those of the free run
// (null: none).
int second_run(void* ctx, const FarmafitData& data, FarmafitModel& model, double* x,
               const double* wide, const double* bounds, double* held, unsigned char* names,
               const double* typical) {
  if (!model.use_gradient || data.method != kFarmaExact)
    return run_optimizer(ctx, data, model, x, bounds, names, typical);
  const int m = model.m;
  std::memcpy(held, wide, sizeof(double) * 2 * std::size_t(m));
  held[0] = held[m] = x[0];
  const int report = run_optimizer(ctx, data, model, x, held, names, typical);
  if (report < 0 || !model.have_best || cancel_requested()) return report;
  if (!evaluate_start(data, model, x)) return report;
  return run_optimizer(ctx, data, model, x, bounds, names, typical);
}

// A start that the objective can evaluate: x as given; then with its AR and
// MA values moved inside; then without ARMA part at d; then at d = 0.
void evaluable_start(const FarmafitData& data, FarmafitModel& model, StartWork& w, double* x) {
  const ArmaLags& lags = data.lags;
  const int arma = lags.na + lags.nm;
  if (evaluate_start(data, model, x)) return;
  if (arma > 0 && move_inside(lags, w, x)) {
    fit_report().start_moved = true;
    if (evaluate_start(data, model, x)) return;
  }
  std::fill(x + 1, x + 1 + arma, 0.0);
  if (evaluate_start(data, model, x)) return;
  if (x[0] != 0.0) {
    x[0] = 0.0;
    (void)evaluate_start(data, model, x);
  }
}

int farmafit(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  fit_report() = FitReport{};
  // The bridge context.
  WorkBlock<unsigned char> context(nlbrg::kContextBytes);
  if (!context) return context.status();
  // y
  if (!in.given(kY)) return kStatusNoValue;
  MatrixArg ym;
  if (int st = in.fetch(kY, &ym)) return st;
  if ((ym.rows < ym.cols ? ym.rows : ym.cols) != 1) return kStatusNotVector;
  if (has_missing(in.slot(kY))) return kStatusMissing;
  const std::int64_t n = ym.length();
  // the lags
  WorkBlock<int> ar_lags, ma_lags;
  ArmaLags lags;
  if (in.given(kP))
    if (int st = fit_lag_list(in, kP, &ar_lags, &lags.na, &lags.P)) return st;
  if (in.given(kQ))
    if (int st = fit_lag_list(in, kQ, &ma_lags, &lags.nm, &lags.Q)) return st;
  lags.ar = ar_lags.data();
  lags.ma = ma_lags.data();
  // opt
  int method = kFarmaCss, option2 = 0;
  if (in.given(kOpt))
    if (int st = read_options(in, &method, &option2)) return st;
  const bool exact = method == kFarmaExact;
  // Enough observations: max(P + Q, 1) + 1 below n, so that a series of
  // length 3 cannot carry two AR lags beside d; then the polynomials and the
  // likelihood's room.
  const std::int64_t order = std::int64_t(lags.P) + lags.Q;
  if ((order > 1 ? order : 1) + 1 >= n) return fail_message(kMsgTooFewObservations);
  const int m = 1 + lags.na + lags.nm + (exact ? 1 : 0);
  const int arma = lags.na + lags.nm;
  WorkBlock<double> ar_poly(std::uint64_t(lags.P) + 1), ma_poly(std::uint64_t(lags.Q) + 1);
  if (!ar_poly) return ar_poly.status();
  if (!ma_poly) return ma_poly.status();
  WorkBlock<double> lik(farma_gradient_work_size(n, lags.P, lags.Q, method));
  if (!lik) return lik.status();
  WorkBlock<double> kernel_grad(2 * (std::uint64_t(lags.P) + lags.Q + 1));
  if (!kernel_grad) return kernel_grad.status();
  // x, the cache of one point and its gradient, the second start, the first
  // run's result, the typical sizes: m doubles each
  WorkBlock<double> points(6 * std::uint64_t(m));
  if (!points) return points.status();
  double* x = points.data();
  double* cache = x + m;
  double* x2 = cache + m;
  double* first = x2 + m;
  double* typical = first + m;
  double* cache_grad = typical + m;
  StartWork sw;
  if (int st = sw.allocate(n, lags)) return st;

  FarmafitData data;
  data.lags = lags;
  data.method = method;
  data.option2 = option2;
  data.y = ym.data;
  data.n = n;
  FarmafitModel model;
  model.m = m;
  model.ar = ar_poly.data();
  model.ma = ma_poly.data();
  model.work = lik.data();
  model.cache_x = cache;
  model.use_gradient = fit_settings().analytic_gradients;
  model.grad = kernel_grad.data();
  model.cache_grad = model.use_gradient ? cache_grad : nullptr;

  // d0 by the log-periodogram regression; an exact fit starts within
  // +-0.45, where the covariance matrix of a series with an AR part is not
  // yet close to singular.
  {
    WorkBlock<double> w{std::uint64_t(gph_work_size(n))};
    if (!w) return w.status();
    x[0] = gph_start(ym.data, n, w.data());
  }
  if (exact && std::fabs(x[0]) > kFarmafitStartDMax)
    x[0] = x[0] > 0 ? kFarmafitStartDMax : -kFarmafitStartDMax;
  // The ARMA start on the fractionally differenced series.
  arma_start(data, x[0], sw, x);
  // The exact method's SIGMA parameter is held at its start (sigma^2 is
  // profiled), which must be positive: the mean square of y, or 1.
  if (exact && !(x[m - 1] > 0 && std::isfinite(x[m - 1]))) {
    x[m - 1] = mean_square(ym.data, n);
    if (!(x[m - 1] > 0) || !std::isfinite(x[m - 1])) x[m - 1] = 1.0;
  }
  evaluable_start(data, model, sw, x);

  // Names, bounds (exact: d within +-(1/2 - 2^-26.5), SIGMA fixed at its
  // start), typical sizes.
  WorkBlock<unsigned char> names(checked_mul(std::uint64_t(m), kNameRecordBytes));
  if (!names) return names.status();
  farmafit_names(lags, exact, names.data());
  // With the gradient the conditional method has a second start too (its
  // bounds leave d free: they only give second_run room).
  const bool second_start = arma > 0 && (exact || model.use_gradient);
  WorkBlock<double> bounds;
  if (exact || second_start) {
    if (int st = bounds.allocate(4 * std::uint64_t(m))) return st;  // and held bounds
    farmafit_bounds(m, bounds.data());
    if (exact) bounds[m - 1] = bounds[2 * m - 1] = x[m - 1];
    if (!exact) bounds[0] = -(bounds[m] = kFarmafitWideBound);
  }
  for (int i = 0; i < m; ++i) typical[i] = kTypicalCoefficient;
  if (exact) typical[m - 1] = x[m - 1];

  // The optimizer from the first start.
  void* ctx = context.data();
  int report = run_optimizer(ctx, data, model, x, exact ? bounds.data() : nullptr,
                             names.data(), typical);
  if (cancel_requested()) return cancelled();
  bool ok = report >= 0 && model.have_best;
  double loglik = model.best_loglik, sigma2 = model.best_sigma2;
  const int first_error = model.last_error;

  // With an ARMA part (the conditional method: with the gradient), a second
  // start at d = 0 with the Hannan-Rissanen values of y itself; the higher
  // likelihood wins.
  if (second_start) {
    std::memcpy(first, x, sizeof(double) * std::size_t(m));
    std::fill(x2, x2 + m, 0.0);
    if (exact) x2[m - 1] = x[m - 1];
    arma_start(data, 0.0, sw, x2);
    if (exact) x2[m - 1] = x[m - 1];  // SIGMA stays where the bounds hold it
    if (exact && model.use_gradient) x2[0] = kSecondStartHeldD;
    evaluable_start(data, model, sw, x2);
    const int report2 = second_run(ctx, data, model, x2, bounds.data(), exact ? bounds.data() : nullptr,
                                   bounds.data() + 2 * m, names.data(), typical);
    if (cancel_requested()) return cancelled();
    if (report2 >= 0 && model.have_best &&
        (!ok || model.best_loglik > loglik + kSecondStartMargin)) {
      std::memcpy(x, x2, sizeof(double) * std::size_t(m));
      if (ok) {
        fit_report().second_start_won = true;
        issue_message(kMsgSecondStartWon, {model.best_loglik - loglik});
      }
      loglik = model.best_loglik;
      sigma2 = model.best_sigma2;
      ok = true;
      report = report2;
    }
  }

  // The outcome.
  if (!ok) {
    if (report == kFarmafitOptimizerFailed || (report >= 0 && !model.have_best))
      return fail_message(kMsgOptimizationFailed, {"QUANEW"});
    const int e = first_error;
    if (e == 390 || e == 373 || e == kStatusGammaFailed || e == kMsgSingular)
      return fail_message(e);
    return kStatusMessage;
  }

  // The results.
  double* out = create_result(1, 1, 1);
  if (!out) return kStatusHostError;
  out[0] = x[0];
  const int parts[2][3] = {{lags.na, lags.P, 1}, {lags.nm, lags.Q, 1 + lags.na}};
  const int* part_lags[2] = {lags.ar, lags.ma};
  for (int s = 0; s < 2; ++s) {
    const int count = parts[s][0], rows = parts[s][1], at = parts[s][2];
    out = create_result(2 + s, count > 0 ? rows : 1, 1);
    if (!out) return kStatusHostError;
    if (count == 0) {
      out[0] = missing_value();
      continue;
    }
    std::memset(out, 0, sizeof(double) * std::size_t(rows));
    for (int i = 0; i < count; ++i) out[part_lags[s][i] - 1] = x[at + i];
  }
  out = create_result(4, 1, 1);
  if (!out) return kStatusHostError;
  out[0] = sigma2;
  return kStatusOk;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t farmafit_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::farmafit(args, given); },
                          mvtsa::MissingByContract::kFarmafit);
}
