#include "module/farma/farma_sim.hpp"

#include <cmath>
#include <cstring>

#include "module/farma/durbin_levinson.hpp"
#include "module/farma/frac_diff.hpp"
#include "module/farma/gamma.hpp"
#include "module/frame/status.hpp"
#include "module/linalg/covariance.hpp"

namespace mvtsa {
namespace {

// Pivot tolerance of the Cholesky factors of simulation: 100 u.
constexpr double kSimCholeskyTol = kHundredRoundoffTol;

}  // namespace

std::uint64_t frac_noise_work_size(std::int64_t N) {
  return std::uint64_t(N) + std::uint64_t(levinson_work_size(N));
}

int frac_noise_cholesky(double* x, const double* z, std::int64_t N, double X, double* work) {
  if (N < 1) return 0;
  double* g = work;  // gamma_X(0..N-1), then the recursion's levinson_work_size(N)
  double g12, g1;
  if (gamma_eval(1.0 - 2.0 * X, &g12) != 0 || gamma_eval(1.0 - X, &g1) != 0)
    return kStatusGammaFailed;
  g[0] = g12 / (g1 * g1);
  for (std::int64_t k = 1; k < N; ++k) g[k] = g[k - 1] * (double(k) - 1.0 + X) / (double(k) - X);

  // x_t = sum_j phi_(t,j) x_(t-j) + sqrt(v_t) z_t; a pivot v_t not above the
  // tolerance gives L_tt = 0 and leaves the coefficients unchanged (kappa 0).
  double* dl = g + N;
  double v = g[0];
  double pred = 0.0, conv = 0.0;
  for (std::int64_t t = 0;; ++t) {
    x[t] = pred + (v > kSimCholeskyTol ? std::sqrt(v) * z[t] : 0.0);
    if (t + 1 == N) break;
    const double kappa = v > kSimCholeskyTol ? (g[t + 1] - conv) / v : 0.0;
    v *= (1.0 - kappa) * (1.0 + kappa);
    const LevinsonSums sums = levinson_step(dl, N, t, kappa, x, g);
    pred = sums.pred;
    conv = sums.conv;
  }
  return 0;
}

int frac_noise_ma(double* x, const double* z, std::int64_t N, double X) {
  double w[kFracMaTerms];
  double g1, g0;
  if (gamma_eval(1.0 + X, &g1) != 0 || gamma_eval(X, &g0) != 0) return kStatusGammaFailed;
  w[0] = 1.0;
  w[1] = g1 / g0;
  for (int k = 2; k < kFracMaTerms; ++k) w[k] = w[k - 1] * (k - 1 + X) / k;
  for (std::int64_t t = 0; t < N; ++t) {
    const double* zt = z + kFracMaTerms + t;  // z_(100 + t)
    double s = 0.0;
    for (int u = 0; u < kFracMaTerms; ++u) s += w[u] * zt[-u];
    x[t] = s;
  }
  return 0;
}

std::int64_t arma_start_work_size(int p, int q) {
  const std::int64_t m = std::int64_t(p) + q;
  return packed_size(m) + m + q;
}

void arma_start_stationary(double* y, double* x, std::int64_t n, int p, int q, const double* ar,
                           const double* ma, const double* gamma, double* work) {
  const int m = p + q;
  double* A = work;                 // packed m x m covariance, then its factor
  double* v = A + packed_size(m);   // L x
  double* psi = v + m;              // psi_0..psi_(q-1)
  // psi_0 = 1, psi_i = -theta_i + sum_{k=1..min(p,i)} phi_k psi_(i-k)
  for (int i = 0; i < q; ++i) {
    double s = i == 0 ? 1.0 : ma[i];
    for (int k = 1; k <= p && k <= i; ++k) s -= ar[k] * psi[i - k];
    psi[i] = s;
  }
  // Covariance of (y_0..y_(p-1), eps_(p-q)..eps_(p-1)): gamma(|i - j|) among the
  // observations, the identity among the innovations, psi_(t-s) between y_t
  // and eps_s when t >= s.
  for (int i = 0; i < m; ++i)
    for (int j = 0; j <= i; ++j) {
      double c;
      if (i < p) {
        c = gamma[i - j];
      } else if (j >= p) {
        c = i == j ? 1.0 : 0.0;
      } else {
        const int s = p - q + (i - p);  // innovation index of row i
        c = j >= s ? psi[j - s] : 0.0;
      }
      A[packed_index(i, j)] = c;
    }
  cholesky_packed(A, m, kSimCholeskyTol);
  for (int i = 0; i < m; ++i) {
    const double* row = A + packed_index(i, 0);
    double s = 0.0;
    for (int j = 0; j <= i; ++j) s += row[j] * x[j];
    v[i] = s;
  }
  for (int i = 0; i < p; ++i) y[i] = v[i];
  // eps_s for s = p - q .. p - 1 goes to x[s + q]; from s = p on eps_s = x[s + q].
  for (int i = p; i < m; ++i) x[i] = v[i];
  for (std::int64_t t = p; t < n; ++t) {
    double s = x[t + q];
    for (int j = 1; j <= q; ++j) s += ma[j] * x[t + q - j];
    for (int j = 1; j <= p; ++j) s -= ar[j] * y[t - j];
    y[t] = s;
  }
}

int arma_filter_fixed(double* y, const double* x, std::int64_t n, int p, int q, const double* ar,
                      const double* ma, double initial) {
  for (std::int64_t t = 0; t < n; ++t) {
    double s = x[t + q];
    for (int j = 1; j <= q; ++j) s += ma[j] * x[t + q - j];
    for (int j = 1; j <= p; ++j) s -= ar[j] * (t - j >= 0 ? y[t - j] : initial);
    if (std::fabs(s) >= kDivergenceLimit) return kStatusSimOverflow;
    y[t] = s;
  }
  return 0;
}

}  // namespace mvtsa
