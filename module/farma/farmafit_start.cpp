#include "module/farma/farmafit_start.hpp"

#include <algorithm>
#include <complex>
#include <cmath>
#include <cstring>
#include <limits>

#include "module/blas/blas.hpp"
#include "module/farma/poly_roots.hpp"
#include "module/frame/host.hpp"
#include "module/linalg/covariance.hpp"

namespace mvtsa {
namespace {

// Work space of one regression with m regressors: the packed matrix of
// order m + 1, the row z (m + 1), the saved diagonal (m + 1) and the pivot
// flags (m + 1 characters, held in doubles).
std::uint64_t regression_size(std::int64_t m) {
  const std::uint64_t o = std::uint64_t(m) + 1;
  return o * (o + 1) / 2 + 3 * o;
}

// Least squares by the sweep: accumulates the packed cross products of the
// rows z = (regressors, response) that row(t, z) writes for t = t0 .. t1-1
// (one rank-one update per row, a DAXPY per matrix row), sweeps the m
// regressor pivots, and reads the coefficients from the response row and
// the residual sum of squares from the response diagonal.  A pivot that
// fails its tolerance leaves its coefficient 0.  Returns 0 or 1.
template <class RowFn>
int regress(int m, std::int64_t t0, std::int64_t t1, RowFn row, double* work, double* coef,
            double* rss) {
  if (t1 <= t0) return 1;
  const int o = m + 1;
  double* a = work;
  double* z = a + packed_size(o);
  double* diag = z + o;
  char* flags = reinterpret_cast<char*>(diag + o);
  std::memset(a, 0, sizeof(double) * std::size_t(packed_size(o)));
  const int fault_before = fp_fault();
  for (std::int64_t t = t0; t < t1; ++t) {
    row(t, z);
    for (int i = 0; i < o; ++i)
      if (is_missing(z[i])) return 1;
    for (int i = 0; i < o; ++i) blas_daxpy(i + 1, z[i], z, a + packed_index(i, 0));
  }
  if (fault_before == kFpNone && fp_fault() != kFpNone) {
    clear_fp_fault();
    return 1;
  }
  std::memset(flags, '0', std::size_t(o));
  for (int i = 0; i < m; ++i) diag[i] = a[packed_index(i, i)];
  for (int i = 0; i < m; ++i) sweep_pivot(a, i, o, flags, diag, kCloseTol * diag[i]);
  for (int i = 0; i < m; ++i) coef[i] = flags[i] == '1' ? a[packed_index(m, i)] : 0.0;
  *rss = a[packed_index(m, m)];
  return std::isfinite(*rss) ? 0 : 1;
}

// AR(k) on u over t = k .. n-1: z = (u_(t-1), ..., u_(t-k), u_t).
int long_ar(const double* u, std::int64_t n, int k, double* work, double* coef, double* rss) {
  auto row = [&](std::int64_t t, double* z) {
    for (int i = 0; i < k; ++i) z[i] = u[t - 1 - i];
    z[k] = u[t];
  };
  return regress(k, k, n, row, work, coef, rss);
}

}  // namespace

std::uint64_t hannan_rissanen_work_size(std::int64_t n, const ArmaLags& lags) {
  const std::int64_t first = lags.P + lags.Q;
  const std::int64_t second = lags.na + lags.nm;
  const std::int64_t m = std::max(first, second);
  // residuals (n), coefficients (m + 1), one regression of up to m regressors
  return std::uint64_t(n) + std::uint64_t(m) + 1 + regression_size(m);
}

int hannan_rissanen_start(const double* u, std::int64_t n, const ArmaLags& lags, bool exact,
                          double* out, double* work) {
  const int P = lags.P, Q = lags.Q;
  const int m = lags.na + lags.nm;
  double* eps = work;
  double* coef = eps + n;
  double* reg = coef + std::max(P + Q, m) + 1;

  // First stage, only with an MA part: the long autoregression whose
  // residuals stand in for the innovations.
  int h = 0;
  if (Q > 0) {
    double best = std::numeric_limits<double>::infinity();
    for (int k = std::max(1, P); k <= P + Q; ++k) {
      if (n - k < 1) break;
      double s = 0.0;
      if (long_ar(u, n, k, reg, coef, &s) != 0) return 1;
      const double c = std::log(s / double(n)) + 2.0 * k / double(n - k);
      if (h == 0 || c < best) {  // the lowest order on ties
        best = c;
        h = k;
      }
    }
    if (h == 0) return 1;
    double s = 0.0;
    if (long_ar(u, n, h, reg, coef, &s) != 0) return 1;
    for (std::int64_t t = 0; t < n; ++t) {
      double e = 0.0;
      if (t >= h) {
        e = u[t];
        for (int i = 0; i < h; ++i) e -= coef[i] * u[t - 1 - i];
      }
      eps[t] = e;
    }
  }
  // Second stage: the ARMA regression on the lagged series and residuals.
  const std::int64_t t0 = std::int64_t(Q) + std::max(P, h);
  auto row = [&](std::int64_t t, double* z) {
    int i = 0;
    for (int j = 0; j < lags.na; ++j) z[i++] = u[t - lags.ar[j]];
    for (int j = 0; j < lags.nm; ++j) z[i++] = -eps[t - lags.ma[j]];
    z[m] = u[t];
  };
  double s = 0.0;
  if (regress(m, t0, n, row, reg, coef, &s) != 0) return 1;
  std::memcpy(out, coef, sizeof(double) * std::size_t(m));
  if (exact) out[m] = s / double(n - t0);
  return 0;
}

// The largest modulus of a reciprocal zero after the start is moved inside.
constexpr double kInsideModulus = 0.95;

std::uint64_t arma_start_inside_work_size(int order) {
  const std::uint64_t o = std::uint64_t(order) + 1;
  // the polynomial (o), the zeros (2 o), the root finder (7 o), the
  // rebuilt complex polynomial (2 o)
  return 12 * o;
}

int arma_start_inside(double* c, const int* lags, int count, int order, double* work) {
  if (count < 1 || order < 1) return 0;
  const std::int64_t o = std::int64_t(order) + 1;
  double* a = work;          // a_0 = 1, a_lag = -c: z^order + a_1 z^(order-1) + ...
  double* re = a + o;
  double* im = re + o;
  double* rw = im + o;
  double* poly = rw + 7 * o;  // complex coefficients, interleaved
  std::fill(a, a + o, 0.0);
  a[0] = 1.0;
  for (int i = 0; i < count; ++i) a[lags[i]] = -c[i];
  int degree = order;
  while (degree > 0 && a[degree] == 0.0) --degree;  // zeros at the origin add nothing
  if (degree == 0) return 0;
  if (poly_roots(a, &degree, re, im, rw) != kPolyRootsOk) return -1;
  double largest = 0.0;
  for (int i = 0; i < degree; ++i) largest = std::max(largest, std::hypot(re[i], im[i]));
  if (!std::isfinite(largest)) return -1;
  if (largest < 1.0) return 0;
  if (count != order) {  // a subset of lags: scale every zero by s
    const double s = kInsideModulus / largest;
    for (int i = 0; i < count; ++i) c[i] *= std::pow(s, lags[i]);
    return 1;
  }
  // Contiguous lags: reflect the zeros on or outside the unit circle and
  // rebuild prod (z - w_i), whose coefficients are real for conjugate pairs.
  auto* p = reinterpret_cast<std::complex<double>*>(poly);
  std::fill(p, p + o, std::complex<double>(0.0));
  p[0] = 1.0;
  for (int i = 0; i < degree; ++i) {
    std::complex<double> w(re[i], im[i]);
    const double r = std::abs(w);
    if (r >= 1.0) w *= std::min(1.0 / r, kInsideModulus) / r;
    for (int j = i + 1; j >= 1; --j) p[j] -= w * p[j - 1];
  }
  for (int i = 0; i < count; ++i) c[i] = lags[i] <= degree ? -p[lags[i]].real() : 0.0;
  return 1;
}

}  // namespace mvtsa
