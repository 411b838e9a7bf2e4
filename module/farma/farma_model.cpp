#include "module/farma/farma_model.hpp"

#include <cmath>
#include <cstring>

namespace mvtsa {

int farma_scalar_arg(const ArgList& in, int i, double* value) {
  MatrixArg m;
  if (int st = in.fetch(i, &m)) return st;
  if (m.size() != 1) return kStatusNotScalar;
  if (has_missing(in.slot(i))) return kStatusMissing;
  *value = m.data[0];
  return kStatusOk;
}

int farma_d_arg(const ArgList& in, int i, double bound, double* d) {
  if (!in.given(i)) return kStatusMissing;
  if (int st = farma_scalar_arg(in, i, d)) return st;
  const double a = std::fabs(*d);
  if (!(a > kCloseTol && a < bound)) return fail_message(kMsgDRange);
  return kStatusOk;
}

int farma_sigma_arg(const ArgList& in, int i, double* sigma2) {
  if (int st = farma_scalar_arg(in, i, sigma2)) return st;
  if (!(*sigma2 > 0.0)) return kStatusNotPd;
  return kStatusOk;
}

int farma_coef_arg(const ArgList& in, int i, MatrixArg* m, int* count) {
  *count = 0;
  if (!in.given(i)) return kStatusOk;
  if (int st = in.fetch(i, m)) return st;
  if (has_missing(in.slot(i))) return kStatusMissing;
  if (m->rows < 1 || m->cols < 1) return fail_message(kMsgDimension);
  if (m->rows != 1 && m->cols != 1) return kStatusNotVector;
  *count = static_cast<int>(m->length());
  return kStatusOk;
}

int farma_model_args(const ArgList& in, const FarmaSlots& slots, double d_bound,
                     FarmaModel* model) {
  if (int st = farma_d_arg(in, slots.d, d_bound, &model->d)) return st;
  MatrixArg phi, theta;
  int np = 0, nq = 0;
  if (int st = farma_coef_arg(in, slots.phi, &phi, &np)) return st;
  if (int st = farma_coef_arg(in, slots.theta, &theta, &nq)) return st;
  if (in.given(slots.sigma))
    if (int st = farma_sigma_arg(in, slots.sigma, &model->sigma2)) return st;
  if (int st = farma_polynomial(in, slots.ar_lags, phi.data, np, "AR", &model->ar)) return st;
  return farma_polynomial(in, slots.ma_lags, theta.data, nq, "MA", &model->ma);
}

int farma_polynomial(const ArgList& in, int lag_slot, const double* given, int count,
                     const char* which, FarmaPoly* out) {
  LagList lags;
  if (in.given(lag_slot))
    if (int st = in.lag_list(lag_slot, count, which, &lags)) return st;
  const std::int64_t order = lag_order(lags, count);
  // A lag of 2147483647 asks for 2^31 coefficients: more than the 32-bit
  // orders and loop counts of the FARMA routines can hold, so it ends the
  // call as a refused allocation.
  if (order >= 2147483647) return allocation_failed();
  if (int st = out->coef.allocate(std::uint64_t(order) + 1)) return st;
  double* c = out->coef.data();
  std::memset(c, 0, sizeof(double) * (std::size_t(order) + 1));
  c[0] = 1.0;
  const std::int64_t distinct = lags.given ? std::int64_t(lags.lags.size()) : count;
  if (!lags.given || order == distinct) {
    // Lags 1..order: the coefficients in the order given.
    for (std::int64_t j = 0; j < order; ++j) c[j + 1] = given[j];
  } else {
    // The k-th given coefficient at the k-th smallest distinct lag.
    for (std::int64_t k = 0; k < distinct && k < count; ++k) {
      const double lag = lags.lags[std::size_t(k)];
      if (lag != std::trunc(lag)) continue;  // a fractional lag names no coefficient
      c[static_cast<std::int64_t>(lag)] = given[k];
    }
  }
  // Drop trailing coefficients not above 2^-26.5 in magnitude.
  std::int64_t p = order;
  while (p > 0 && !(std::fabs(c[p]) > kCloseTol)) --p;
  out->order = static_cast<int>(p);
  return kStatusOk;
}

void farma_negate(FarmaPoly* poly) {
  for (std::int64_t j = 1; j <= poly->order; ++j) poly->coef[j] = -poly->coef[j];
}

}  // namespace mvtsa
