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

// Everything one fit holds: the arguments read, the work blocks, the data
// and model records of the objective.
struct FitState {
  WorkBlock<int> ar_lags, ma_lags;
  ArmaLags lags;
  int method = kFarmaCss, option2 = 0, m = 0, arma = 0;
  bool exact = false;
  const double* y = nullptr;  // the series as given
  std::int64_t n = 0;
  WorkBlock<double> centred;  // y less its sample mean (FARMAFITMEAN)
  double sample_mean = 0.0;
  WorkBlock<double> ar_poly, ma_poly, lik, kernel_grad, points, bounds;
  bool second_start = false;  // a second run from d = 0 (fit_from_starts)
  WorkBlock<unsigned char> names;
  StartWork sw;
  FarmafitData data;
  FarmafitModel model;
  double* x = nullptr;  // the start, then the estimate (m doubles)
  double* typical = nullptr;
};

// y, the lags and opt, checked in that order, and the length of the series.
int read_fit_arguments(const ArgList& in, FitState& f) {
  if (!in.given(kY)) return kStatusNoValue;
  MatrixArg ym;
  if (int st = in.fetch(kY, &ym)) return st;
  if ((ym.rows < ym.cols ? ym.rows : ym.cols) != 1) return kStatusNotVector;
  if (has_missing(in.slot(kY))) return kStatusMissing;
  f.y = ym.data;
  f.n = ym.length();
  if (in.given(kP))
    if (int st = fit_lag_list(in, kP, &f.ar_lags, &f.lags.na, &f.lags.P)) return st;
  if (in.given(kQ))
    if (int st = fit_lag_list(in, kQ, &f.ma_lags, &f.lags.nm, &f.lags.Q)) return st;
  f.lags.ar = f.ar_lags.data();
  f.lags.ma = f.ma_lags.data();
  if (in.given(kOpt))
    if (int st = read_options(in, &f.method, &f.option2)) return st;
  f.exact = f.method == kFarmaExact;
  // Enough observations: max(P + Q, 1) + 1 below n, so that a series of
  // length 3 cannot carry two AR lags beside d.
  const std::int64_t order = std::int64_t(f.lags.P) + f.lags.Q;
  if ((order > 1 ? order : 1) + 1 >= f.n) return fail_message(kMsgTooFewObservations);
  f.m = 1 + f.lags.na + f.lags.nm + (f.exact ? 1 : 0);
  f.arma = f.lags.na + f.lags.nm;
  return kStatusOk;
}

// With the mean estimated: the series less its sample mean, which the fit
// sees instead of y (so that y and y + c give the same fit).  The exact
// method then profiles the GLS mean of the centred series in its objective;
// the conditional method keeps the sample mean.
int centre_series(FitState& f) {
  if (int st = f.centred.allocate(std::uint64_t(f.n))) return st;
  double sum = 0.0;
  for (std::int64_t t = 0; t < f.n; ++t) sum += f.y[t];
  f.sample_mean = sum / double(f.n);
  for (std::int64_t t = 0; t < f.n; ++t) f.centred[t] = f.y[t] - f.sample_mean;
  return kStatusOk;
}

// The polynomials, the likelihood's room, the points and the starts' work,
// and the records of the objective.
int allocate_fit(FitState& f, FarmafitMean mean) {
  const ArmaLags& lags = f.lags;
  const bool gls = mean == FarmafitMean::kEstimate && f.exact;
  if (int st = f.ar_poly.allocate(std::uint64_t(lags.P) + 1)) return st;
  if (int st = f.ma_poly.allocate(std::uint64_t(lags.Q) + 1)) return st;
  // The GLS-mean objective runs on values; the others take the analytic
  // gradient unless the fit settings switch it off.
  const std::int64_t value_work =
      farma_loglik_work_size(f.n, lags.P, lags.Q, gls ? kFarmaExactGls : f.method);
  const std::int64_t gradient_work = farma_gradient_work_size(f.n, lags.P, lags.Q, f.method);
  if (int st = f.lik.allocate(std::uint64_t(std::max(value_work, gradient_work)))) return st;
  if (int st = f.kernel_grad.allocate(2 * (std::uint64_t(lags.P) + lags.Q + 1))) return st;
  // x, the cache of one point and its gradient, the second start, the first
  // run's result, the typical sizes: m doubles each
  if (int st = f.points.allocate(6 * std::uint64_t(f.m))) return st;
  f.x = f.points.data();
  f.typical = f.x + 4 * f.m;
  if (int st = f.sw.allocate(f.n, lags)) return st;
  f.data.lags = lags;
  f.data.method = f.method;
  f.data.option2 = f.option2;
  f.data.gls_mean = gls;
  f.data.y = mean == FarmafitMean::kEstimate ? f.centred.data() : f.y;
  f.data.n = f.n;
  f.model.m = f.m;
  f.model.ar = f.ar_poly.data();
  f.model.ma = f.ma_poly.data();
  f.model.work = f.lik.data();
  f.model.cache_x = f.x + f.m;
  f.model.use_gradient = fit_settings().analytic_gradients && !gls;
  f.model.grad = f.kernel_grad.data();
  f.model.cache_grad = f.model.use_gradient ? f.typical + f.m : nullptr;
  return kStatusOk;
}

