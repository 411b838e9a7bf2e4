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
  // Identifiability: the rows the likelihood uses, against the coefficients
  // of one equation.
  const std::int64_t complete = varmafit_complete_rows(series.data(), T, k);
  if (complete == 0) return fail_message(kMsgNoCompleteRow);
  const std::int64_t per_equation = std::int64_t(k) * (P + Q);
  const std::int64_t rows = complete - std::max(pmax, qmax);
  if (per_equation >= rows)
    return fail_message(kMsgTooManyCoefficients,
                        {per_equation, rows > 0 ? rows : std::int64_t(0)});

  // Work space, all taken here once for the whole fit.
  const std::int64_t n = varmafit_parameter_count(k, P, Q);
  if (n > 2147483647) return allocation_failed();  // no parameter vector of that size
  const std::uint64_t kk = std::uint64_t(k) * std::uint64_t(k);
  WorkBlock<double> sigma{std::uint64_t(packed_size(k))};
  if (!sigma) return sigma.status();
  WorkBlock<double> ar(checked_mul(kk, std::uint64_t(P)));
  if (!ar) return ar.status();
  WorkBlock<double> ma(checked_mul(kk, std::uint64_t(Q)));
  if (!ma) return ma.status();
  WorkBlock<double> x{std::uint64_t(n)};
  if (!x) return x.status();
  WorkBlock<double> typical{std::uint64_t(n)};
  if (!typical) return typical.status();
  WorkBlock<double> tail(std::uint64_t(n) + 1);
  if (!tail) return tail.status();
  const std::uint64_t filter_words = varmafit_kalman_work_size(k, pmax, qmax);
  if (filter_words == 0) return allocation_failed();
  WorkBlock<double> filter(filter_words);
  if (!filter) return filter.status();
  WorkBlock<unsigned char> context(nlbrg::kContextBytes);
  if (!context) return context.status();

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

  // The start: least-squares AR blocks, zero MA blocks, the residual
  // covariance; the optimizer's typical sizes from the series' scale.
  {
    WorkBlock<double> sw(varmafit_start_work_size(k, P));
    if (!sw) return sw.status();
    varmafit_start(data, ar.data(), ma.data(), sigma.data(), sw.data());
  }
  if (varmafit_model_to_vector(ar.data(), ma.data(), sigma.data(), k, P, Q, x.data()) != 0) {
    packed_identity(k, sigma.data());
    (void)varmafit_model_to_vector(ar.data(), ma.data(), sigma.data(), k, P, Q, x.data());
  }
  varmafit_typical_sizes(data, sigma.data(), typical.data());

  // The optimizer through the bridge.
  VarmafitModel model;
  model.ar = ar.data();
  model.ma = ma.data();
  model.sigma_packed = sigma.data();
  model.filter_work = filter.data();
  tail[n] = 0.6;
  tail[2] = 1.0;
  void* ctx = context.data();
  set_context_word<std::int32_t>(ctx, nlbrg::kCtxCount, static_cast<std::int32_t>(n));
  set_context_word<double*>(ctx, nlbrg::kCtxParams, x.data());
  set_context_word<double*>(ctx, nlbrg::kCtxUnreadTail, tail.data());
  set_context_word<double*>(ctx, nlbrg::kCtxUnreadTailLast, tail.data() + n);
  set_context_word<const VarmafitData*>(ctx, nlbrg::kCtxData, &data);
  set_context_word<VarmafitModel*>(ctx, nlbrg::kCtxModel, &model);
  set_context_word<void*>(ctx, nlbrg::kCtxHostWord, host_context_word());
  BridgeCall call;
  call.caller = FitCaller::kVarmafit;
  call.objective = varmafit_objective;
  call.typical = typical.data();
  fit_report() = FitReport{};
  const int report = optimizer_bridge(ctx, call);
  if (cancel_requested()) return cancelled();
  if (report < 0) return kStatusMessage;

  // The final point back to the model, and the outputs.
  varmafit_vector_to_model(x.data(), k, P, Q, ar.data(), ma.data(), sigma.data());
  varmafit_restore_units(scale.data(), k, P, Q, ar.data(), ma.data(), sigma.data());
  if (P > 0) {
    double* out = create_result(1, k * P, k);
    if (!out) return kStatusHostError;
    std::memcpy(out, ar.data(), sizeof(double) * kk * std::size_t(P));
  }
  if (Q > 0) {
    double* out = create_result(2, k * Q, k);
    if (!out) return kStatusHostError;
    std::memcpy(out, ma.data(), sizeof(double) * kk * std::size_t(Q));
  }
  double* out = create_result(3, k, k);
  if (!out) return kStatusHostError;
  unpack_symmetric(sigma.data(), k, out);
  return kStatusOk;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t varmafit_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::varmafit(args, given); });
}
