#include "module/linalg/companion_roots.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "module/frame/sizes.hpp"
#include "module/frame/status.hpp"
#include "module/linalg/complex_modulus.hpp"
#include "module/linalg/covariance_checks.hpp"
#include "module/linalg/general_eigenvalues.hpp"
#include "module/linalg/lag_gcd.hpp"
#include "module/linalg/packed.hpp"
#include "module/linalg/symmetric_eigenvalues.hpp"

namespace mvtsa {
namespace {

// Doubles of work of the first-order paths: the symmetric one (eigenvalues
// 3k, the solver's work, the packed block) or the general one (wr, wi and
// the solver's work 5k + 260, a copy of the block), whichever is larger.
std::uint64_t first_order_work(std::uint64_t k) {
  const std::uint64_t sym = checked_add(
      checked_add(checked_mul(3, k), std::uint64_t(symmetric_eigenvalues_work(std::int64_t(k)))),
      std::uint64_t(packed_size(std::int64_t(k))));
  const std::uint64_t general =
      checked_add(checked_add(checked_mul(5, k), kEigFixedArea), checked_mul(k, k));
  return sym > general ? sym : general;
}

// Doubles of work of the companion matrix of order m: the matrix (m x m),
// wr (m), wi (m) and the solver's work (3m + 260).
std::uint64_t full_work(std::uint64_t m) {
  return checked_add(checked_add(checked_mul(m, m), checked_mul(5, m)), kEigFixedArea);
}

// p = 1 and a symmetric block: eigenvalues of the packed lower triangle.
int symmetric_roots(const double* c, int k, double* roots, double* work) {
  double* w = work;                                      // 3k
  double* solver = w + 3 * std::int64_t(k);              // symmetric_eigenvalues_work(k)
  double* packed = solver + symmetric_eigenvalues_work(k);  // packed_size(k)
  std::memset(work, 0, sizeof(double) * std::size_t(packed + packed_size(k) - work));
  pack_symmetric(c, k, packed);
  if (symmetric_eigenvalues(k, packed, w, solver) != 0) return kCompanionRootsFailed;
  for (int i = 0; i < k; ++i) {
    roots[2 * i] = w[i];
    roots[2 * i + 1] = 0.0;
  }
  return kCompanionRootsOk;
}

// p = 1 and a non-symmetric block: general eigenvalues of a copy.
int general_roots(const double* c, int k, double* roots, double* work) {
  double* wr = work;                      // k
  double* wi = wr + k;                    // k, then the solver's 3k + 260
  double* copy = wi + 4 * std::int64_t(k) + kEigFixedArea;  // k x k
  std::memset(work, 0, sizeof(double) * std::size_t(copy - work));
  std::memcpy(copy, c, sizeof(double) * std::size_t(k) * std::size_t(k));
  const int st = general_eigenvalues(k, copy, k, wr, wi, wi + k);
  if (st == kEigCancelled) return kCompanionRootsCancelled;
  if (st != 0) return kCompanionRootsFailed;
  for (int i = 0; i < k; ++i) {
    roots[2 * i] = wr[i];
    roots[2 * i + 1] = wi[i];
  }
  return kCompanionRootsOk;
}

// The m = k p eigenvalues of the companion matrix itself (p > 1), in
// full_work(m) doubles: the companion matrix (m x m), wr (m), wi (m), work
// (3m + 260).
int full_companion_roots(const double* coef, int k, int p, double* roots, double* work) {
  const std::uint64_t m = std::uint64_t(k) * std::uint64_t(p);
  if (m > 0x7fffffffULL) return kCompanionRootsFailed;  // beyond any 32-bit order
  double* c = work;
  const int mi = static_cast<int>(m);
  // C: rows 0..k-1 = [row i of C_1, ..., row i of C_p]; ones at (k + j, j).
  std::memset(work, 0, sizeof(double) * std::size_t(full_work(m)));
  const std::int64_t kk = std::int64_t(k) * k;
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < p; ++j)
      std::memcpy(c + std::int64_t(i) * mi + std::int64_t(j) * k, coef + j * kk + std::int64_t(i) * k,
                  sizeof(double) * std::size_t(k));
  for (int j = 0; j < mi - k; ++j) c[std::int64_t(k + j) * mi + j] = 1.0;
  double* wr = c + std::int64_t(m) * std::int64_t(m);
  double* wi = wr + m;
  const int st = general_eigenvalues(mi, c, mi, wr, wi, wi + m);
  if (st == kEigCancelled) return kCompanionRootsCancelled;
  if (st != 0) return kCompanionRootsFailed;
  for (int i = 0; i < mi; ++i) {
    roots[2 * std::int64_t(i)] = wr[i];
    roots[2 * std::int64_t(i) + 1] = wi[i];
  }
  return kCompanionRootsOk;
}

bool all_zero(const double* x, std::int64_t n) {
  for (std::int64_t i = 0; i < n; ++i)
    if (x[i] != 0.0) return false;  // a NaN counts as non-zero
  return true;
}

// The roots through the polynomial in w = z^g.  Blocks C_j that are zero
// except at lags j = g, 2g, ..., r g (g the gcd of the lags of the non-zero
// blocks, r g = top the largest of them) give
//   det(lambda^p I - sum_j C_j lambda^(p-j))
//     = lambda^(k (p - top)) det(mu^r I - sum_i C_(ig) mu^(r-i)),   mu = lambda^g,
// so the k p roots are k (p - top) zeros and the g-th roots of the k r
// eigenvalues mu of the companion matrix of the blocks C_g, C_2g, ..., C_rg.
// The reduced companion matrix has order k r instead of k p; the roots are
// then put in the order of general_eigenvalues.
int reduced_companion_roots(const double* coef, int k, int p, int g, int top, double* roots,
                            double* work) {
  const int r = top / g;
  const std::uint64_t kk = std::uint64_t(k) * std::uint64_t(k);
  const std::uint64_t mr = std::uint64_t(k) * std::uint64_t(r);
  const std::uint64_t m = std::uint64_t(k) * std::uint64_t(p);
  // The reduced blocks (k k r), the k r eigenvalues mu as (real, imaginary)
  // pairs (2 k r), then the solver's work, which wr, wi and the ordering
  // work (3m) reuse afterwards.
  double* blocks = work;
  double* mu = blocks + kk * r;
  double* rest = mu + 2 * mr;
  for (int i = 0; i < r; ++i)
    std::memcpy(blocks + i * kk, coef + (std::uint64_t(i + 1) * g - 1) * kk, sizeof(double) * kk);
  int st = kCompanionRootsOk;
  if (r > 1) {
    st = full_companion_roots(blocks, k, r, mu, rest);
  } else {
    // One block: the symmetric solver only when it is exactly symmetric, so
    // that no averaging changes the block.
    bool symmetric = true;
    for (int i = 0; i < k && symmetric; ++i)
      for (int j = 0; j < i && symmetric; ++j)
        symmetric = blocks[std::int64_t(i) * k + j] == blocks[std::int64_t(j) * k + i];
    st = symmetric ? symmetric_roots(blocks, k, mu, rest) : general_roots(blocks, k, mu, rest);
  }
  if (st != kCompanionRootsOk) return st;
  double* wr = rest;
  double* wi = wr + m;
  std::memset(rest, 0, sizeof(double) * std::size_t(3 * m));
  std::int64_t at = 0;
  for (std::uint64_t i = 0; i < mr; ++i) {
    const double re = mu[2 * i], im = mu[2 * i + 1];
    const bool pair = im > 0.0 && i + 1 < mr && mu[2 * i + 2] == re && mu[2 * i + 3] == -im;
    append_gth_roots(re, im, pair, g, wr, wi, &at);
    if (pair) ++i;
  }
  while (at < std::int64_t(m)) {
    wr[at] = 0.0;
    wi[at] = 0.0;
    ++at;
  }
  if (order_eigenvalues(static_cast<int>(m), wr, wi, wi + m) != 0) return kCompanionRootsFailed;
  for (std::uint64_t i = 0; i < m; ++i) {
    roots[2 * i] = wr[i];
    roots[2 * i + 1] = wi[i];
  }
  return kCompanionRootsOk;
}

// The lags of the non-zero blocks of coef: their gcd g and the largest, top
// (both 0 when every block is zero).
struct LagShape {
  int g = 0, top = 0;
  bool reduced(int p) const { return top > 0 && (g > 1 || top < p); }
};
LagShape lag_shape(const double* coef, int k, int p) {
  const std::int64_t kk = std::int64_t(k) * k;
  LagShape s;
  for (int j = 0; j < p; ++j)
    if (!all_zero(coef + j * kk, kk)) {
      s.g = lag_gcd(j + 1, s.g);
      s.top = j + 1;
    }
  return s;
}

// Doubles of work of the roots of a polynomial of this shape: the reduced
// blocks (k k r), the k r eigenvalues mu (2 k r) and the larger of the
// reduced solver's work and the ordering's wr, wi and work (3m); or the
// first-order or full companion work.
std::uint64_t shape_work(const LagShape& s, int k, int p) {
  const std::uint64_t uk = std::uint64_t(k), m = uk * std::uint64_t(p);
  if (s.top == 0) return 0;
  if (!s.reduced(p)) return p == 1 ? first_order_work(uk) : full_work(m);
  const std::uint64_t r = std::uint64_t(s.top / s.g);
  const std::uint64_t solver = r > 1 ? full_work(uk * r) : first_order_work(uk);
  const std::uint64_t ordering = checked_mul(3, m);
  return checked_add(checked_add(checked_mul(uk * uk, r), 2 * uk * r),
                     solver > ordering ? solver : ordering);
}

}  // namespace

