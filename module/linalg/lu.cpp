#include "module/linalg/lu.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "module/blas/blas.hpp"

namespace mvtsa {

int lu_solve(double* a, std::int64_t n, double* b, double* scale, double* det) {
  bool zero_row = false;
  for (std::int64_t i = 0; i < n; ++i) {
    const double* ai = a + i * n;
    double big = 0.0;
    for (std::int64_t c = 0; c < n; ++c) big = std::fmax(big, std::fabs(ai[c]));
    if (big == 0.0) zero_row = true;
    scale[i] = big > 0.0 ? 1.0 / big : 0.0;
  }
  int status = kLuOk;
  double d = 1.0;
  for (std::int64_t j = 0; j < n; ++j) {
    std::int64_t piv = j;
    double best = -1.0;
    for (std::int64_t i = j; i < n; ++i) {
      const double v = std::fabs(a[i * n + j]) * scale[i];
      if (v > best) {
        best = v;
        piv = i;
      }
    }
    if (!(best >= kLuPivotTol) && status == kLuOk) {
      status = j < n - 1 ? kLuSmallPivot : kLuSmallLastPivot;
      if (!det) return status;
    }
    if (piv != j) {
      std::swap_ranges(a + piv * n, a + piv * n + n, a + j * n);
      std::swap(scale[piv], scale[j]);
      if (b) std::swap(b[piv], b[j]);
      d = -d;
    }
    const double* aj = a + j * n;
    const double p = aj[j];
    d *= p;
    if (p == 0.0) break;  // det = 0: nothing left to eliminate with
    // row i -= (a_ij / a_jj) row j, the multiplier kept in a_ij
    for (std::int64_t i = j + 1; i < n; ++i) {
      double* ai = a + i * n;
      if (ai[j] == 0.0) continue;
      const double f = ai[j] / p;
      ai[j] = f;
      blas_daxpy(int(n - j - 1), -f, aj + j + 1, ai + j + 1);
      if (b) b[i] -= f * b[j];
    }
  }
  if (det) *det = zero_row ? 0.0 : d;  // exactly, even where the pivots overflowed
  if (status != kLuOk) return status;
  if (b)  // x_j = (b_j - sum_{c > j} u_jc x_c) / u_jj
    for (std::int64_t j = n - 1; j >= 0; --j) {
      const double* aj = a + j * n;
      b[j] = (b[j] - blas_ddot(int(n - j - 1), aj + j + 1, b + j + 1)) / aj[j];
    }
  return zero_row ? kLuZeroRow : kLuOk;
}

double lu_log_det(const double* lu, std::int64_t n, double det) {
  if (det >= DBL_MIN && det < HUGE_VAL) return std::log(det);
  if (!(det >= 0.0)) return std::log(det);  // negative or NaN: NaN
  // det = prod_j U(j, j) with the sign of the row exchanges, positive, whose
  // product overflowed or underflowed; an exactly zero pivot gives log 0.
  double log_abs = 0.0;
  for (std::int64_t j = 0; j < n; ++j) log_abs += std::log(std::fabs(lu[j * n + j]));
  return log_abs;
}

}  // namespace mvtsa
