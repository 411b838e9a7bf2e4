#include "module/fit/hessian.hpp"

#include <cmath>
#include <cstring>

#include "module/frame/tolerances.hpp"
#include "module/linalg/covariance.hpp"

namespace mvtsa {
namespace {

// The work space: the level's steps (m), the moved point (m), the values at
// x +- h_i e_i (2 k m), at the two points of a pair (2 k), and one table
// entry per level holding the k gradients (k m) and the k Hessians (k m m).
struct DiffLayout {
  std::int64_t steps, point, plus, minus, pair, table, per_level, total;
};

DiffLayout diff_layout(int m, int k, int levels) {
  DiffLayout l{};
  const std::int64_t km = std::int64_t(k) * m;
  l.steps = 0;
  l.point = l.steps + m;
  l.plus = l.point + m;
  l.minus = l.plus + km;
  l.pair = l.minus + km;
  l.table = l.pair + 2 * std::int64_t(k);
  l.per_level = km + km * m;
  l.total = l.table + l.per_level * (levels > 0 ? levels : 1);
  return l;
}

// f at x + sum_i s_i h_i e_i for the (at most two) moves given.
int eval_moved(const DifferenceProblem& pr, const double* x, double* point, int i, double hi,
               int j, double hj, double* values) {
  std::memcpy(point, x, sizeof(double) * std::size_t(pr.m));
  point[i] += hi;
  if (j >= 0) point[j] += hj;
  return pr.f(pr.context, point, values);
}

// One level of differences with the steps h (m values) into the level's
// table entry: gradients then Hessians, value by value.
int one_level(const DifferenceProblem& pr, const double* x, const double* h, const double* f0,
              const DiffLayout& l, double* work, double* entry) {
  const int m = pr.m, k = pr.k;
  double* point = work + l.point;
  double* fp = work + l.plus;    // fp[i k + r] = f_r(x + h_i e_i)
  double* fm = work + l.minus;
  double* pp = work + l.pair;
  double* pm = pp + k;
  double* grad = entry;
  double* hess = entry + std::int64_t(k) * m;
  const std::int64_t mm = std::int64_t(m) * m;
  for (int i = 0; i < m; ++i) {
    if (int st = eval_moved(pr, x, point, i, h[i], -1, 0.0, fp + std::int64_t(i) * k)) return st;
    if (int st = eval_moved(pr, x, point, i, -h[i], -1, 0.0, fm + std::int64_t(i) * k)) return st;
    for (int r = 0; r < k; ++r) {
      const double a = fp[std::int64_t(i) * k + r], b = fm[std::int64_t(i) * k + r];
      // g_i = (f_i^+ - f_i^-) / 2h_i,  H_ii = (f_i^+ - 2 f_0 + f_i^-) / h_i^2
      grad[std::int64_t(r) * m + i] = (a - b) / (2.0 * h[i]);
      hess[r * mm + std::int64_t(i) * m + i] = ((a - f0[r]) + (b - f0[r])) / (h[i] * h[i]);
    }
  }
  for (int i = 1; i < m; ++i) {
    for (int j = 0; j < i; ++j) {
      if (int st = eval_moved(pr, x, point, i, h[i], j, h[j], pp)) return st;
      if (int st = eval_moved(pr, x, point, i, -h[i], j, -h[j], pm)) return st;
      for (int r = 0; r < k; ++r) {
        const double fpi = fp[std::int64_t(i) * k + r], fmi = fm[std::int64_t(i) * k + r];
        const double fpj = fp[std::int64_t(j) * k + r], fmj = fm[std::int64_t(j) * k + r];
        // H_ij = (f_ij^+ + f_ij^- - f_i^+ - f_i^- - f_j^+ - f_j^- + 2 f_0) / (2 h_i h_j),
        // the differences from f_0 taken first
        const double num = ((pp[r] - f0[r]) + (pm[r] - f0[r])) - ((fpi - f0[r]) + (fmi - f0[r])) -
                           ((fpj - f0[r]) + (fmj - f0[r]));
        const double hij = num / (2.0 * h[i] * h[j]);
        hess[r * mm + std::int64_t(i) * m + j] = hij;
        hess[r * mm + std::int64_t(j) * m + i] = hij;
      }
    }
  }
  return 0;
}

}  // namespace

std::int64_t hessian_work_size(int m, int k, int levels) {
  return diff_layout(m, k, levels).total;
}

int hessian_by_differences(const DifferenceProblem& problem, const double* x, const double* step,
                           int levels, double* value, double* grad, double* hess, double* work) {
  const int m = problem.m, k = problem.k;
  if (levels < 1) levels = 1;
  const DiffLayout l = diff_layout(m, k, levels);
  if (int st = problem.f(problem.context, x, value)) return st;
  double* table = work + l.table;
  double* h = work + l.steps;
  for (int lv = 0; lv < levels; ++lv) {
    // h = step / 2^lv
    for (int i = 0; i < m; ++i) h[i] = std::ldexp(step[i], -lv);
    if (int st = one_level(problem, x, h, value, l, work, table + l.per_level * lv)) return st;
  }
  // Richardson: T(l, j) = T(l, j-1) + (T(l, j-1) - T(l-1, j-1)) / (4^j - 1),
  // in place from the last level down, so that T(l-1, j-1) is still there.
  for (int j = 1; j < levels; ++j) {
    const double div = std::ldexp(1.0, 2 * j) - 1.0;
    for (int lv = levels - 1; lv >= j; --lv) {
      double* cur = table + l.per_level * lv;
      const double* prev = table + l.per_level * (lv - 1);
      for (std::int64_t e = 0; e < l.per_level; ++e) cur[e] += (cur[e] - prev[e]) / div;
    }
  }
  const double* best = table + l.per_level * (levels - 1);
  const std::int64_t km = std::int64_t(k) * m;
  if (grad) std::memcpy(grad, best, sizeof(double) * std::size_t(km));
  std::memcpy(hess, best + km, sizeof(double) * std::size_t(km * m));
  return 0;
}

int information_covariance(const double* hess, int m, double* cov, double* work) {
  // A = -H packed (lower triangle by rows), then A = L L'.
  for (int i = 0; i < m; ++i)
    for (int j = 0; j <= i; ++j) work[packed_index(i, j)] = -hess[std::int64_t(i) * m + j];
  for (int i = 0; i < m; ++i)
    if (!(work[packed_index(i, i)] > 0.0) || !std::isfinite(work[packed_index(i, i)])) return 1;
  if (cholesky_packed(work, m, kCloseTol, kCloseTol) != 0) return 1;
  for (int i = 0; i < m; ++i)
    if (!(work[packed_index(i, i)] > 0.0)) return 1;
  // L^-1 in place, row by row: (L^-1)_ij = -(sum_{c=j..i-1} L_ic (L^-1)_cj) / L_ii, j < i.
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j < i; ++j) {
      double s = 0.0;
      for (int c = j; c < i; ++c) s += work[packed_index(i, c)] * work[packed_index(c, j)];
      work[packed_index(i, j)] = -s / work[packed_index(i, i)];
    }
    work[packed_index(i, i)] = 1.0 / work[packed_index(i, i)];
  }
  // cov = L^-T L^-1:  cov_ij = sum_{c >= max(i, j)} (L^-1)_ci (L^-1)_cj.
  for (int i = 0; i < m; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = 0.0;
      for (int c = i; c < m; ++c) s += work[packed_index(c, i)] * work[packed_index(c, j)];
      cov[std::int64_t(i) * m + j] = s;
      cov[std::int64_t(j) * m + i] = s;
    }
  return 0;
}

}  // namespace mvtsa
