#include "stats/varma_inputs.hpp"

#include <cmath>
#include <cstring>

#include "module/linalg/covariance.hpp"
#include "module/varma/covariance_argument.hpp"
#include "module/varma/varma_info.hpp"
#include "module/varma/varma_kalman.hpp"

namespace mvtsa {
namespace {

// The given blocks at their lags, compact: block j at the j-th smallest
// listed lag (1 .. blocks without a list), as spread_blocks places them; a
// block at a fractional lag or beyond the distinct lags is placed nowhere.
int place_blocks(const double* given, int blocks, int k, const LagList& lags,
                 WorkBlock<double>* out, WorkBlock<int>* out_lags, int* count, int* order) {
  const std::uint64_t kk = std::uint64_t(k) * std::uint64_t(k);
  if (int st = out->allocate(checked_mul(kk, std::uint64_t(blocks)))) return st;
  if (int st = out_lags->allocate(std::uint64_t(blocks))) return st;
  *count = 0;
  for (int j = 0; j < blocks; ++j) {
    double lag = j + 1;
    if (lags.given) {
      if (std::size_t(j) >= lags.lags.size()) break;
      lag = lags.lags[std::size_t(j)];
      if (lag != std::trunc(lag)) continue;
    }
    std::memcpy(out->data() + *count * kk, given + j * kk, sizeof(double) * kk);
    (*out_lags)[*count] = static_cast<int>(lag);
    ++*count;
  }
  *order = static_cast<int>(lag_order(lags, blocks));
  return kStatusOk;
}

// Message 411 when the AR part has a companion root on or outside the circle
// (at least 1 - 2^-26.5 in modulus).
int check_stationary(const VarmaInputs& v) {
  if (v.ar_count == 0) return kStatusOk;
  WorkBlock<double> work(varma_stationarity_work(v.k, v.pmax));
  if (!work) return work.status();
  if (varma_ar_nonstationary(v.ar.data(), v.ar_count, v.pmax, v.ar_lags.data(), v.k,
                             work.data()))
    return fail_message(kMsgStatsNonstationary);
  return kStatusOk;
}

}  // namespace

VarmaParams VarmaInputs::params() const {
  VarmaParams m;
  m.k = k;
  m.ar = ar.data();
  m.ar_count = ar_count;
  m.pmax = pmax;
  m.ar_lags = ar_lags.data();
  m.ma = ma.data();
  m.ma_count = ma_count;
  m.qmax = qmax;
  m.ma_lags = ma_lags.data();
  m.sigma_packed = sigma.data();
  return m;
}

int read_varma_model(const ArgList& in, VarmaInputs* v) {
  MatrixArg y, phi, theta, sm;
  if (int st = in.series(kVarmaSeries, &y)) return st;
  int dim = y.cols, p = 0, q = 0;
  if (int st = in.coefficient_pair(kVarmaPhi, kVarmaTheta, &dim, &phi, &p, &theta, &q))
    return st;
  if (in.given(kVarmaSigma))
    if (int st = in.square(kVarmaSigma, &dim, &sm)) return st;
  v->k = y.cols;
  v->T = y.rows;
  if (int st = v->sigma.allocate(std::uint64_t(packed_size(v->k)))) return st;
  if (int st = covariance_argument(in.given(kVarmaSigma) ? sm.data : nullptr, v->k,
                                   v->sigma.data()))
    return st;
  LagList ar_lags, ma_lags;
  if (in.given(kVarmaArLags))
    if (int st = in.lag_list(kVarmaArLags, p, "AR", &ar_lags)) return st;
  if (in.given(kVarmaMaLags))
    if (int st = in.lag_list(kVarmaMaLags, q, "MA", &ma_lags)) return st;
  if (int st = place_blocks(phi.data, p, v->k, ar_lags, &v->ar, &v->ar_lags, &v->ar_count,
                            &v->pmax))
    return st;
  if (int st = place_blocks(theta.data, q, v->k, ma_lags, &v->ma, &v->ma_lags, &v->ma_count,
                            &v->qmax))
    return st;
  if (int st = check_stationary(*v)) return st;
  const std::int64_t largest = v->pmax > v->qmax ? v->pmax : v->qmax;
  if (v->T <= largest) return fail_message(kMsgStatsSeriesShort, {v->T, largest});
  if (int st = v->series.allocate(checked_mul(std::uint64_t(v->T), std::uint64_t(v->k))))
    return st;
  (void)screen_series(y.data, v->T, v->k, false, v->series.data());
  return kStatusOk;
}

int read_varma_mean(const ArgList& in, int slot, VarmaInputs* v) {
  if (int st = v->mean.allocate(std::uint64_t(v->k))) return st;
  if (!in.given(slot)) return kStatusOk;
  MatrixArg m;
  int dim = v->k;
  if (int st = in.vector(slot, &dim, &m)) return st;
  for (int j = 0; j < v->k; ++j) v->mean[j] = m.data[j];
  for (std::int64_t t = 0; t < v->T; ++t)
    for (int j = 0; j < v->k; ++j) v->series[t * v->k + j] -= m.data[j];
  return kStatusOk;
}

int varma_outcome_status(int outcome) {
  switch (outcome) {
    case kStatusOk: return kStatusOk;
    case kKalmanSingular: return fail_message(kMsgSingular);
    case kKalmanCancelled: return cancelled();
    default: return kStatusMessage;  // a diverging filter, as VARMALIK ends it
  }
}

}  // namespace mvtsa
