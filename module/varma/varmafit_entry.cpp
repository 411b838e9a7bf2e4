// VARMAFIT(series, AR lags, MA lags) -> AR blocks, MA blocks, Sigma: the
// maximum-likelihood VARMA fit by the Kalman-filter likelihood, minimising
// -L through the optimizer bridge.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/fit/lag_list.hpp"
#include "module/fit/optimizer_bridge.hpp"
#include "module/frame/args.hpp"
#include "module/frame/entries.hpp"
#include "module/linalg/covariance.hpp"
#include "module/varma/varmafit.hpp"
#include "module/varma/varmafit_kalman.hpp"

namespace mvtsa {
namespace {

enum { kSeries = 0, kArLags = 1, kMaLags = 2 };

// Identifiability: the complete rows beyond the largest lag (which the
// likelihood uses) must outnumber the k (P + Q) coefficients of one
// equation.  Messages 396 and 395 otherwise.
int check_identifiable(const double* series, std::int64_t T, int k, int blocks, int order) {
  const std::int64_t complete = varmafit_complete_rows(series, T, k);
  if (complete == 0) return fail_message(kMsgNoCompleteRow);
  const std::int64_t per_equation = std::int64_t(k) * blocks;
  const std::int64_t rows = complete - order;
  if (per_equation >= rows)
    return fail_message(kMsgTooManyCoefficients,
                        {per_equation, rows > 0 ? rows : std::int64_t(0)});
  return kStatusOk;
}

// The start: least-squares AR blocks, zero MA blocks, the residual
// covariance (the identity where its factor fails), in the model and in the
// parameter vector x; the optimizer's typical sizes from the series' scale.
int set_start(const VarmafitData& data, const VarmafitModel& model, double* x, double* typical) {
  const int k = data.k, P = data.P, Q = data.Q;
  {
    WorkBlock<double> sw(varmafit_start_work_size(k, P));
    if (!sw) return sw.status();
    varmafit_start(data, model.ar, model.ma, model.sigma_packed, sw.data());
  }
  if (varmafit_model_to_vector(model.ar, model.ma, model.sigma_packed, k, P, Q, x) != 0) {
    packed_identity(k, model.sigma_packed);
    (void)varmafit_model_to_vector(model.ar, model.ma, model.sigma_packed, k, P, Q, x);
  }
  varmafit_typical_sizes(data, model.sigma_packed, typical);
  return kStatusOk;
}

// One optimizer run through the bridge from x (replaced by the best point)
// in a fresh bridge context ctx (nlbrg::kContextBytes), tail n + 1 doubles.
// Returns the bridge's report; stats receives the run's figures.
int one_run(const VarmafitData& data, VarmafitModel& model, double* x, double* typical,
            double* tail, void* ctx, BridgeStats* stats) {
  const std::int64_t n = varmafit_parameter_count(data.k, data.P, data.Q);
  std::memset(ctx, 0, nlbrg::kContextBytes);
  tail[n] = 0.6;
  tail[2] = 1.0;
  set_context_word<std::int32_t>(ctx, nlbrg::kCtxCount, static_cast<std::int32_t>(n));
  set_context_word<double*>(ctx, nlbrg::kCtxParams, x);
  set_context_word<double*>(ctx, nlbrg::kCtxUnreadTail, tail);
  set_context_word<double*>(ctx, nlbrg::kCtxUnreadTailLast, tail + n);
  set_context_word<const VarmafitData*>(ctx, nlbrg::kCtxData, &data);
  set_context_word<VarmafitModel*>(ctx, nlbrg::kCtxModel, &model);
  set_context_word<void*>(ctx, nlbrg::kCtxHostWord, host_context_word());
  BridgeCall call;
  call.caller = FitCaller::kVarmafit;
  call.objective = varmafit_objective;
  call.typical = typical;
  call.gradient = model.gradient_work != nullptr;
  call.stats = stats;
  return optimizer_bridge(ctx, call);
}

// Runs of the optimizer with the gradient, and the least relative gain that
// earns another.  A run on given gradients also stops where the
// quasi-Newton step promises less than the decrement tolerance; along the
// curved ridge of near-cancelling AR and MA blocks the curvature it has
// learnt understates what is left (a trivariate VARMA(1,1) stopped 0.12
// below the fit on values).  Another run from its point starts with a fresh
// Hessian and either gains and goes on, or confirms the point.
constexpr int kMaxGradientRuns = 6;
constexpr double kRunGain = 1e-9;

// Whether a run that reported `report` (stats filled when it ran) stopped
// on the decrease, rather than on the gradient test, at its iteration
// limit, for a failure, or without running.
bool stopped_on_decrease(int report, const BridgeStats& stats) {
  return stats.evaluations > 0 &&
         (report == nlbrg::kConvergedFunction || report == nlbrg::kNoProgress);
}

// The optimizer from x (replaced by the best point): one run on values, or
// on the gradient followed by further runs from the point reached while the
// last run stopped on the decrease and gained more than kRunGain relative.
// keep: n doubles, the point before each further run (kept where that run
// fails).  Returns the report of the last successful run.
int run_optimizer(const VarmafitData& data, VarmafitModel& model, double* x, double* typical,
                  double* tail, double* keep, void* ctx) {
  const std::size_t n = std::size_t(varmafit_parameter_count(data.k, data.P, data.Q));
  fit_report() = FitReport{};
  BridgeStats stats;
  int report = one_run(data, model, x, typical, tail, ctx, &stats);
  for (int run = 1; model.gradient_work && run < kMaxGradientRuns; ++run) {
    if (!stopped_on_decrease(report, stats) || cancel_requested()) break;
    const double before = stats.value;
    stats = BridgeStats{};
    std::memcpy(keep, x, sizeof(double) * n);
    const int again = one_run(data, model, x, typical, tail, ctx, &stats);
    if (again < 0) {
      std::memcpy(x, keep, sizeof(double) * n);
      break;
    }
    report = again;
    if (!(before - stats.value > kRunGain * std::max(1.0, std::fabs(before)))) break;
  }
  return report;
}

// Outputs 1 (the AR blocks, when P > 0), 2 (the MA blocks, when Q > 0) and
// 3 (Sigma, full) from the model.
int create_outputs(int k, int P, int Q, const VarmafitModel& model) {
  const std::size_t kk = std::size_t(k) * std::size_t(k);
  if (P > 0) {
    double* out = create_result(1, k * P, k);
    if (!out) return kStatusHostError;
    std::memcpy(out, model.ar, sizeof(double) * kk * std::size_t(P));
  }
  if (Q > 0) {
    double* out = create_result(2, k * Q, k);
    if (!out) return kStatusHostError;
    std::memcpy(out, model.ma, sizeof(double) * kk * std::size_t(Q));
  }
  double* out = create_result(3, k, k);
  if (!out) return kStatusHostError;
  unpack_symmetric(model.sigma_packed, k, out);
  return kStatusOk;
}

// The fit's work, taken once in this order: the model (Sigma, AR and MA
// blocks), the parameter vector, its typical sizes, the optimizer's tail,
// the filter's work, the bridge context; with the gradient its work and a
// copy of the point.
struct FitWork {
  WorkBlock<double> sigma, ar, ma, x, typical, tail, filter, gradient, keep;
  WorkBlock<unsigned char> context;
  int allocate(int k, int P, int Q, int pmax, int qmax, std::int64_t T) {
    const std::int64_t n = varmafit_parameter_count(k, P, Q);
    if (n > 2147483647) return allocation_failed();  // no parameter vector of that size
    const std::uint64_t kk = std::uint64_t(k) * std::uint64_t(k), un = std::uint64_t(n);
    const std::uint64_t filter_words = varmafit_kalman_work_size(k, pmax, qmax);
    if (int st = sigma.allocate(std::uint64_t(packed_size(k)))) return st;
    if (int st = ar.allocate(checked_mul(kk, std::uint64_t(P)))) return st;
    if (int st = ma.allocate(checked_mul(kk, std::uint64_t(Q)))) return st;
    if (int st = x.allocate(un)) return st;
    if (int st = typical.allocate(un)) return st;
    if (int st = tail.allocate(un + 1)) return st;
    if (filter_words == 0) return allocation_failed();
    if (int st = filter.allocate(filter_words)) return st;
    if (int st = context.allocate(nlbrg::kContextBytes)) return st;
    // The objective's gradient, unless the fit settings switch it off or its
    // work is above the cap (the optimizer then differences).
    const std::uint64_t gradient_words =
        fit_settings().analytic_gradients ? varmafit_gradient_work_size(k, P, Q, pmax, qmax, T)
                                          : 0;
    if (gradient_words == 0) return kStatusOk;
    if (int st = gradient.allocate(gradient_words)) return st;
    return keep.allocate(un);
  }
};

int varmafit(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  // The series: T x k, missing values allowed.
  MatrixArg y;
  if (int st = in.series(kSeries, &y)) return st;
  const std::int64_t T = y.rows;
  const int k = y.cols;
  // Values beyond the series bound become missing in the fit's own copy.
  WorkBlock<double> series(checked_mul(std::uint64_t(T), std::uint64_t(k)));
  if (!series) return series.status();
  (void)screen_series(y.data, T, k, true, series.data());
  // The fit runs in standard units (the scales s_j of the columns).
  WorkBlock<double> scale{std::uint64_t(k)};
  if (!scale) return scale.status();
  varmafit_standardize(series.data(), T, k, scale.data());
  // The AR and MA lag lists; at least one of them.
  WorkBlock<int> ar_lags, ma_lags;
  int P = 0, Q = 0, pmax = 0, qmax = 0;
  if (in.given(kArLags))
    if (int st = fit_lag_list(in, kArLags, &ar_lags, &P, &pmax)) return st;
  if (in.given(kMaLags))
    if (int st = fit_lag_list(in, kMaLags, &ma_lags, &Q, &qmax)) return st;
  if (P == 0 && Q == 0) return fail_message(kMsgNoCoefficients, {"order"});
  if (int st = check_identifiable(series.data(), T, k, P + Q, std::max(pmax, qmax))) return st;

  // Work space, all taken here once for the whole fit.
  FitWork w;
  if (int st = w.allocate(k, P, Q, pmax, qmax, T)) return st;
  const std::uint64_t gradient_words = w.gradient.size();

  VarmafitData data;
  data.series = series.data();
  data.T = T;
  data.k = k;
  data.ar_lags = ar_lags.data();
  data.P = P;
  data.pmax = pmax;
  data.ma_lags = ma_lags.data();
  data.Q = Q;
  data.qmax = qmax;

  VarmafitModel model;
  model.ar = w.ar.data();
  model.ma = w.ma.data();
  model.sigma_packed = w.sigma.data();
  model.filter_work = w.filter.data();
  model.gradient_work = gradient_words > 0 ? w.gradient.data() : nullptr;
  if (int st = set_start(data, model, w.x.data(), w.typical.data())) return st;
  const int report = run_optimizer(data, model, w.x.data(), w.typical.data(), w.tail.data(),
                                   w.keep.data(), w.context.data());
  if (cancel_requested()) return cancelled();
  if (report < 0) return kStatusMessage;

  // The final point back to the model in the data's units, and the outputs.
  double* ar = w.ar.data();
  double* ma = w.ma.data();
  double* sigma = w.sigma.data();
  varmafit_vector_to_model(w.x.data(), k, P, Q, ar, ma, sigma);
  varmafit_restore_units(scale.data(), k, P, Q, ar, ma, sigma);
  return create_outputs(k, P, Q, model);
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t varmafit_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::varmafit(args, given); });
}
