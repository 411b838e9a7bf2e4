#include "module/linalg/cholesky.hpp"

#include <cmath>

#include "module/blas/blas.hpp"
#include "module/linalg/packed.hpp"

namespace mvtsa {

double cholesky_packed_row(double* a, int r, double tolerance) {
  double* lr = a + packed_index(r, 0);
  const double bound = tolerance * std::fabs(lr[r]);  // relative to A(r, r)
  double s = 0.0;
  for (int i = 0; i <= r; ++i) {
    const double* li = a + packed_index(i, 0);
    s = lr[i] - blas_ddot(i, li, lr);
    if (i < r) {
      const double lii = li[i];
      lr[i] = lii != 0.0 ? s / lii : 0.0;
    } else {
      lr[r] = s > bound && s > 0.0 ? std::sqrt(s) : 0.0;
    }
  }
  return s;
}

int cholesky_packed(double* a, int k, double tolerance, double min_pivot) {
  for (int r = 0; r < k; ++r) {
    const double diag = std::fabs(a[packed_index(r, r)]);
    const double s = cholesky_packed_row(a, r, tolerance);
    if (min_pivot >= 0 && !(std::fabs(s) >= min_pivot * diag && diag > 0.0)) return r + 1;
  }
  return 0;
}

int floored_ldl(double* a, int k, double floor, double* logdet) {
  double ld = 0.0;
  int raised = 0;
  for (int r = 0; r < k; ++r) {
    double* lr = a + packed_index(r, 0);
    const double diag = lr[r];
    if (!(diag >= 0.0) || !std::isfinite(diag)) return -1;
    // L(r, c) = (A(r, c) - sum_{m < c} L(r, m) L(c, m) d_m) / d_c
    for (int c = 0; c < r; ++c) {
      const double* lc = a + packed_index(c, 0);
      const double dc = lc[c];
      if (dc == 0.0) {
        lr[c] = 0.0;
        continue;
      }
      double s = lr[c];
      for (int m = 0; m < c; ++m) s -= lr[m] * lc[m] * a[packed_index(m, m)];
      lr[c] = s / dc;
    }
    // d_r = A(r, r) - sum_{m < r} L(r, m)^2 d_m, at least floor A(r, r)
    double d = diag;
    for (int m = 0; m < r; ++m) d -= lr[m] * lr[m] * a[packed_index(m, m)];
    if (!(d >= floor * diag)) {
      d = floor * diag;
      ++raised;
    }
    lr[r] = d;
    if (d > 0.0) ld += std::log(d);
  }
  *logdet = ld;
  return raised;
}

double ldl_quadratic(const double* ldl, int k, const double* v, double* w) {
  // L w = v by forward substitution, then sum w_j^2 / d_j over d_j > 0
  double q = 0.0;
  for (int r = 0; r < k; ++r) {
    const double* lr = ldl + packed_index(r, 0);
    double s = v[r];
    for (int c = 0; c < r; ++c) s -= lr[c] * w[c];
    w[r] = s;
    if (lr[r] > 0.0) q += s * s / lr[r];
  }
  return q;
}

}  // namespace mvtsa
