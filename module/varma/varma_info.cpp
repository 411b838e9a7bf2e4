#include "module/varma/varma_info.hpp"

#include <cmath>
#include <cstring>

#include "module/fit/hessian.hpp"
#include "module/linalg/companion_roots.hpp"
#include "module/linalg/complex_modulus.hpp"
#include "module/linalg/covariance.hpp"
#include "module/linalg/general_eigenvalues.hpp"
#include "module/varma/varma_kalman.hpp"
#include "module/varma/varmafit_kalman.hpp"

namespace mvtsa {
namespace {

// What the differenced function needs: the series, the lags of the model
// and work space for the stationarity test, the Sigma check and the filter.
struct Objective {
  const VarmaParams* m;
  const double* series;
  std::int64_t T;
  double* roots_work;  // varma_stationarity_work
  double* sigma_copy;  // k (k + 1) / 2
  double* filter;      // varmafit_kalman_work_size
};

// The log-likelihood at the parameter vector x (the compact blocks and the
// packed Sigma in a row).
int loglik_at(void* context, const double* x, double* value) {
  const Objective& o = *static_cast<const Objective*>(context);
  const VarmaParams& m = *o.m;
  const std::int64_t kk = std::int64_t(m.k) * m.k;
  const double* ar = x;
  const double* ma = ar + kk * m.ar_count;
  const double* sigma = ma + kk * m.ma_count;
  if (m.ar_count > 0 &&
      varma_ar_nonstationary(ar, m.ar_count, m.pmax, m.ar_lags, m.k, o.roots_work))
    return kVarmaInfoOutside;
  std::memcpy(o.sigma_copy, sigma, sizeof(double) * std::size_t(packed_size(m.k)));
  if (cholesky_packed(o.sigma_copy, m.k, kCholeskyTol, kCholeskyTol) != 0) return kVarmaInfoOutside;
  double out[3];
  const int st = varmafit_kalman_loglik(out, o.series, o.T, m.k, ar, m.ar_count, m.pmax,
                                        m.ar_lags, ma, m.ma_count, m.qmax, m.ma_lags, sigma,
                                        o.filter);
  if (st < 0) return st;  // a Kalman outcome; >= 0 is the last determinant's LU status
  if (!std::isfinite(out[0])) return kKalmanDiverged;
  *value = out[0];
  return 0;
}

}  // namespace

std::uint64_t varma_stationarity_work(int k, int pmax) {
  const std::uint64_t n = std::uint64_t(k) * std::uint64_t(pmax);
  // the companion matrix, wr, wi and the eigenvalue routine's work
  return n * n + 2 * n + std::uint64_t(general_eigenvalues_work(std::int64_t(n)));
}

int varma_ar_nonstationary(const double* ar, int ar_count, int pmax, const int* ar_lags, int k,
                           double* work) {
  const std::int64_t n = std::int64_t(k) * pmax, kk = std::int64_t(k) * k;
  if (n == 0) return 0;
  double* c = work;
  double* wr = c + n * n;
  double* wi = wr + n;
  // C: first block row [Phi_1 .. Phi_pmax] (zero blocks at the lags not
  // listed), identity blocks below the diagonal
  std::memset(c, 0, sizeof(double) * std::size_t(n * n));
  for (int b = 0; b < ar_count; ++b) {
    const std::int64_t col = std::int64_t(ar_lags[b] - 1) * k;
    for (int r = 0; r < k; ++r)
      for (int s = 0; s < k; ++s) c[r * n + col + s] = ar[b * kk + std::int64_t(r) * k + s];
  }
  for (std::int64_t i = k; i < n; ++i) c[i * n + i - k] = 1.0;
  if (general_eigenvalues(int(n), c, int(n), wr, wi, wi + n) != 0) return 1;
  for (std::int64_t i = 0; i < n; ++i) {
    const double z[2] = {wr[i], wi[i]};
    if (!(complex_modulus(z) < 1.0 - kUnitCircleTol)) return 1;
  }
  return 0;
}

std::uint64_t varma_info_work(const VarmaParams& m) {
  const std::uint64_t filter = varmafit_kalman_work_size(m.k, m.pmax, m.qmax);
  if (filter == 0) return UINT64_MAX;
  const std::uint64_t n = std::uint64_t(varma_info_parameter_count(m.k, m.ar_count, m.ma_count));
  // steps (n), the Hessian's work, the stationarity test, the Sigma copy
  return filter + n + std::uint64_t(hessian_work_size(int(n), 1, kVarmaInfoLevels)) +
         varma_stationarity_work(m.k, m.pmax) + std::uint64_t(packed_size(m.k)) +
         std::uint64_t(n);
}

void varma_info_steps(const VarmaParams& m, double share, double* step) {
  const int k = m.k;
  const double* s = m.sigma_packed;
  std::int64_t at = 0;
  for (int b = 0; b < m.ar_count + m.ma_count; ++b)
    for (int r = 0; r < k; ++r)
      for (int c = 0; c < k; ++c)
        step[at++] = share * std::sqrt(s[packed_index(r, r)] / s[packed_index(c, c)]);
  for (int r = 0; r < k; ++r)
    for (int c = 0; c <= r; ++c)
      step[at++] = share * std::sqrt(s[packed_index(r, r)] * s[packed_index(c, c)]);
}

int varma_info_hessian(const VarmaParams& m, const double* series, std::int64_t T, double* H,
                       double* work) {
  const std::int64_t kk = std::int64_t(m.k) * m.k;
  const std::int64_t n = varma_info_parameter_count(m.k, m.ar_count, m.ma_count);
  Objective o{&m, series, T, nullptr, nullptr, work};
  double* x = work + varmafit_kalman_work_size(m.k, m.pmax, m.qmax);
  double* step = x + n;
  double* hwork = step + n;
  o.roots_work = hwork + hessian_work_size(int(n), 1, kVarmaInfoLevels);
  o.sigma_copy = o.roots_work + varma_stationarity_work(m.k, m.pmax);
  if (m.ar_count > 0) std::memcpy(x, m.ar, sizeof(double) * std::size_t(kk * m.ar_count));
  if (m.ma_count > 0)
    std::memcpy(x + kk * m.ar_count, m.ma, sizeof(double) * std::size_t(kk * m.ma_count));
  std::memcpy(x + kk * (m.ar_count + m.ma_count), m.sigma_packed,
              sizeof(double) * std::size_t(packed_size(m.k)));
  DifferenceProblem problem;
  problem.f = loglik_at;
  problem.context = &o;
  problem.m = int(n);
  double value = 0.0;
  int st = kVarmaInfoOutside;
  for (double share : kVarmaInfoSteps) {
    varma_info_steps(m, share, step);
    st = hessian_by_differences(problem, x, step, kVarmaInfoLevels, &value, nullptr, H, hwork);
    if (st != kVarmaInfoOutside) break;
  }
  return st;
}

}  // namespace mvtsa
