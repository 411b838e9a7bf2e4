#include "module/varma/varma_state_covariance.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/frame/host.hpp"
#include "module/linalg/covariance.hpp"
#include "module/linalg/lag_gcd.hpp"
#include "module/linalg/symmetric_eigenvalues.hpp"
#include "module/varma/varma_autocov.hpp"
#include "module/varma/varma_kalman.hpp"

namespace mvtsa {
namespace {

using i64 = std::int64_t;

bool all_zero(const double* b, i64 n) {
  return std::all_of(b, b + n, [](double x) { return x == 0.0; });
}

// The largest state dimension a work size is given for (as the filter's):
// f^2 stays below 2^52.
constexpr std::uint64_t kMaxStateCovarianceDim = std::uint64_t(1) << 26;

// The largest reduced AR order the autocovariance route takes.
i64 autocov_order_cap(int k, int m) { return i64(kAutocovRouteOrder) * m / k; }

// Saturating sum for the work sizes.
std::uint64_t add_sat(std::uint64_t a, std::uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// Doubles of the autocovariance step for reduced orders p, q and m blocks:
// Phi (p blocks), Theta (q), Sigma (1), Gamma of the reduced model (m) and
// varma_autocov_work's own.
std::uint64_t autocov_step_work(int k, i64 p, i64 q, int m) {
  const std::uint64_t kk = std::uint64_t(k) * std::uint64_t(k);
  const std::uint64_t solve = varma_autocov_work_size(int(p), int(q), k);
  if (solve == UINT64_MAX || solve == 0) return UINT64_MAX;
  return add_sat(checked_mul(kk, std::uint64_t(p + q + 1 + m)), solve);
}

// Gamma(0) .. Gamma(m-1) of the model into gam (m blocks): the reduced
// model's blocks Phi~_i = Phi_{g i}, Theta~_j = Theta_{g j} give Gamma~, and
// Gamma(h) = Gamma~(h / g) where g divides h, 0 elsewhere.  Returns
// varma_autocov_work's status.
int autocovariances(const VarmaStateModel& s, const ReducedLags& r, double* gam, double* work) {
  const int k = s.k, g = r.g;
  const i64 kk = i64(k) * k, top = (s.m - 1) / g;
  double* phi = work;                       // p_reduced blocks
  double* theta = phi + r.p_reduced * kk;   // q_reduced blocks
  double* sigma = theta + r.q_reduced * kk; // k x k
  double* reduced = sigma + kk;             // top + 1 blocks
  double* solve = reduced + (top + 1) * kk;
  std::memset(phi, 0, sizeof(double) * std::size_t((r.p_reduced + r.q_reduced) * kk));
  for (int i = 0; i < s.ar_count; ++i) {
    const int l = s.ar_lags[i];
    if (l < 1 || l % g != 0 || l / g > r.p_reduced) continue;  // zero blocks only
    for (i64 e = 0; e < kk; ++e) phi[(l / g - 1) * kk + e] += s.ar[i * kk + e];
  }
  for (int i = 0; i < s.ma_count; ++i) {
    const int l = s.ma_lags[i];
    if (l < 1 || l % g != 0 || l / g > r.q_reduced) continue;
    for (i64 e = 0; e < kk; ++e) theta[(l / g - 1) * kk + e] += s.ma[i * kk + e];
  }
  unpack_symmetric(s.sigma_packed, k, sigma);
  if (int st = varma_autocov_work(reduced, top, sigma, phi, theta, r.p_reduced, r.q_reduced, k,
                                  solve))
    return st;
  for (i64 h = 0; h < s.m; ++h) {
    double* out = gam + h * kk;
    if (h % g == 0)
      std::memcpy(out, reduced + (h / g) * kk, sizeof(double) * std::size_t(kk));
    else
      std::memset(out, 0, sizeof(double) * std::size_t(kk));
  }
  return kStatusOk;
}

// P from the autocovariances (f x f):
//   P_0j = Gamma(j),  P_i0 = Gamma(i)',  P_{i+1,j+1} = P_ij - Q_ij.
void state_from_autocov(i64 f, int k, const double* gam, const double* Q, double* P) {
  const i64 kk = i64(k) * k;
  for (i64 a = 0; a < k; ++a)
    for (i64 c = 0; c < f; ++c) P[a * f + c] = gam[(c / k) * kk + a * k + c % k];
  for (i64 r = k; r < f; ++r) {
    double* row = P + r * f;
    for (i64 b = 0; b < k; ++b) row[b] = gam[(r / k) * kk + b * k + r % k];
    const double* prev = P + (r - k) * f;
    const double* q = Q + (r - k) * f;
    for (i64 c = k; c < f; ++c) row[c] = prev[c - k] - q[c - k];
  }
}

// P of a pure moving average (T a shift, f x f), from the last block:
//   P_{m-1,j} = Q_{m-1,j},  P_i,m-1 = Q_i,m-1,  P_ij = Q_ij + P_{i+1,j+1}.
void state_from_noise(i64 f, int k, const double* Q, double* P) {
  for (i64 r = f - 1; r >= 0; --r)
    for (i64 c = 0; c < f; ++c)
      P[r * f + c] = (r + k < f && c + k < f) ? Q[r * f + c] + P[(r + k) * f + c + k]
                                              : Q[r * f + c];
}

// The eigenvalue test of P (symmetrised in place) in balanced units d, class
// by class: kInitialStationary, or kInitialIndefinite when P is not finite,
// an eigenvalue routine fails, or the smallest eigenvalue is below
// -kFilterTol times the largest in magnitude.  work: packed_size(n) + 10 n
// doubles for the largest class, n = k ceil(m / g).
int eigenvalue_test(i64 f, int k, int g, const double* d, double* P, double* work) {
  bool finite = true;
  for (i64 i = 0; i < f; ++i)
    for (i64 j = 0; j <= i; ++j) {
      const double x = 0.5 * (P[i * f + j] + P[j * f + i]);
      P[i * f + j] = P[j * f + i] = x;
      finite = finite && std::isfinite(x);
    }
  if (!finite) return kInitialIndefinite;
  const i64 m = f / k;
  double lo = 0.0, big = 0.0;
  for (i64 cls = 0; cls < std::min<i64>(g, m); ++cls) {
    const i64 n = k * ((m - 1 - cls) / g + 1);  // blocks cls, cls + g, ... below m
    double* packed = work;
    double* eig = packed + packed_size(n);
    double* eig_work = eig + n;
    // element x of the class is state element (cls + (x / k) g) k + x % k
    auto at = [&](i64 x) { return (cls + (x / k) * g) * k + x % k; };
    for (i64 x = 0; x < n; ++x)
      for (i64 y = 0; y <= x; ++y)
        packed[packed_index(x, y)] = P[at(x) * f + at(y)] / d[at(x)] / d[at(y)];
    const int st = symmetric_eigenvalues(int(n), packed, eig, eig_work);
    if (st != 0 && st != kSymBisection) return kInitialIndefinite;
    lo = std::min(lo, eig[n - 1]);
    big = std::max({big, std::fabs(eig[0]), std::fabs(eig[n - 1])});
  }
  return lo >= -kFilterTol * big ? kInitialStationary : kInitialIndefinite;
}

}  // namespace

void kalman_balance_scales(std::int64_t f, int k, const double* Q, double* d) {
  for (std::int64_t i = 0; i < f; ++i) {
    const std::int64_t j = k > 0 ? i % k : i;
    const double s = Q[j * f + j];
    int e = 1;
    double m = 1.0;
    if (s > 0.0 && std::isfinite(s)) m = std::frexp(std::sqrt(s), &e);  // m 2^e, m in [1/2, 1)
    d[i] = std::ldexp(1.0, m >= std::sqrt(0.5) ? e : e - 1);
  }
}

void kalman_fallback_covariance(std::int64_t f, int k, const double* Q, double* P) {
  std::memset(P, 0, sizeof(double) * std::size_t(f * f));
  for (std::int64_t i = 0; i < f; ++i) {
    const std::int64_t j = k > 0 ? i % k : i;
    const double s = Q[j * f + j];
    P[i * f + i] = kFallbackVariance * (s > 0.0 && std::isfinite(s) ? s : 1.0);
  }
}

ReducedLags reduced_lags(const VarmaStateModel& s) {
  const i64 kk = i64(s.k) * s.k;
  int g = 0, p = 0, q = 0;
  for (int i = 0; i < s.ar_count; ++i) {
    const int l = s.ar_lags[i];
    if (l < 1 || l > s.m || all_zero(s.ar + i * kk, kk)) continue;
    g = lag_gcd(l, g);
    p = std::max(p, l);
  }
  for (int i = 0; i < s.ma_count; ++i) {
    const int l = s.ma_lags[i];
    if (l < 1 || l >= s.m || all_zero(s.ma + i * kk, kk)) continue;
    g = lag_gcd(l, g);
    q = std::max(q, l);
  }
  ReducedLags r;
  if (g == 0) return r;
  r.g = g;
  r.p_reduced = p / g;
  r.q_reduced = q / g;
  return r;
}

bool state_covariance_by_autocov(const VarmaStateModel& s) {
  return reduced_lags(s).p_reduced <= autocov_order_cap(s.k, s.m);
}

std::uint64_t varma_state_covariance_work(int k, int pmax, int qmax) {
  if (k < 1 || pmax < 0 || qmax < 0) return UINT64_MAX;
  const int m = std::max(pmax, qmax + 1);
  const i64 p = std::min<i64>(pmax, autocov_order_cap(k, m));
  const std::uint64_t f = std::uint64_t(k) * std::uint64_t(m);
  if (f > kMaxStateCovarianceDim) return UINT64_MAX;
  // the autocovariance step (only with an AR part), then the test: the
  // scales d (f) before either, and the eigenvalues of the largest class
  const std::uint64_t test = f * (f + 1) / 2 + 10 * f;
  const std::uint64_t step = p > 0 ? autocov_step_work(k, p, qmax, m) : 0;
  if (step == UINT64_MAX) return UINT64_MAX;
  // the autocovariances Gamma(0 .. m-1) are kept while P is formed
  const std::uint64_t gam = checked_mul(std::uint64_t(k) * std::uint64_t(k), std::uint64_t(m));
  return add_sat(add_sat(f, gam), std::max(step, test));
}

int varma_state_covariance(const VarmaStateModel& s, const double* Q, double* P, double* work) {
  const int k = s.k;
  const i64 f = i64(k) * s.m;
  double* d = work;
  double* gam = d + f;
  double* rest = gam + i64(k) * k * s.m;
  kalman_balance_scales(f, k, Q, d);
  const ReducedLags r = reduced_lags(s);
  int outcome = kInitialStationary;
  if (r.p_reduced == 0) {
    state_from_noise(f, k, Q, P);
  } else if (autocovariances(s, r, gam, rest) != kStatusOk) {
    outcome = kInitialSingular;
  } else {
    state_from_autocov(f, k, gam, Q, P);
  }
  if (outcome == kInitialStationary) outcome = eigenvalue_test(f, k, r.g, d, P, rest);
  if (outcome != kInitialStationary) kalman_fallback_covariance(f, k, Q, P);
  return outcome;
}

}  // namespace mvtsa