std::uint64_t companion_roots_work(const double* coef, int k, int p) {
  if (k < 1 || p < 1 || !coef) return 0;
  if (std::uint64_t(k) * std::uint64_t(p) > 0x7fffffffULL) return 0;  // refused, no work touched
  return shape_work(lag_shape(coef, k, p), k, p);
}

int companion_roots(double* coef, int k, int p, double* roots, double* work) {
  if (k < 1 || p < 1 || !coef || !roots) return kCompanionRootsFailed;
  if (std::uint64_t(k) * std::uint64_t(p) > 0x7fffffffULL) return kCompanionRootsFailed;
  const LagShape s = lag_shape(coef, k, p);
  if (s.reduced(p)) return reduced_companion_roots(coef, k, p, s.g, s.top, roots, work);
  if (s.top == 0) {
    // Every block zero: every root is 0.
    std::memset(roots, 0, sizeof(double) * 2 * std::size_t(k) * std::size_t(p));
    return kCompanionRootsOk;
  }
  if (p == 1) {
    const int sym = sym_check(coef, k);
    if (sym == kStatusMissing) return kCompanionRootsMissing;
    return sym == 0 ? symmetric_roots(coef, k, roots, work) : general_roots(coef, k, roots, work);
  }
  return full_companion_roots(coef, k, p, roots, work);
}

