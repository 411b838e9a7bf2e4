#include "module/linalg/companion_roots.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "module/frame/host.hpp"
#include "module/frame/status.hpp"
#include "module/linalg/complex_modulus.hpp"
#include "module/linalg/covariance.hpp"
#include "module/linalg/general_eigenvalues.hpp"
#include "module/linalg/lag_gcd.hpp"
#include "module/linalg/symmetric_eigenvalues.hpp"

namespace mvtsa {
namespace {

// p = 1 and a symmetric block: eigenvalues of the packed lower triangle.
int symmetric_roots(const double* c, int k, double* roots) {
  WorkBlock<double> w(3 * std::uint64_t(k));
  if (!w) return kCompanionRootsHostError;
  WorkBlock<double> work(std::uint64_t(symmetric_eigenvalues_work(k)));
  if (!work) return kCompanionRootsHostError;
  WorkBlock<double> packed(std::uint64_t(packed_size(k)));
  if (!packed) return kCompanionRootsHostError;
  pack_symmetric(c, k, packed.data());
  if (symmetric_eigenvalues(k, packed.data(), w.data(), work.data()) != 0)
    return kCompanionRootsFailed;
  for (int i = 0; i < k; ++i) {
    roots[2 * i] = w[i];
    roots[2 * i + 1] = 0.0;
  }
  return kCompanionRootsOk;
}

// p = 1 and a non-symmetric block: general eigenvalues of a copy.
int general_roots(const double* c, int k, double* roots) {
  // wr (k), wi (k), work (3k + 260)
  WorkBlock<double> w(5 * std::uint64_t(k) + kEigFixedArea);
  if (!w) return kCompanionRootsHostError;
  WorkBlock<double> copy(checked_mul(std::uint64_t(k), std::uint64_t(k)));
  if (!copy) return kCompanionRootsHostError;
  std::memcpy(copy.data(), c, sizeof(double) * std::size_t(k) * std::size_t(k));
  double* wr = w.data();
  double* wi = wr + k;
  const int st = general_eigenvalues(k, copy.data(), k, wr, wi, wi + k);
  if (st == kEigCancelled) return kCompanionRootsCancelled;
  if (st != 0) return kCompanionRootsFailed;
  for (int i = 0; i < k; ++i) {
    roots[2 * i] = wr[i];
    roots[2 * i + 1] = wi[i];
  }
  return kCompanionRootsOk;
}

// The m = k p eigenvalues of the companion matrix itself (p > 1), from one
// block of m^2 + 5m + 260 doubles of the temporary pair A: the companion
// matrix (m x m), wr (m), wi (m), work (3m + 260).
int full_companion_roots(const double* coef, int k, int p, double* roots) {
  const std::uint64_t m = std::uint64_t(k) * std::uint64_t(p);
  if (m > 0x7fffffffULL) return kCompanionRootsFailed;  // beyond any 32-bit order
  const std::uint64_t count = checked_mul(m, m) + 5 * m + kEigFixedArea;
  void* block = temp_a_obtain(checked_bytes(count, sizeof(double)));
  if (!block) {
    allocation_failed();  // raises the pending (or an out-of-memory) error
    return kCompanionRootsHostError;
  }
  auto* c = static_cast<double*>(block);
  const int mi = static_cast<int>(m);
  // C: rows 0..k-1 = [row i of C_1, ..., row i of C_p]; ones at (k + j, j).
  std::memset(c, 0, sizeof(double) * std::size_t(m) * std::size_t(m));
  const std::int64_t kk = std::int64_t(k) * k;
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < p; ++j)
      std::memcpy(c + std::int64_t(i) * mi + std::int64_t(j) * k, coef + j * kk + std::int64_t(i) * k,
                  sizeof(double) * std::size_t(k));
  for (int j = 0; j < mi - k; ++j) c[std::int64_t(k + j) * mi + j] = 1.0;
  double* wr = c + std::int64_t(m) * std::int64_t(m);
  double* wi = wr + m;
  const int st = general_eigenvalues(mi, c, mi, wr, wi, wi + m);
  if (st == 0)
    for (int i = 0; i < mi; ++i) {
      roots[2 * std::int64_t(i)] = wr[i];
      roots[2 * std::int64_t(i) + 1] = wi[i];
    }
  temp_a_release(&block);
  if (st == kEigCancelled) return kCompanionRootsCancelled;
  return st == 0 ? kCompanionRootsOk : kCompanionRootsFailed;
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
int reduced_companion_roots(const double* coef, int k, int p, int g, int top, double* roots) {
  const int r = top / g;
  const std::uint64_t kk = std::uint64_t(k) * std::uint64_t(k);
  const std::uint64_t mr = std::uint64_t(k) * std::uint64_t(r);
  const std::uint64_t m = std::uint64_t(k) * std::uint64_t(p);
  // The reduced blocks, and the k r eigenvalues mu as (real, imaginary) pairs.
  WorkBlock<double> blocks(checked_mul(kk, std::uint64_t(r)));
  if (!blocks) return kCompanionRootsHostError;
  for (int i = 0; i < r; ++i)
    std::memcpy(blocks.data() + i * kk, coef + (std::uint64_t(i + 1) * g - 1) * kk,
                sizeof(double) * kk);
  WorkBlock<double> mu(2 * mr);
  if (!mu) return kCompanionRootsHostError;
  int st = kCompanionRootsOk;
  if (r > 1) {
    st = full_companion_roots(blocks.data(), k, r, mu.data());
  } else {
    // One block: the symmetric solver only when it is exactly symmetric, so
    // that no averaging changes the block.
    bool symmetric = true;
    for (int i = 0; i < k && symmetric; ++i)
      for (int j = 0; j < i && symmetric; ++j)
        symmetric = blocks[std::int64_t(i) * k + j] == blocks[std::int64_t(j) * k + i];
    st = symmetric ? symmetric_roots(blocks.data(), k, mu.data())
                   : general_roots(blocks.data(), k, mu.data());
  }
  if (st != kCompanionRootsOk) return st;
  blocks.reset();
  // wr (m), wi (m), ordering work (m).
  WorkBlock<double> w(3 * m);
  if (!w) return kCompanionRootsHostError;
  double* wr = w.data();
  double* wi = wr + m;
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

}  // namespace

int companion_roots(double* coef, int k, int p, double* roots) {
  if (k < 1 || p < 1 || !coef || !roots) return kCompanionRootsFailed;
  if (std::uint64_t(k) * std::uint64_t(p) > 0x7fffffffULL) return kCompanionRootsFailed;
  // The lags of the non-zero blocks: their gcd g and the largest, top.
  const std::int64_t kk = std::int64_t(k) * k;
  int g = 0, top = 0;
  for (int j = 0; j < p; ++j)
    if (!all_zero(coef + j * kk, kk)) {
      g = lag_gcd(j + 1, g);
      top = j + 1;
    }
  if (top > 0 && (g > 1 || top < p)) return reduced_companion_roots(coef, k, p, g, top, roots);
  if (top == 0) {
    // Every block zero: every root is 0.
    std::memset(roots, 0, sizeof(double) * 2 * std::size_t(k) * std::size_t(p));
    return kCompanionRootsOk;
  }
  if (p == 1) {
    const int sym = sym_check(coef, k);
    if (sym == kStatusMissing) return kCompanionRootsMissing;
    return sym == 0 ? symmetric_roots(coef, k, roots) : general_roots(coef, k, roots);
  }
  return full_companion_roots(coef, k, p, roots);
}

int is_nonstationary(double* coef, int blocks, int p, const int* lags, int k, double* roots,
                     int* roots_status) {
  int st = kCompanionRootsFailed;
  if (blocks == p) {
    st = companion_roots(coef, k, p, roots);
  } else if (k >= 1 && p >= 1 && blocks >= 0 && lags) {
    const std::uint64_t kk = std::uint64_t(k) * std::uint64_t(k);
    WorkBlock<double> full(checked_mul(kk, std::uint64_t(p)));
    if (!full) {
      st = kCompanionRootsHostError;
    } else {
      for (int j = 0; j < blocks; ++j)
        if (lags[j] >= 1 && lags[j] <= p)
          std::memcpy(full.data() + (lags[j] - 1) * kk, coef + j * kk, sizeof(double) * kk);
      st = companion_roots(full.data(), k, p, roots);
    }
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
