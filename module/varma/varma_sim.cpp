#include "module/varma/varma_sim.hpp"

#include <cmath>
#include <cstring>

#include "module/frame/status.hpp"
#include "module/linalg/block_ops.hpp"
#include "module/linalg/covariance.hpp"

namespace mvtsa {
namespace {
using i64 = std::int64_t;
}

std::int64_t varma_recursion(double* y, const double* e, std::int64_t off, std::int64_t first,
                             std::int64_t last, const double* phi, int p, const double* theta,
                             int q, int k, bool check_overflow) {
  const i64 kk = i64(k) * k;
  for (i64 r = first; r < last; ++r) {
    double* yr = y + r * k;
    const double* er = e + (r + off) * k;
    if (er != yr) std::memcpy(yr, er, sizeof(double) * k);
    // - Theta_j e_{r-j}   (k) -= (k x k)(k)
    for (int j = 1; j <= q; ++j) block_mul_sub(theta + (j - 1) * kk, er - i64(j) * k, k, yr);
    // + Phi_i y_{r-i}   (k) += (k x k)(k)
    for (int i = 1; i <= p; ++i) block_mul_add(phi + (i - 1) * kk, yr - i64(i) * k, k, yr);
    if (check_overflow)
      for (int a = 0; a < k; ++a)
        if (std::fabs(yr[a]) > kSeriesBound) return r - first;
  }
  return last - first;
}

void varma_presample_cov(double* packed, const double* gam, const double* psi,
                         const double* sigma, int p, int q, int k, double* work) {
  const i64 kk = i64(k) * k;
  // work block d: Psi_d S, d = 0 .. q-1
  for (int d = 0; d < q; ++d) {
    double* pd = work + d * kk;
    const double* ps = psi + d * kk;
    for (int a = 0; a < k; ++a)
      for (int b = 0; b < k; ++b) {
        double s = 0.0;
        for (int c = 0; c < k; ++c) s += ps[i64(a) * k + c] * sigma[i64(c) * k + b];
        pd[i64(a) * k + b] = s;
      }
  }
  const i64 dim = i64(k) * (p + q);
  for (i64 i = 0; i < dim; ++i) {
    const i64 u = i / k, a = i % k;  // row: block u, element a
    for (i64 j = 0; j <= i; ++j) {
      const i64 v = j / k, b = j % k;  // column: block v <= u, element b
      double x = 0.0;
      if (u < p) {
        // both observations: E[y_s y_s'']_{ab}, s = u+1-p >= s'' = v+1-p
        x = gam[(u - v) * kk + b * k + a];  // Gamma(s - s'')'(a, b) = Gamma(u-v)(b, a)
      } else if (v >= p) {
        // both innovations
        if (u == v) x = sigma[a * k + b];
      } else {
        // row e_r (r = u-p+1-q), column y_s (s = v+1-p): E[e_r y_s']_{ab} = (Psi_{s-r} S)(b, a)
        const i64 d = (v + 1 - p) - (u - p + 1 - q);
        if (d >= 0 && d < q) x = work[d * kk + b * k + a];
      }
      packed[packed_index(i, j)] = x;
    }
  }
}

void whiten_draws(double* z, std::int64_t count, const double* l, int k) {
  for (i64 t = 0; t < count; ++t) {
    double* zt = z + t * k;
    // forward substitution L x = z
    for (int m = 0; m < k; ++m) {
      const double* lm = l + packed_index(m, 0);
      double s = zt[m];
      for (int g = 0; g < m; ++g) s -= lm[g] * zt[g];
      zt[m] = lm[m] != 0.0 ? s / lm[m] : 0.0;
    }
  }
}

void lower_packed_times(const double* f, std::int64_t n, double* w) {
  // rows descending: row i reads w[0..i], which later rows have not changed
  for (i64 i = n - 1; i >= 0; --i) {
    const double* fi = f + i * (i + 1) / 2;
    double s = 0.0;
    for (i64 j = 0; j <= i; ++j) s += fi[j] * w[j];
    w[i] = s;
  }
}

}  // namespace mvtsa
