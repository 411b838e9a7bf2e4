// The routes that the Durbin-Levinson kernels replaced, kept as references:
// the exact likelihood through two packed copies of the Toeplitz matrix (one
// inverted by sweeping every pivot, one factored by Cholesky), O(n^3) time
// and O(n^2) memory; and the fractional-noise factor by the scalar
// Durbin-Levinson loop that updated one coefficient array in place by pairs.
// The sweep runs through the host's operation, so the caller installs a
// host table (mvtsa::set_host_table) first.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "module/farma/frac_diff.hpp"
#include "module/frame/status.hpp"
#include "module/linalg/covariance.hpp"
#include "module/linalg/sweep_inverse.hpp"

namespace farma_test {

// Pivot tolerance of the Cholesky factorisations of the exact likelihood
// and of the simulation: 100 x 2^-53, the module's own.
constexpr double kDenseCholeskyTol = mvtsa::kHundredRoundoffTol;

// ln det Sigma and y' Sigma^-1 y for Sigma = [gamma(|i - j|)]:
//   Sigma packed twice; the second copy swept on every pivot (tolerance
//   2^-26.5 gamma(0)); fewer than n pivots swept: 178;
//   q_y = sum_j y_j (2 sum_{i<j} s_ij y_i + s_jj y_j);
//   the first copy factored by rows with the tolerance kDenseCholeskyTol;
//   ln det = sum ln L_kk^2, 315 when some L_kk is 0.
inline int dense_toeplitz_loglik(const std::vector<double>& gamma, const std::vector<double>& y,
                                 double* logdet, double* quad) {
  const int n = static_cast<int>(y.size());
  const std::int64_t packed = mvtsa::packed_size(n);
  std::vector<double> A(static_cast<std::size_t>(packed)), B;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) A[mvtsa::packed_index(i, j)] = gamma[i - j];
  B = A;
  std::vector<char> flags(static_cast<std::size_t>(n));
  std::vector<double> work(static_cast<std::size_t>(n));
  if (mvtsa::sweep_inverse(B.data(), n, flags.data(), work.data()) < n) return mvtsa::kMsgSingular;
  double qy = 0.0;
  for (int j = 0; j < n; ++j) {
    const double* row = B.data() + mvtsa::packed_index(j, 0);
    double s = 0.0;
    for (int i = 0; i < j; ++i) s += row[i] * y[i];
    qy += y[j] * (2.0 * s + row[j] * y[j]);
  }
  mvtsa::cholesky_packed(A.data(), n, kDenseCholeskyTol);
  double ld = 0.0;
  for (int i = 0; i < n; ++i) {
    const double lkk = A[mvtsa::packed_index(i, i)];
    if (!(lkk > 0.0)) return mvtsa::kStatusGammaFailed;
    ld += 2.0 * std::log(lkk);
  }
  *logdet = ld;
  *quad = qy;
  return 0;
}

// ln det Sigma and y' Sigma^-1 y by the Durbin-Levinson recursion carried
// out in long double (64-bit significands on x86-64, 113 bits on AArch64):
// a reference for matrices so ill-conditioned that the double routes
// disagree in their tenth digit.  No pivot tests.
inline void wide_toeplitz_loglik(const std::vector<double>& gamma, const std::vector<double>& y,
                                 double* logdet, double* quad) {
  using wide = long double;
  const std::size_t n = y.size();
  std::vector<wide> phi(n + 1, 0.0L), prev(n + 1, 0.0L);
  wide v = gamma[0], ld = std::log(v), qy = wide(y[0]) * y[0] / v;
  for (std::size_t t = 1; t < n; ++t) {
    wide num = gamma[t];
    for (std::size_t j = 1; j < t; ++j) num -= prev[j] * gamma[t - j];
    const wide k = num / v;
    for (std::size_t j = 1; j < t; ++j) phi[j] = prev[j] - k * prev[t - j];
    phi[t] = k;
    v *= (1 - k) * (1 + k);
    wide e = y[t];
    for (std::size_t j = 1; j <= t; ++j) e -= phi[j] * y[t - j];
    ld += std::log(v);
    qy += e * e / v;
    prev.swap(phi);
  }
  *logdet = double(ld);
  *quad = double(qy);
}

// x = L z for the N x N Toeplitz matrix of g = gamma(0..N-1):
//   x_t = sum_{j=1..t} phi_(t,j) x_(t-j) + sqrt(v_t) z_t, with a pivot v_t not
//   above kDenseCholeskyTol giving L_tt = 0 and phi_(t,t) = 0.
inline std::vector<double> scalar_levinson_noise(const std::vector<double>& g,
                                                 const std::vector<double>& z) {
  const std::int64_t N = static_cast<std::int64_t>(z.size());
  std::vector<double> x(z.size()), phi(z.size() + 1, 0.0);
  double v = g[0];
  x[0] = v > kDenseCholeskyTol ? std::sqrt(v) * z[0] : 0.0;
  for (std::int64_t t = 1; t < N; ++t) {
    double num = g[t];
    for (std::int64_t j = 1; j < t; ++j) num -= phi[j] * g[t - j];
    const double ptt = v > kDenseCholeskyTol ? num / v : 0.0;
    for (std::int64_t j = 1, k = t - 1; j <= k; ++j, --k) {
      const double a = phi[j], b = phi[k];
      phi[j] = a - ptt * b;
      if (j != k) phi[k] = b - ptt * a;
    }
    phi[t] = ptt;
    v *= 1.0 - ptt * ptt;
    double s = 0.0;
    for (std::int64_t j = 1; j <= t; ++j) s += phi[j] * x[t - j];
    x[t] = s + (v > kDenseCholeskyTol ? std::sqrt(v) * z[t] : 0.0);
  }
  return x;
}

}  // namespace farma_test
