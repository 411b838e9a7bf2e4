#include "module/roots/stationarity.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "module/frame/host.hpp"
#include "module/frame/status.hpp"
#include "module/linalg/complex_modulus.hpp"
#include "module/linalg/symmetric_eigenvalues.hpp"
#include "module/roots/eigenvalues.hpp"
#include "module/varma/covariance.hpp"

namespace mvtsa {
namespace {

// p = 1 and a symmetric block: eigenvalues of the packed lower triangle.
int symmetric_roots(const double* c, int k, double* roots) {
  WorkBlock<double> w(3 * std::uint64_t(k));
  if (!w) return kRootsHostError;
  WorkBlock<double> work(std::uint64_t(symmetric_eigenvalues_work(k)));
  if (!work) return kRootsHostError;
  WorkBlock<double> packed(std::uint64_t(packed_size(k)));
  if (!packed) return kRootsHostError;
  pack_symmetric(c, k, packed.data());
  if (symmetric_eigenvalues(k, packed.data(), w.data(), work.data()) != 0) return kRootsFailed;
  for (int i = 0; i < k; ++i) {
    roots[2 * i] = w[i];
    roots[2 * i + 1] = 0.0;
  }
  return kRootsOk;
}

// p = 1 and a non-symmetric block: general eigenvalues of a copy.
int general_roots(const double* c, int k, double* roots) {
  // wr (k), wi (k), work (3k + 260)
  WorkBlock<double> w(5 * std::uint64_t(k) + kEigFixedArea);
  if (!w) return kRootsHostError;
  WorkBlock<double> copy(checked_mul(std::uint64_t(k), std::uint64_t(k)));
  if (!copy) return kRootsHostError;
  std::memcpy(copy.data(), c, sizeof(double) * std::size_t(k) * std::size_t(k));
  double* wr = w.data();
  double* wi = wr + k;
  if (general_eigenvalues(k, copy.data(), k, wr, wi, wi + k) != 0) return kRootsFailed;
  for (int i = 0; i < k; ++i) {
    roots[2 * i] = wr[i];
    roots[2 * i + 1] = wi[i];
  }
  return kRootsOk;
}

}  // namespace

int companion_roots(double* coef, int k, int p, double* roots) {
  if (k < 1 || p < 1 || !coef || !roots) return kRootsFailed;
  if (p == 1) {
    const int sym = sym_check(coef, k);
    if (sym == kStatusMissing) return kRootsMissing;
    return sym == 0 ? symmetric_roots(coef, k, roots) : general_roots(coef, k, roots);
  }
  // One block of m^2 + 5m + 260 doubles from the temporary pair A: the
  // companion matrix (m x m), wr (m), wi (m), work (3m + 260).
  const std::uint64_t m = std::uint64_t(k) * std::uint64_t(p);
  if (m > 0x7fffffffULL) return kRootsFailed;  // beyond any 32-bit order
  const std::uint64_t count = checked_mul(m, m) + 5 * m + kEigFixedArea;
  void* block = temp_a_obtain(checked_bytes(count, sizeof(double)));
  if (!block) {
    allocation_failed();  // raises the pending (or an out-of-memory) error
    return kRootsHostError;
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
  return st == 0 ? kRootsOk : kRootsFailed;
}

int is_nonstationary(double* coef, int blocks, int p, const int* lags, int k, double* roots,
                     int* roots_status) {
  int st = kRootsFailed;
  if (blocks == p) {
    st = companion_roots(coef, k, p, roots);
  } else if (k >= 1 && p >= 1 && blocks >= 0 && lags) {
    const std::uint64_t kk = std::uint64_t(k) * std::uint64_t(k);
    WorkBlock<double> full(checked_mul(kk, std::uint64_t(p)));
    if (!full) {
      st = kRootsHostError;
    } else {
      for (int j = 0; j < blocks; ++j)
        if (lags[j] >= 1 && lags[j] <= p)
          std::memcpy(full.data() + (lags[j] - 1) * kk, coef + j * kk, sizeof(double) * kk);
      st = companion_roots(full.data(), k, p, roots);
    }
  }
  if (roots_status) *roots_status = st;
  if (st != kRootsOk) return 1;
  const std::int64_t m = std::int64_t(k) * p;
  for (std::int64_t i = 0; i < m; ++i) {
    const double r = complex_modulus(roots + 2 * i);
    if (r >= 1.0 || std::fabs(r - 1.0) <= kUnitCircleTol) return 1;
  }
  return 0;
}

}  // namespace mvtsa