// The start: d0 by the log-periodogram regression (within +-0.45 for the
// exact method, where the covariance matrix of a series with an AR part is
// not yet close to singular), the ARMA start on the fractionally differenced
// series, SIGMA (exact method) positive, then a start that evaluates; the
// names, bounds (exact: d within +-(1/2 - 2^-26.5), SIGMA fixed at its
// start) and typical sizes.
int choose_start(FitState& f) {
  const FarmafitData& data = f.data;
  double* x = f.x;
  const int m = f.m;
  {
    WorkBlock<double> w{std::uint64_t(gph_work_size(f.n))};
    if (!w) return w.status();
    x[0] = gph_start(data.y, f.n, w.data());
  }
  if (f.exact && std::fabs(x[0]) > kFarmafitStartDMax)
    x[0] = x[0] > 0 ? kFarmafitStartDMax : -kFarmafitStartDMax;
  arma_start(data, x[0], f.sw, x);
  // The exact method's SIGMA parameter is held at its start (sigma^2 is
  // profiled), which must be positive: the mean square of y, or 1.
  if (f.exact && !(x[m - 1] > 0 && std::isfinite(x[m - 1]))) {
    x[m - 1] = mean_square(data.y, f.n);
    if (!(x[m - 1] > 0) || !std::isfinite(x[m - 1])) x[m - 1] = 1.0;
  }
  evaluable_start(data, f.model, f.sw, x);
  if (int st = f.names.allocate(checked_mul(std::uint64_t(m), kNameRecordBytes))) return st;
  farmafit_names(f.lags, f.exact, f.names.data());
  // With the gradient the conditional method has a second start too (its
  // bounds leave d free: they only give second_run room).
  f.second_start = f.arma > 0 && (f.exact || f.model.use_gradient);
  if (f.exact || f.second_start) {
    if (int st = f.bounds.allocate(4 * std::uint64_t(m))) return st;  // and held bounds
    farmafit_bounds(m, f.bounds.data());
    if (f.exact) f.bounds[m - 1] = f.bounds[2 * m - 1] = x[m - 1];
    if (!f.exact) f.bounds[0] = -(f.bounds[m] = kFarmafitWideBound);
  }
  for (int i = 0; i < m; ++i) f.typical[i] = kTypicalCoefficient;
  if (f.exact) f.typical[m - 1] = x[m - 1];
  return kStatusOk;
}

// What the optimizer runs gave: whether one succeeded, the bridge's report,
// the best point's log-likelihood, variance and (GLS) mean, and the first
// run's last likelihood failure.
struct FitOutcome {
  bool ok = false;
  int report = 0;
  double loglik = 0.0, sigma2 = 0.0, mean = 0.0;
  int first_error = 0;
};