std::uint64_t is_nonstationary_work(const double* coef, int blocks, int p, const int* lags,
                                    int k) {
  if (blocks == p) return companion_roots_work(coef, k, p);
  if (k < 1 || p < 1 || blocks < 0 || !lags) return 0;
  // The spread blocks (k k p), then the roots' work of any shape: at most
  // the reduced blocks and eigenvalues of every lag (k k p + 2 m) beside the
  // largest solver (full_work(m), or the first-order work) and the ordering
  // (3m).
  const std::uint64_t uk = std::uint64_t(k), m = uk * std::uint64_t(p);
  const std::uint64_t spread = checked_mul(uk * uk, std::uint64_t(p));
  if (m > 0x7fffffffULL) return spread;  // the roots are refused, no work touched
  std::uint64_t n = checked_add(spread, spread);
  n = checked_add(n, checked_mul(5, m));
  n = checked_add(n, full_work(m));
  return checked_add(n, first_order_work(uk));
}

int is_nonstationary(double* coef, int blocks, int p, const int* lags, int k, double* roots,
                     double* work, int* roots_status) {
  int st = kCompanionRootsFailed;
  if (blocks == p) {
    st = companion_roots(coef, k, p, roots, work);
  } else if (k >= 1 && p >= 1 && blocks >= 0 && lags) {
    const std::uint64_t kk = std::uint64_t(k) * std::uint64_t(k);
    double* full = work;
    std::memset(full, 0, sizeof(double) * std::size_t(kk * std::uint64_t(p)));
    for (int j = 0; j < blocks; ++j)
      if (lags[j] >= 1 && lags[j] <= p)
        std::memcpy(full + (lags[j] - 1) * kk, coef + j * kk, sizeof(double) * kk);
    st = companion_roots(full, k, p, roots, full + kk * std::uint64_t(p));
  }
  if (roots_status) *roots_status = st;
  if (st != kCompanionRootsOk) return 1;
  const std::int64_t m = std::int64_t(k) * p;
  for (std::int64_t i = 0; i < m; ++i) {
    const double r = complex_modulus(roots + 2 * i);
    if (r >= 1.0 || std::fabs(r - 1.0) <= kUnitCircleTol) return 1;
  }
  return 0;
}

}  // namespace mvtsa
