// FARMAFIT(y, p, q, opt) -> d, AR coefficients, MA coefficients, variance:
// the ARFIMA(p, d, q) fit by maximum likelihood (conditional sum of squares
// or exact), from a log-periodogram start for d and a Hannan-Rissanen start
// for the ARMA part, through the optimizer bridge.
#include <cmath>
#include <cstring>

#include "module/farma/farma_loglik.hpp"
#include "module/farma/farmafit.hpp"
#include "module/farma/farmafit_start.hpp"
#include "module/farma/frac_diff.hpp"
#include "module/farma/gph.hpp"
#include "module/frame/args.hpp"
#include "module/frame/entries.hpp"
#include "module/varma/optimizer_bridge.hpp"
#include "module/varma/varmafit.hpp"

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

int farmafit(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  // 1. The bridge context.
  WorkBlock<unsigned char> context(nlbrg::kContextBytes);
  if (!context) return context.status();
  // 2. y
  if (!in.given(kY)) return kStatusNoValue;
  MatrixArg ym;
  if (int st = in.fetch(kY, &ym)) return st;
  if ((ym.rows < ym.cols ? ym.rows : ym.cols) != 1) return kStatusNotVector;
  if (has_missing(in.slot(kY))) return kStatusMissing;
  const std::int64_t n = ym.length();
  // 3. the lags
  WorkBlock<int> ar_lags, ma_lags;
  ArmaLags lags;
  if (in.given(kP))
    if (int st = fit_lag_list(in, kP, &ar_lags, &lags.na, &lags.P)) return st;
  if (in.given(kQ))
    if (int st = fit_lag_list(in, kQ, &ma_lags, &lags.nm, &lags.Q)) return st;
  lags.ar = ar_lags.data();
  lags.ma = ma_lags.data();
  // 4. opt
  int method = kFarmaCss, option2 = 0;
  if (in.given(kOpt))
    if (int st = read_options(in, &method, &option2)) return st;
  const bool exact = method == kFarmaExact;
  // 5. enough observations: max(P + Q, 1) + 1 below n, so that a series of
  // length 3 cannot carry two AR lags beside d; then the polynomials and the
  // likelihood's room
  const std::int64_t order = std::int64_t(lags.P) + lags.Q;
  if ((order > 1 ? order : 1) + 1 >= n) return fail_message(kMsgTooFewObservations);
  const int m = 1 + lags.na + lags.nm + (exact ? 1 : 0);
  WorkBlock<double> ar_poly(std::uint64_t(lags.P) + 1), ma_poly(std::uint64_t(lags.Q) + 1);
  if (!ar_poly) return ar_poly.status();
  if (!ma_poly) return ma_poly.status();
  WorkBlock<double> lik(farma_loglik_work_size(n, lags.P, lags.Q, method));
  if (!lik) return lik.status();
  WorkBlock<double> x{std::uint64_t(m)};
  if (!x) return x.status();

  // 6. d0 by the log-periodogram regression
  const double* y = ym.data;
  {
    WorkBlock<double> w{std::uint64_t(gph_work_size(n))};
    if (!w) return w.status();
    x[0] = gph_start(y, n, w.data());
  }
  // 7. the ARMA start on the fractionally differenced series
  {
    WorkBlock<double> u{std::uint64_t(n)};
    if (!u) return u.status();
    WorkBlock<double> fw{std::uint64_t(frac_diff_work_size(n))};
    if (!fw) return fw.status();
    if (frac_diff_filter(u.data(), fw.data(), x[0], y, n, fw.data() + n) == 0) {
      const double* us = u.data();
      std::int64_t nu = n;
      if (std::fabs(x[0]) > kCloseTol) {  // the first value is the missing value
        ++us;
        --nu;
      }
      if (lags.na + lags.nm > 0 || !exact) {
        WorkBlock<double> hw(hannan_rissanen_work_size(nu, lags));
        if (!hw) return hw.status();
        (void)hannan_rissanen_start(us, nu, lags, exact, x.data() + 1, hw.data());
      } else {
        x[m - 1] = mean_square(us, nu);
      }
    }
  }
  // The exact method cannot start from a variance of 0: the covariance
  // matrix would be singular at the start.  Fall back to the mean square of
  // y (the model has mean zero), or 1.
  if (exact && !(x[m - 1] > 0)) {
    x[m - 1] = mean_square(y, n);
    if (!(x[m - 1] > 0) || !std::isfinite(x[m - 1])) x[m - 1] = 1.0;
  }

  // 8. names and, for the exact method, bounds
  WorkBlock<unsigned char> names(checked_mul(std::uint64_t(m), kNameRecordBytes));
  if (!names) return names.status();
  farmafit_names(lags, exact, names.data());
  WorkBlock<double> bounds;
  if (exact) {
    if (int st = bounds.allocate(2 * std::uint64_t(m))) return st;
    farmafit_bounds(m, bounds.data());
  }

  // 9. the optimizer
  FarmafitData data;
  data.lags = lags;
  data.method = method;
  data.option2 = option2;
  data.y = y;
  data.n = n;
  FarmafitModel model;
  model.m = m;
  model.ar = ar_poly.data();
  model.ma = ma_poly.data();
  model.work = lik.data();
  void* ctx = context.data();
  set_context_word<std::int32_t>(ctx, nlbrg::kCtxCount, m);
  set_context_word<double*>(ctx, nlbrg::kCtxParams, x.data());
  if (exact) {
    set_context_word<double*>(ctx, nlbrg::kCtxLower, bounds.data());
    set_context_word<double*>(ctx, nlbrg::kCtxUpper, bounds.data() + m);
  }
  set_context_word<unsigned char*>(ctx, nlbrg::kCtxNames, names.data());
  set_context_word<const FarmafitData*>(ctx, nlbrg::kCtxData, &data);
  set_context_word<FarmafitModel*>(ctx, nlbrg::kCtxModel, &model);
  set_context_word<void*>(ctx, nlbrg::kCtxHostWord, host_context_word());
  BridgeCall call;
  call.caller = FitCaller::kFarmafit;
  call.objective = farmafit_callback;
  call.reset_caller_state = option2 == 0;
  const int report = optimizer_bridge(ctx, call);

  // 10. the outcome
  if (report < 0) {
    if (report == kFarmafitOptimizerFailed)
      return fail_message(kMsgOptimizationFailed, {"QUANEW"});
    const int e = model.last_error;
    if (e == 390 || e == 373 || e == kStatusGammaFailed || e == kMsgSingular)
      return fail_message(e);
    return kStatusMessage;
  }
  // The variance of the conditional method comes from the last evaluation;
  // when the optimizer never ran, from an evaluation at the start.
  double sigma2 = exact ? x[m - 1] : model.css_sigma2;
  if (!exact && !model.evaluated) {
    double L = 0.0;
    sigma2 = farmafit_objective(data, model, x.data(), &L) == 0 ? model.css_sigma2
                                                                 : missing_value();
  }

  // 11. the results
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
