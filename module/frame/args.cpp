#include "module/frame/args.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace mvtsa {
namespace {

// rows < 1 or cols < 1 -> 350
int check_dims(const MatrixArg& m) {
  if (m.rows < 1 || m.cols < 1) return fail_message(kMsgDimension);
  return kStatusOk;
}

}  // namespace

const char* shape_word(const MatrixArg& m) {
  if (m.is_scalar()) return "scalar";
  if (m.is_vector()) return "vector";
  return "matrix";
}

int ArgList::fetch(int i, MatrixArg* m) const {
  get_arg_matrix(args_[i], m);
  if (m->data == nullptr) return kStatusNoValue;
  if (m->type >= 0) return kStatusCharacter;
  return kStatusOk;
}

int ArgList::fetch_complete(int i, MatrixArg* m) const {
  if (int st = fetch(i, m)) return st;
  if (has_missing(args_[i])) return kStatusMissing;
  return check_dims(*m);
}

MatrixArg ArgList::refetch(int i) const {
  MatrixArg m;
  if (given(i)) get_arg_matrix(args_[i], &m);
  return m;
}

int ArgList::coefficients(int i, const char* which, int* dim, MatrixArg* m, int* blocks) const {
  if (int st = fetch_complete(i, m)) return st;
  if (!(m->rows > 1 && m->cols > 1)) return fail_message(kMsgShape, {shape_word(*m), "matrix"});
  if (m->rows % m->cols != 0) return fail_message(kMsgNotMultiple, {which});
  if (*dim != 0 && m->cols != *dim) return fail_message(kMsgDisagree);
  *dim = m->cols;
  *blocks = m->rows / m->cols;
  return kStatusOk;
}

int ArgList::coefficient_pair(int phi_slot, int theta_slot, int* dim, MatrixArg* phi, int* p,
                              MatrixArg* theta, int* q) const {
  *p = *q = 0;
  if (given(phi_slot))
    if (int st = coefficients(phi_slot, "AR", dim, phi, p)) return st;
  if (given(theta_slot))
    if (int st = coefficients(theta_slot, "MA", dim, theta, q)) return st;
  if (*p == 0 && *q == 0) return fail_message(kMsgNoCoefficients, {"coefficient"});
  return kStatusOk;
}

int ArgList::series(int i, MatrixArg* m) const {
  if (!given(i)) return kStatusNoValue;
  if (int st = fetch(i, m)) return st;
  if (int st = check_dims(*m)) return st;
  if (m->cols == 1) return fail_message(kMsgShape, {m->rows == 1 ? "scalar" : "vector", "matrix"});
  return kStatusOk;
}

int ArgList::square(int i, int* dim, MatrixArg* m) const {
  if (int st = fetch_complete(i, m)) return st;
  if (!(m->rows > 1 && m->cols > 1)) return fail_message(kMsgShape, {shape_word(*m), "matrix"});
  if (m->rows != m->cols) return fail_message(kMsgNotSquare);
  if (*dim != 0 && m->rows != *dim) return fail_message(kMsgDisagree);
  *dim = m->rows;
  return kStatusOk;
}

int ArgList::vector(int i, int* dim, MatrixArg* m) const {
  if (int st = fetch_complete(i, m)) return st;
  if (!m->is_vector()) return fail_message(kMsgShape, {shape_word(*m), "vector"});
  if (*dim != 0 && m->length() != *dim) return fail_message(kMsgDisagree);
  *dim = static_cast<int>(m->length());
  return kStatusOk;
}

int ArgList::lag_list(int i, int blocks, const char* which, LagList* out) const {
  *out = LagList{};
  MatrixArg m;
  if (int st = fetch_complete(i, &m)) return st;
  if (m.rows > 1 && m.cols > 1) return fail_message(kMsgShape, {"matrix", "vector"});
  if (m.size() != blocks) return fail_message(kMsgLagCount, {which});
  for (std::int64_t j = 0; j < m.size(); ++j)
    if (!(m.data[j] > 0)) return fail_message(kMsgNotPositive);
  // A lag beyond the largest 32-bit count cannot name a block array.
  for (std::int64_t j = 0; j < m.size(); ++j)
    if (m.data[j] > 2147483647.0) return kStatusTooLarge;
  normalise_lags(m.data, m.size(), out);
  return kStatusOk;
}

int ArgList::whole_number(int i, std::int64_t* value) const {
  MatrixArg m;
  if (int st = fetch(i, &m)) return st;
  if (m.size() != 1) return kStatusNotScalar;  // larger dimension not 1, or empty
  if (has_missing(args_[i])) return kStatusMissing;
  const double x = m.data[0];
  if (x > 2147483647.0) return kStatusTooLarge;
  const double t = std::trunc(x);
  if (t < 1) return fail_message(kMsgNotPositive);
  *value = static_cast<std::int64_t>(t);
  return kStatusOk;
}

int ArgList::seed(int i, double* value) const {
  MatrixArg m;
  if (int st = fetch(i, &m)) return st;
  if (m.size() != 1) return kStatusNotScalar;  // larger dimension not 1, or empty
  if (has_missing(args_[i])) return kStatusMissing;
  *value = m.data[0];
  return kStatusOk;
}

bool screen_series(const double* y, std::int64_t T, int k, bool infinities_draw, double* copy) {
  bool missing = false;
  for (std::int64_t t = 0; t < T; ++t)
    for (int j = 0; j < k; ++j) {
      double x = y[t * k + j];
      if (std::isnan(x) || (std::isinf(x) && !infinities_draw)) {
        missing = true;
      } else if (std::fabs(x) > kSeriesBound) {
        issue_message(kMsgSeriesBound, {j, static_cast<long long>(t), kSeriesBound});
        x = missing_value();
        missing = true;
      }
      if (copy) copy[t * k + j] = x;
    }
  return missing;
}

void normalise_lags(const double* values, std::int64_t n, LagList* out) {
  out->given = true;
  out->count_given = static_cast<int>(n);
  out->lags.assign(values, values + n);
  std::sort(out->lags.begin(), out->lags.end());
  out->lags.erase(std::unique(out->lags.begin(), out->lags.end()), out->lags.end());
  out->order = out->lags.empty() ? 0 : static_cast<std::int64_t>(std::trunc(out->lags.back()));
}

void spread_blocks(const double* given_blocks, int blocks, int k, const LagList& lags,
                   double* out) {
  const std::int64_t kk = std::int64_t(k) * k;
  if (!lags.given) {
    std::memcpy(out, given_blocks, sizeof(double) * kk * blocks);
    return;
  }
  std::memset(out, 0, sizeof(double) * kk * lags.order);
  const std::int64_t n = std::min<std::int64_t>(blocks, std::int64_t(lags.lags.size()));
  for (std::int64_t j = 0; j < n; ++j) {
    const double lag = lags.lags[j];
    if (lag != std::trunc(lag)) continue;  // a fractional lag names no block
    const std::int64_t at = static_cast<std::int64_t>(lag) - 1;
    std::memcpy(out + at * kk, given_blocks + j * kk, sizeof(double) * kk);
  }
}

}  // namespace mvtsa