// The optimizer from the first start; with an ARMA part (the conditional
// method: with the gradient) also from a second start at d = 0 with the
// Hannan-Rissanen values of y itself, the higher likelihood winning (note
// 397 when the second did).
int fit_from_starts(FitState& f, void* ctx, FitOutcome* out) {
  FarmafitModel& model = f.model;
  const int m = f.m;
  double* x = f.x;
  double* x2 = x + 2 * m;
  double* first = x + 3 * m;
  const double* bounds = f.exact ? f.bounds.data() : nullptr;
  FitOutcome& o = *out;
  o.report = run_optimizer(ctx, f.data, model, x, bounds, f.names.data(), f.typical);
  if (cancel_requested()) return cancelled();
  o.ok = o.report >= 0 && model.have_best;
  o.loglik = model.best_loglik;
  o.sigma2 = model.best_sigma2;
  o.mean = model.best_mean;
  o.first_error = model.last_error;
  if (!f.second_start) return kStatusOk;
  std::memcpy(first, x, sizeof(double) * std::size_t(m));
  std::fill(x2, x2 + m, 0.0);
  if (f.exact) x2[m - 1] = x[m - 1];
  arma_start(f.data, 0.0, f.sw, x2);
  if (f.exact) x2[m - 1] = x[m - 1];  // SIGMA stays where the bounds hold it
  if (f.exact && model.use_gradient) x2[0] = kSecondStartHeldD;
  evaluable_start(f.data, model, f.sw, x2);
  const int report2 = second_run(ctx, f.data, model, x2, f.bounds.data(), bounds,
                                 f.bounds.data() + 2 * m, f.names.data(), f.typical);
  if (cancel_requested()) return cancelled();
  if (report2 >= 0 && model.have_best &&
      (!o.ok || model.best_loglik > o.loglik + kSecondStartMargin)) {
    std::memcpy(x, x2, sizeof(double) * std::size_t(m));
    if (o.ok) {
      fit_report().second_start_won = true;
      issue_message(kMsgSecondStartWon, {model.best_loglik - o.loglik});
    }
    o.loglik = model.best_loglik;
    o.sigma2 = model.best_sigma2;
    o.mean = model.best_mean;
    o.ok = true;
    o.report = report2;
  }
  return kStatusOk;
}

// The failure of a fit that found no point: the optimizer's, or the
// likelihood's last failure.
int fit_failure(const FitState& f, const FitOutcome& o) {
  if (o.report == kFarmafitOptimizerFailed || (o.report >= 0 && !f.model.have_best))
    return fail_message(kMsgOptimizationFailed, {"QUANEW"});
  const int e = o.first_error;
  if (e == 390 || e == 373 || e == kStatusGammaFailed || e == kMsgSingular)
    return fail_message(e);
  return kStatusMessage;
}

// d, the AR and MA coefficients at their lags (1 x 1 missing without that
// part), the variance, and with the mean estimated the mean.
int write_fit_results(const FitState& f, const FitOutcome& o, FarmafitMean mean) {
  const ArmaLags& lags = f.lags;
  const double* x = f.x;
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
  out[0] = o.sigma2;
  if (mean == FarmafitMean::kEstimate) {
    out = create_result(5, 1, 1);
    if (!out) return kStatusHostError;
    out[0] = f.sample_mean + (f.data.gls_mean ? o.mean : 0.0);
  }
  return kStatusOk;
}

// With the mean estimated: the estimate refined by Newton's method
// (farmafit_polish), so that fits of y and of y + c, whose optimizer runs
// see different roundings, end at the same maximum.
int polish_estimate(FitState& f, FitOutcome* o) {
  WorkBlock<double> w(farmafit_polish_work_size(f.m));
  if (!w) return w.status();
  double L = 0.0;
  if (farmafit_polish(f.data, f.model, f.x, &L, w.data()) < 0) return kStatusOk;
  o->loglik = L;
  o->sigma2 = f.model.sigma2;
  o->mean = f.data.gls_mean ? f.model.work[3] : 0.0;
  return kStatusOk;
}

}  // namespace

int farmafit_call(void** args, const std::int32_t* given, FarmafitMean mean) {
  ArgList in(args, given);
  fit_report() = FitReport{};
  // The bridge context.
  WorkBlock<unsigned char> context(nlbrg::kContextBytes);
  if (!context) return context.status();
  FitState f;
  if (int st = read_fit_arguments(in, f)) return st;
  if (mean == FarmafitMean::kEstimate)
    if (int st = centre_series(f)) return st;
  if (int st = allocate_fit(f, mean)) return st;
  if (int st = choose_start(f)) return st;
  FitOutcome o;
  if (int st = fit_from_starts(f, context.data(), &o)) return st;
  if (!o.ok) return fit_failure(f, o);
  if (mean == FarmafitMean::kEstimate)
    if (int st = polish_estimate(f, &o)) return st;
  return write_fit_results(f, o, mean);
}

namespace {

int farmafit(void** args, const std::int32_t* given) {
  return farmafit_call(args, given, FarmafitMean::kZero);
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t farmafit_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::farmafit(args, given); },
                          mvtsa::MissingByContract::kFarmafit);
}
