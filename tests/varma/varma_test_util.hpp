// Helpers shared by the VARMA tests: random stationary models and an
// independent reference for the autocovariances (the stationary state
// covariance of the companion state-space form, by the doubling iteration of
// the discrete Lyapunov equation).
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace varma_test {

using Mat = std::vector<double>;  // row-major

inline Mat matmul(const Mat& a, const Mat& b, int n) {
  Mat c(std::size_t(n) * n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int l = 0; l < n; ++l) {
      const double f = a[std::size_t(i) * n + l];
      if (f == 0.0) continue;
      for (int j = 0; j < n; ++j) c[std::size_t(i) * n + j] += f * b[std::size_t(l) * n + j];
    }
  return c;
}

inline Mat transpose(const Mat& a, int n) {
  Mat t(a.size());
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) t[std::size_t(j) * n + i] = a[std::size_t(i) * n + j];
  return t;
}

inline double max_abs(const Mat& a) {
  double m = 0.0;
  for (double x : a) m = std::fmax(m, std::fabs(x));
  return m;
}

// Companion transition of the state s_t = (y_t .. y_{t-p+1}, e_t .. e_{t-q+1}),
// dimension k (p + q):  s_t = T s_{t-1} + R e_t, with first block row
// [Phi_1 .. Phi_p, -Theta_1 .. -Theta_q].
inline Mat companion(const Mat& phi, int p, const Mat& theta, int q, int k) {
  const int n = k * (p + q);
  const std::size_t kk = std::size_t(k) * k;
  Mat t(std::size_t(n) * n, 0.0);
  for (int a = 0; a < k; ++a)
    for (int c = 0; c < k; ++c) {
      for (int i = 0; i < p; ++i) t[std::size_t(a) * n + i * k + c] = phi[i * kk + a * k + c];
      for (int j = 0; j < q; ++j)
        t[std::size_t(a) * n + (p + j) * k + c] = -theta[j * kk + a * k + c];
    }
  for (int r = k; r < p * k; ++r) t[std::size_t(r) * n + r - k] = 1.0;              // y shift
  for (int r = (p + 1) * k; r < n; ++r) t[std::size_t(r) * n + r - k] = 1.0;        // e shift
  return t;
}

// Gamma(0) .. Gamma(L) (Gamma(h) = E[y_t y_{t+h}']) from the state covariance
// P = T P T' + R S R', solved by doubling: P <- P + A P A', A <- A^2.
// Cov(s_t, s_{t+h}) = P (T')^h.  Returns false when the doubling does not
// converge (a model that is not stationary).
inline bool lyapunov_autocov(const Mat& phi, int p, const Mat& theta, int q, const Mat& sigma,
                             int k, int L, Mat* out) {
  const int n = k * (p + q);
  Mat t = companion(phi, p, theta, q, k);
  Mat pm(std::size_t(n) * n, 0.0);
  // R S R': S in the (y_t, y_t), (y_t, e_t), (e_t, y_t), (e_t, e_t) blocks
  for (int a = 0; a < k; ++a)
    for (int b = 0; b < k; ++b) {
      const double s = sigma[std::size_t(a) * k + b];
      pm[std::size_t(a) * n + b] = s;
      if (q > 0) {
        pm[std::size_t(a) * n + p * k + b] = s;
        pm[std::size_t(p * k + a) * n + b] = s;
        pm[std::size_t(p * k + a) * n + p * k + b] = s;
      }
    }
  Mat a = t;
  bool converged = false;
  for (int it = 0; it < 60; ++it) {
    const Mat apa = matmul(matmul(a, pm, n), transpose(a, n), n);
    for (std::size_t e = 0; e < pm.size(); ++e) pm[e] += apa[e];
    a = matmul(a, a, n);
    if (max_abs(a) < 1e-20) {
      converged = true;
      break;
    }
    if (!(max_abs(a) < 1e50)) return false;
  }
  if (!converged) return false;
  const std::size_t kk = std::size_t(k) * k;
  out->assign(kk * (L + 1), 0.0);
  Mat cur = pm;  // P (T')^h
  const Mat tt = transpose(t, n);
  for (int h = 0; h <= L; ++h) {
    for (int r = 0; r < k; ++r)
      for (int c = 0; c < k; ++c) (*out)[h * kk + r * k + c] = cur[std::size_t(r) * n + c];
    cur = matmul(cur, tt, n);
  }
  return true;
}

// Spectral radius of the AR companion below `bound`, judged by
// |C^(2^j)|^(1/2^j) after a few squarings.
inline bool ar_radius_below(const Mat& phi, int p, int k, double bound) {
  Mat none;
  Mat c = companion(phi, p, none, 0, k);
  const int n = k * p;
  for (int j = 1; j <= 8; ++j) c = matmul(c, c, n);
  double norm = 0.0;  // Frobenius
  for (double x : c) norm += x * x;
  return std::pow(std::sqrt(norm), 1.0 / 256.0) < bound;
}

// A random AR part of p blocks with companion spectral radius below 0.95;
// blocks at lags not in `keep` (bit i-1 for lag i) are zero, the last lag is
// always kept.
inline Mat random_ar(std::mt19937_64& rng, int p, int k, unsigned keep) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const std::size_t kk = std::size_t(k) * k;
  for (double scale = 0.9;; scale *= 0.8) {
    Mat phi(kk * p, 0.0);
    for (int i = 0; i < p; ++i) {
      if (i < p - 1 && !(keep >> i & 1u)) continue;
      for (std::size_t e = 0; e < kk; ++e) phi[i * kk + e] = scale * u(rng) / std::sqrt(double(k));
    }
    if (ar_radius_below(phi, p, k, 0.95)) return phi;
  }
}

inline Mat random_blocks(std::mt19937_64& rng, int count, int k, double scale) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Mat b(std::size_t(k) * k * count);
  for (double& x : b) x = scale * u(rng);
  return b;
}

// S = B B' + 0.5 I
inline Mat random_cov(std::mt19937_64& rng, int k) {
  Mat b = random_blocks(rng, 1, k, 1.0);
  Mat s = matmul(b, transpose(b, k), k);
  for (int i = 0; i < k; ++i) s[std::size_t(i) * k + i] += 0.5;
  return s;
}

inline Mat identity(int k) {
  Mat s(std::size_t(k) * k, 0.0);
  for (int i = 0; i < k; ++i) s[std::size_t(i) * k + i] = 1.0;
  return s;
}

}  // namespace varma_test
