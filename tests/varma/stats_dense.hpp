// Dense references for the statistics kernels of the VARMA family: the
// conditional Gaussian moments of future rows given the rows observed, and
// the Cholesky factor of the stacked covariance whose forward substitution
// gives the standardised innovations.  Gamma comes from varma_autocov (the
// static core, on the active host), a method independent of the filter.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "module/varma/varma_autocov.hpp"
#include "tests/varma/model_support.hpp"

namespace stats_test {

using Vec = std::vector<double>;

// The stacked covariance of the given rows (block (i, j) = E[Y(r_i) Y(r_j)'])
// and Gamma(0 .. L).
struct Stacked {
  Vec gam;  // (L + 1) blocks of k x k
  Vec c;    // n x n, n = k rows.size()
  std::int64_t n = 0;
  bool ok = false;
};

inline Stacked stacked(const lik_test::Model& m, const std::vector<std::int64_t>& rows,
                       std::int64_t L) {
  const int k = m.k;
  Stacked s;
  s.gam.assign(std::size_t(L + 1) * k * k, 0.0);
  const Vec ar = m.ar_spread(), ma = m.ma_spread();
  if (mvtsa::varma_autocov(s.gam.data(), L, m.sigma.data(), ar.data(), ma.data(), m.pmax(),
                           m.qmax(), k) != 0)
    return s;
  s.n = std::int64_t(rows.size()) * k;
  s.c.assign(std::size_t(s.n * s.n), 0.0);
  for (std::size_t i = 0; i < rows.size(); ++i)
    for (std::size_t j = i; j < rows.size(); ++j)
      for (int a = 0; a < k; ++a)
        for (int b = 0; b < k; ++b) {
          const double v = s.gam[std::size_t(rows[j] - rows[i]) * k * k + a * k + b];
          s.c[(i * k + a) * s.n + j * k + b] = v;
          s.c[(j * k + b) * s.n + i * k + a] = v;
        }
  s.ok = true;
  return s;
}

// In-place Cholesky C = L L' (lower triangle of c); false when not positive.
inline bool cholesky(Vec& c, std::int64_t n) {
  for (std::int64_t j = 0; j < n; ++j) {
    double s = c[j * n + j];
    for (std::int64_t l = 0; l < j; ++l) s -= c[j * n + l] * c[j * n + l];
    if (!(s > 0)) return false;
    c[j * n + j] = std::sqrt(s);
    for (std::int64_t i = j + 1; i < n; ++i) {
      double r = c[i * n + j];
      for (std::int64_t l = 0; l < j; ++l) r -= c[i * n + l] * c[j * n + l];
      c[i * n + j] = r / c[j * n + j];
    }
  }
  return true;
}

// z = L^-1 b for the lower factor in c.
inline Vec forward(const Vec& c, std::int64_t n, const Vec& b) {
  Vec z(std::size_t(n), 0.0);
  for (std::int64_t i = 0; i < n; ++i) {
    double r = b[std::size_t(i)];
    for (std::int64_t l = 0; l < i; ++l) r -= c[i * n + l] * z[std::size_t(l)];
    z[std::size_t(i)] = r / c[i * n + i];
  }
  return z;
}

// Rows of the T x k series holding no missing value.
inline std::vector<std::int64_t> observed_rows(const Vec& y, std::int64_t T, int k) {
  std::vector<std::int64_t> rows;
  for (std::int64_t t = 0; t < T; ++t) {
    bool miss = false;
    for (int a = 0; a < k; ++a) miss = miss || std::isnan(y[std::size_t(t * k + a)]);
    if (!miss) rows.push_back(t);
  }
  return rows;
}

// E[Y(T+j) | observed rows] (h x k) and the conditional covariances
// ((h k) x k): B C^-1 y and Gamma(0) - B C^-1 B', B = E[Y(T+j) y_obs'].
inline bool conditional_forecast(const lik_test::Model& m, const Vec& y, std::int64_t T,
                                 std::int64_t h, Vec* mean, Vec* mse) {
  const int k = m.k;
  const std::vector<std::int64_t> rows = observed_rows(y, T, k);
  Stacked s = stacked(m, rows, T + h);
  if (!s.ok || !cholesky(s.c, s.n)) return false;
  Vec yo;
  for (std::int64_t r : rows)
    for (int a = 0; a < k; ++a) yo.push_back(y[std::size_t(r * k + a)]);
  const Vec zy = forward(s.c, s.n, yo);
  mean->assign(std::size_t(h * k), 0.0);
  mse->assign(std::size_t(h * k * k), 0.0);
  for (std::int64_t j = 0; j < h; ++j) {
    // rows of B for variable a: E[Y_a(T+j) y_obs] = Gamma(T+j-r)' row a
    std::vector<Vec> zb(static_cast<std::size_t>(k));
    for (int a = 0; a < k; ++a) {
      Vec b;
      for (std::int64_t r : rows)
        for (int c = 0; c < k; ++c)
          b.push_back(s.gam[std::size_t(T + j - r) * k * k + c * k + a]);
      zb[std::size_t(a)] = forward(s.c, s.n, b);
    }
    for (int a = 0; a < k; ++a) {
      double f = 0.0;
      for (std::int64_t i = 0; i < s.n; ++i) f += zb[std::size_t(a)][std::size_t(i)] * zy[std::size_t(i)];
      (*mean)[std::size_t(j * k + a)] = f;
      for (int b = 0; b < k; ++b) {
        double q = 0.0;
        for (std::int64_t i = 0; i < s.n; ++i)
          q += zb[std::size_t(a)][std::size_t(i)] * zb[std::size_t(b)][std::size_t(i)];
        (*mse)[std::size_t((j * k + a) * k + b)] = s.gam[std::size_t(a * k + b)] - q;
      }
    }
  }
  return true;
}

}  // namespace stats_test
