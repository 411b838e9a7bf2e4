#include "module/varma/varmafit.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/blas/blas.hpp"
#include "module/frame/host.hpp"
#include "module/varma/covariance.hpp"
#include "module/varma/optimizer_bridge.hpp"
#include "module/varma/varma_kalman.hpp"

namespace mvtsa {

int fit_lag_list(const ArgList& in, int i, WorkBlock<int>* lags, int* count, int* order) {
  MatrixArg m;
  if (int st = in.fetch(i, &m)) return st;
  if (has_missing(in.slot(i))) return kStatusMissing;
  if (m.rows < 1 || m.cols < 1) return fail_message(kMsgDimension);
  if (m.rows > 1 && m.cols > 1) return fail_message(kMsgShape, {"matrix", "vector"});
  const std::int64_t n = m.size();
  for (std::int64_t j = 0; j < n; ++j)
    if (!(m.data[j] >= 1)) return fail_message(kMsgNotPositive);
  for (std::int64_t j = 0; j < n; ++j)
    if (m.data[j] > 2147483647.0) return kStatusTooLarge;
  if (int st = lags->allocate(std::uint64_t(n))) return st;
  int* l = lags->data();
  for (std::int64_t j = 0; j < n; ++j) l[j] = static_cast<int>(m.data[j]);
  std::sort(l, l + n);
  *count = static_cast<int>(std::unique(l, l + n) - l);
  *order = l[*count - 1];
  return kStatusOk;
}

void varmafit_vector_to_model(const double* x, int k, int P, int Q, double* ar, double* ma,
                              double* sigma_packed) {
  const std::int64_t kk = std::int64_t(k) * k;
  const std::int64_t seg = std::int64_t(k) * (P + Q);
  for (int j = 0; j < k; ++j) {
    const double* s = x + j * seg;
    for (int b = 0; b < P; ++b, s += k) std::memcpy(ar + b * kk + j * k, s, sizeof(double) * k);
    for (int b = 0; b < Q; ++b, s += k) std::memcpy(ma + b * kk + j * k, s, sizeof(double) * k);
  }
  // Sigma = L L', in place over the packed copy of L: rows from the last
  // upwards and, within a row, columns from the diagonal down, so that every
  // element is overwritten only after its last use.
  const double* l = x + k * seg;
  std::memcpy(sigma_packed, l, sizeof(double) * std::size_t(packed_size(k)));
  for (int i = k - 1; i >= 0; --i) {
    double* ri = sigma_packed + packed_index(i, 0);
    for (int j = i; j >= 0; --j) {
      const double* rj = sigma_packed + packed_index(j, 0);
      double s = 0.0;
      for (int m = 0; m <= j; ++m) s += ri[m] * rj[m];
      ri[j] = s;
    }
  }
}

int varmafit_model_to_vector(const double* ar, const double* ma, const double* sigma_packed,
                             int k, int P, int Q, double* x) {
  const std::int64_t kk = std::int64_t(k) * k;
  const std::int64_t seg = std::int64_t(k) * (P + Q);
  for (int j = 0; j < k; ++j) {
    double* s = x + j * seg;
    for (int b = 0; b < P; ++b, s += k) std::memcpy(s, ar + b * kk + j * k, sizeof(double) * k);
    for (int b = 0; b < Q; ++b, s += k) std::memcpy(s, ma + b * kk + j * k, sizeof(double) * k);
  }
  double* l = x + k * seg;
  std::memcpy(l, sigma_packed, sizeof(double) * std::size_t(packed_size(k)));
  return cholesky_packed(l, k, kVarmafitPivotTol, kVarmafitPivotTol);
}

int varmafit_evaluate(const VarmafitData& data, VarmafitModel& model, double* x, double* value) {
  // 1. vector -> model
  varmafit_vector_to_model(x, data.k, data.P, data.Q, model.ar, model.ma, model.sigma_packed);
  // 2. the Kalman-filter likelihood; any non-zero status fails the point.
  // A floating-point fault recorded by a vector kernel on the way belongs to
  // this trial point only: it fails the point and is cleared.
  if (model.host_error) return kStatusHostError;
  const int before = fp_fault();
  // Status 1 is both "host error raised" (the values are then not written)
  // and a determinant status (with the values written): a value left NaN
  // tells the two apart.
  model.loglik[0] = missing_value();
  int st = varma_kalman_loglik(&model.loglik[0], &model.loglik[1], &model.loglik[2], data.series,
                               data.T, data.k, model.ar, data.P, data.pmax, data.ar_lags,
                               model.ma, data.Q, data.qmax, data.ma_lags, model.sigma_packed);
  if (before == kFpNone && fp_fault() != kFpNone) {
    clear_fp_fault();
    if (st == 0) st = kStatusMessage;
  }
  if (st == kStatusHostError && std::isnan(model.loglik[0])) model.host_error = true;
  if (st != 0) return st;
  // 3. a log-likelihood beyond 2^506 in magnitude rejects the point
  const double L = model.loglik[0];
  if (std::fabs(L) > kSeriesBound) {
    issue_message(kMsgLoglikBound, {kSeriesBound});
    return kStatusMessage;
  }
  if (std::isnan(L)) return kStatusMessage;
  // 5. model -> vector: the L part becomes the Cholesky factor of Sigma
  if (varmafit_model_to_vector(model.ar, model.ma, model.sigma_packed, data.k, data.P, data.Q,
                               x) != 0)
    return kStatusMessage;
  // 4. the value for the minimiser
  *value = -L;
  return 0;
}

int varmafit_objective(void* args) {
  void* ctx = bridge_context(args);
  const auto* data = context_word<const VarmafitData*>(ctx, nlbrg::kCtxData);
  auto* model = context_word<VarmafitModel*>(ctx, nlbrg::kCtxModel);
  double* x = context_word<double*>(ctx, nlbrg::kCtxParams);
  double value = 0.0;
  if (varmafit_evaluate(*data, *model, x, &value) != 0) {
    bridge_report_failure(args, missing_value());
    return 1;
  }
  bridge_report_value(args, value);
  return 0;
}

}  // namespace mvtsa
