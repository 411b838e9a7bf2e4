#include "module/fit/richardson_hessian.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/frame/tolerances.hpp"

namespace mvtsa {
namespace {

constexpr int kLevels = kMaxRichardsonLevels;
// The least pivot of the correlation form of -H: 2^-26.5.
constexpr double kPivotFloor = kCloseTol;

// Richardson extrapolation of a[0 .. L-1], the estimates at steps h / 2^l
// with error even in h: a(l) <- (4^m a(l+1) - a(l)) / (4^m - 1), m = 1 ..
// L-1.  Returns the last estimate, a[0].
double extrapolate(double* a, int levels) {
  double four_m = 1.0;
  for (int m = 1; m < levels; ++m) {
    four_m *= 4.0;
    for (int l = 0; l + m < levels; ++l) a[l] = (four_m * a[l + 1] - a[l]) / (four_m - 1.0);
  }
  return a[0];
}

// f(x + s u) + f(x - s u) with the step u placed in xt at the parameters
// i and j (j < 0: i alone), xt restored to x afterwards.
int pair_sum(HessianFunction f, void* context, const double* x, double* xt, std::int64_t i,
             double hi, std::int64_t j, double hj, double* sum) {
  double plus = 0.0, minus = 0.0;
  xt[i] = x[i] + hi;
  if (j >= 0) xt[j] = x[j] + hj;
  int st = f(context, xt, &plus);
  if (st == 0) {
    xt[i] = x[i] - hi;
    if (j >= 0) xt[j] = x[j] - hj;
    st = f(context, xt, &minus);
  }
  xt[i] = x[i];
  if (j >= 0) xt[j] = x[j];
  *sum = plus + minus;
  return st;
}

}  // namespace

std::uint64_t richardson_hessian_work(std::int64_t n) {
  // xt (n), the raw D_ii of every level (n L), one row of levels (L)
  return std::uint64_t(n) * (1 + kLevels) + kLevels;
}

int richardson_hessian(std::int64_t n, const double* x, const double* step, int levels,
                       HessianFunction f, void* context, double* H, double* work) {
  levels = std::clamp(levels, 1, kLevels);
  double* xt = work;
  double* diag = xt + n;            // D_ii at level l: diag[i L + l]
  double* level = diag + n * kLevels;
  std::memcpy(xt, x, sizeof(double) * std::size_t(n));
  double f0 = 0.0;
  if (int st = f(context, x, &f0)) return st;
  for (std::int64_t i = 0; i < n; ++i) {
    double h = step[i];
    for (int l = 0; l < levels; ++l, h *= 0.5) {
      double sum = 0.0;
      if (int st = pair_sum(f, context, x, xt, i, h, -1, 0.0, &sum)) return st;
      diag[i * kLevels + l] = level[l] = (sum - 2.0 * f0) / (h * h);
    }
    H[i * n + i] = extrapolate(level, levels);
  }
  for (std::int64_t i = 1; i < n; ++i)
    for (std::int64_t j = 0; j < i; ++j) {
      double hi = step[i], hj = step[j];
      for (int l = 0; l < levels; ++l, hi *= 0.5, hj *= 0.5) {
        double sum = 0.0;
        if (int st = pair_sum(f, context, x, xt, i, hi, j, hj, &sum)) return st;
        level[l] = (sum - 2.0 * f0 - hi * hi * diag[i * kLevels + l] -
                    hj * hj * diag[j * kLevels + l]) / (2.0 * hi * hj);
      }
      H[i * n + j] = H[j * n + i] = extrapolate(level, levels);
    }
  return 0;
}

std::uint64_t hessian_covariance_work(std::int64_t n) {
  // L (n x n) and S (n)
  return std::uint64_t(n) * std::uint64_t(n) + std::uint64_t(n);
}

int hessian_covariance(std::int64_t n, const double* H, double* cov, double* work) {
  double* L = work;  // lower triangle: the Cholesky factor, then its inverse
  double* s = L + n * n;
  for (std::int64_t i = 0; i < n; ++i) {
    const double d = -H[i * n + i];
    if (!(d > 0.0) || !std::isfinite(d)) return kNotNegativeDefinite;
    s[i] = std::sqrt(d);
  }
  // C = L L',  C_ij = -H_ij / (s_i s_j)
  for (std::int64_t i = 0; i < n; ++i)
    for (std::int64_t j = 0; j <= i; ++j) {
      double acc = -H[i * n + j] / (s[i] * s[j]);
      for (std::int64_t c = 0; c < j; ++c) acc -= L[i * n + c] * L[j * n + c];
      if (j < i) {
        L[i * n + j] = acc / L[j * n + j];
      } else {
        if (!(acc > kPivotFloor)) return kNotNegativeDefinite;
        L[i * n + i] = std::sqrt(acc);
      }
    }
  // L <- L^-1 in place (lower triangular), column by column
  for (std::int64_t j = 0; j < n; ++j) {
    L[j * n + j] = 1.0 / L[j * n + j];
    for (std::int64_t i = j + 1; i < n; ++i) {
      double acc = 0.0;
      for (std::int64_t c = j; c < i; ++c) acc += L[i * n + c] * L[c * n + j];
      L[i * n + j] = -acc / L[i * n + i];
    }
  }
  // cov_ij = sum_c (L^-1)_ci (L^-1)_cj / (s_i s_j)
  for (std::int64_t i = 0; i < n; ++i)
    for (std::int64_t j = 0; j <= i; ++j) {
      double acc = 0.0;
      for (std::int64_t c = i; c < n; ++c) acc += L[c * n + i] * L[c * n + j];
      cov[i * n + j] = cov[j * n + i] = acc / (s[i] * s[j]);
    }
  return kCovarianceOk;
}

}  // namespace mvtsa
