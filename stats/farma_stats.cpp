#include "stats/farma_stats.hpp"

#include <cmath>

#include "module/farma/farma_loglik.hpp"

namespace mvtsa {

int farma_stats_model(const ArgList& in, FarmaStatsModel* out) {
  // The series: a vector without missing values.
  if (!in.given(kFsSeries)) return kStatusNoValue;
  MatrixArg y;
  if (int st = in.fetch(kFsSeries, &y)) return st;
  if ((y.rows != 1 && y.cols != 1) || y.size() < 1) return kStatusNotVector;
  if (has_missing(in.slot(kFsSeries))) return kStatusMissing;
  out->y = y.data;
  out->n = y.length();
  // d, a scalar for now; phi, theta, sigma^2, the polynomials.
  if (!in.given(kFsD)) return kStatusMissing;
  if (int st = farma_scalar_arg(in, kFsD, &out->model.d)) return st;
  if (int st = farma_coef_arg(in, kFsPhi, &out->phi, &out->np)) return st;
  if (int st = farma_coef_arg(in, kFsTheta, &out->theta, &out->nq)) return st;
  if (in.given(kFsSigma))
    if (int st = farma_sigma_arg(in, kFsSigma, &out->model.sigma2)) return st;
  if (int st = farma_polynomial(in, kFsArLags, out->phi.data, out->np, "AR", &out->model.ar))
    return st;
  if (int st = farma_polynomial(in, kFsMaLags, out->theta.data, out->nq, "MA", &out->model.ma))
    return st;
  farma_negate(&out->model.ar);
  farma_negate(&out->model.ma);
  // The largest lags the arguments name, and a series longer than both.
  LagList lags;
  if (in.given(kFsArLags)) (void)in.lag_list(kFsArLags, out->np, "AR", &lags);
  out->P = lag_order(lags, out->np);
  lags = LagList{};
  if (in.given(kFsMaLags)) (void)in.lag_list(kFsMaLags, out->nq, "MA", &lags);
  out->Q = lag_order(lags, out->nq);
  const std::int64_t largest = out->P > out->Q ? out->P : out->Q;
  if (out->n <= largest) {
    (void)in.refetch(kFsSeries);  // the series is the argument to name
    return fail_message(kMsgFarmaShortSeries, {out->n, largest});
  }
  return kStatusOk;
}

int farma_stats_check_d(const ArgList& in, double d, int method) {
  const double bound = method == kFarmaExact ? kDBoundHalf : kDBoundOne;
  if (std::fabs(d) < bound) return kStatusOk;
  (void)in.refetch(kFsD);
  return fail_message(kMsgFarmaDRange, {d});
}

int farma_stats_method(const ArgList& in, int slot, int* method) {
  *method = kFarmaCss;
  if (!in.given(slot)) return kStatusOk;
  double opt = 0.0;
  if (int st = farma_scalar_arg(in, slot, &opt)) return st;
  if (opt < 0.0 || opt > 1.0) return kStatusRange;
  *method = std::trunc(opt) == 1.0 ? kFarmaExact : kFarmaCss;
  return kStatusOk;
}

int farma_stats_mean(const ArgList& in, int slot, double* mean) {
  *mean = 0.0;
  if (!in.given(slot)) return kStatusOk;
  return farma_scalar_arg(in, slot, mean);
}

int farma_stats_coefficient_lags(const ArgList& in, int lag_slot, int count, const char* which,
                                 WorkBlock<int>* lags, int* order) {
  *order = 0;
  if (int st = lags->allocate(std::uint64_t(count))) return st;
  LagList list;
  if (in.given(lag_slot))
    if (int st = in.lag_list(lag_slot, count, which, &list)) return st;
  const std::int64_t distinct = list.given ? std::int64_t(list.lags.size()) : count;
  const bool in_order = !list.given || list.order == distinct;
  for (int k = 0; k < count; ++k) {
    std::int64_t lag = 0;
    if (k < distinct) {
      const double listed = in_order ? double(k + 1) : list.lags[std::size_t(k)];
      if (listed == std::trunc(listed)) lag = std::int64_t(listed);
    }
    if (lag < 1) {
      (void)in.refetch(lag_slot);
      return fail_message(kMsgFarmaLaglessCoefficient, {which, k + 1});
    }
    (*lags)[k] = int(lag);
    if (lag > *order) *order = int(lag);
  }
  return kStatusOk;
}

int farma_stats_failure(const ArgList& in, int code) {
  if (code == kStatusNonstationary) {
    (void)in.refetch(kFsPhi);
    return fail_message(kMsgFarmaNotStationary);
  }
  return fail_message(code);
}

}  // namespace mvtsa
