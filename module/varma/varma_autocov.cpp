#include "module/varma/varma_autocov.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/blas/blas.hpp"
#include "module/frame/host.hpp"
#include "module/frame/sizes.hpp"
#include "module/frame/status.hpp"
#include "module/linalg/lu.hpp"

namespace mvtsa {

static_assert(kAutocovSingularInverse == kLuZeroRow && kAutocovSmallPivot == kLuSmallPivot &&
              kAutocovSmallLastPivot == kLuSmallLastPivot);

namespace {

using i64 = std::int64_t;

// C += alpha A B   (k x k) = (k x k)(k x k), one row update per element of A.
void block_mul_add(double* c, double alpha, const double* a, const double* b, int k) {
  for (int r = 0; r < k; ++r)
    for (int l = 0; l < k; ++l) {
      const double f = alpha * a[i64(r) * k + l];
      if (f != 0.0) blas_daxpy(k, f, b + i64(l) * k, c + i64(r) * k);
    }
}

// C += alpha A B'  (k x k) = (k x k)(k x k)', one dot product per element.
void block_mul_add_t(double* c, double alpha, const double* a, const double* b, int k) {
  for (int r = 0; r < k; ++r)
    for (int s = 0; s < k; ++s)
      c[i64(r) * k + s] += alpha * blas_ddot(k, a + i64(r) * k, b + i64(s) * k);
}

void set_identity(double* a, int k) {
  std::memset(a, 0, sizeof(double) * i64(k) * k);
  for (int i = 0; i < k; ++i) a[i64(i) * k + i] = 1.0;
}

// The split of the unknown blocks 0..p: first group 0..m, second m+1..p.
int split_point(int p) { return p % 2 == 1 ? (p - 1) / 2 : p / 2; }

// In-place inverse of a lower-triangular matrix of order n held in packed
// lower storage (element (i, j), j <= i, at i(i+1)/2 + j), column by column
// from the last: with the trailing block already inverted,
//   Linv(j, j) = 1 / L(j, j),  Linv(j+1:, j) = -Linv(j,j) Linv(j+1:, j+1:) L(j+1:, j).
// A pivot L(j, j) whose absolute value is not above 2^-26.5 ends the
// inversion with status 1.  col: n doubles of scratch.
int invert_lower_packed(double* a, i64 n, double* col) {
  auto at = [a](i64 i, i64 j) -> double& { return a[i * (i + 1) / 2 + j]; };
  for (i64 j = 0; j < n; ++j)
    if (!(std::fabs(at(j, j)) > kCloseTol)) return kAutocovSingularInverse;
  for (i64 j = n - 1; j >= 0; --j) {
    const double ajj = 1.0 / at(j, j);
    at(j, j) = ajj;
    for (i64 i = j + 1; i < n; ++i) col[i] = at(i, j);
    // Rows descending: row i of the product reads col[j+1..i] only.
    for (i64 i = n - 1; i > j; --i)
      at(i, j) = -ajj * blas_ddot(int(i - j), &at(i, j + 1), &col[j + 1]);
  }
  return kStatusOk;
}

// Y := Linv Y for the n x w matrix Y (row-major) and the inverted lower
// triangle Linv of order n, in place (rows descending: row i reads rows <= i).
void lower_times(const double* linv, i64 n, double* y, i64 w) {
  for (i64 i = n - 1; i >= 0; --i) {
    const double* li = linv + i * (i + 1) / 2;
    double* yi = y + i * w;
    if (li[i] != 1.0)
      for (i64 c = 0; c < w; ++c) yi[c] *= li[i];
    for (i64 l = 0; l < i; ++l)
      if (li[l] != 0.0) blas_daxpy(int(w), li[l], y + l * w, yi);
  }
}

// Gamma(0) .. Gamma(p) of a model with p > 0 into gam (p+1 blocks), from the
// cross terms C(0) .. C(q).  The unknowns are x_j = vec(X_j), X_0 = Gamma(0),
// X_j = Gamma(j)' (row-major vec; vec(A X) = (A (x) I) vec(X) and
// vec(X') = K vec(X) with the commutation matrix K).  Equation h, transposed:
//   X_h - sum_{i: h-i >= 0} Phi_i X_{h-i} - sum_{i: h-i < 0} Phi_i X_{i-h}' = C(h)'.
// The blocks split into a first group 0..m and a second m+1..p
// (m = (p-1)/2 for odd p, p/2 for even p).  In the second-group equations
// the terms with h-i < 0 reach only blocks i-h <= p-m-1 <= m (first group),
// and those with h-i >= 0 reach only earlier blocks, so the second group's
// own matrix A22 is unit lower triangular: held in packed lower storage and
// inverted in place.  The first group then solves the reduced system
//   (A11 - A12 A22^-1 A21) x1 = c1 - A12 A22^-1 c2
// by LU with scaled partial pivoting (lu_solve), and x2 = A22^-1 (c2 - A21 x1).
int solve_low_lags(double* gam, const double* cross, const double* phi, int p, int q, int k,
                   double* work) {
  const i64 kk = i64(k) * k;
  const int m = split_point(p);
  const i64 n1 = kk * (m + 1), n2 = kk * (p - m);
  double* a11 = work;                     // n1 x n1
  double* a12 = a11 + n1 * n1;            // n1 x n2
  double* a21 = a12 + n1 * n2;            // n2 x n1, becomes A22^-1 A21
  double* a22 = a21 + n2 * n1;            // packed lower, n2 (n2 + 1) / 2
  double* rhs = a22 + n2 * (n2 + 1) / 2;  // n1 + n2, becomes the solution
  double* scale = rhs + n1 + n2;          // n1
  double* col = scale + n1;               // n2
  std::memset(work, 0, sizeof(double) * (n1 * n1 + 2 * n1 * n2 + n2 * (n2 + 1) / 2));

  auto add = [&](i64 row, i64 c, double v) {
    if (row < n1) {
      if (c < n1)
        a11[row * n1 + c] += v;
      else
        a12[row * n2 + (c - n1)] += v;
    } else if (c < n1) {
      a21[(row - n1) * n1 + c] += v;
    } else {
      const i64 r2 = row - n1, c2 = c - n1;  // c2 <= r2 by the structure above
      a22[r2 * (r2 + 1) / 2 + c2] += v;
    }
  };
  for (i64 h = 0; h <= p; ++h) {
    for (int a = 0; a < k; ++a)
      for (int b = 0; b < k; ++b) {
        const i64 row = h * kk + i64(a) * k + b;
        add(row, row, 1.0);
        // right-hand side: element (a, b) of C(h)'
        rhs[row] = h <= q ? cross[h * kk + i64(b) * k + a] : 0.0;
        for (int i = 1; i <= p; ++i) {
          const double* phi_i = phi + (i - 1) * kk;
          if (h - i >= 0) {
            // (Phi_i X_{h-i})(a, b) = sum_c Phi_i(a, c) X_{h-i}(c, b)
            const i64 base = (h - i) * kk + b;
            for (int c = 0; c < k; ++c) {
              const double f = phi_i[i64(a) * k + c];
              if (f != 0.0) add(row, base + i64(c) * k, -f);
            }
          } else {
            // (Phi_i X_j')(a, b) = sum_c Phi_i(a, c) X_j(b, c),  j = i - h
            const i64 base = (i - h) * kk + i64(b) * k;
            for (int c = 0; c < k; ++c) {
              const double f = phi_i[i64(a) * k + c];
              if (f != 0.0) add(row, base + c, -f);
            }
          }
        }
      }
  }
  double* c1 = rhs;
  double* c2 = rhs + n1;
  // A22^-1, then Y = A22^-1 A21 and z = A22^-1 c2 (in place).
  if (int st = invert_lower_packed(a22, n2, col)) return st;
  lower_times(a22, n2, a21, n1);
  lower_times(a22, n2, c2, 1);
  // Reduced first-group system: A11 -= A12 Y, c1 -= A12 z.
  for (i64 r = 0; r < n1; ++r) {
    const double* a12r = a12 + r * n2;
    for (i64 l = 0; l < n2; ++l) {
      const double f = a12r[l];
      if (f == 0.0) continue;
      blas_daxpy(int(n1), -f, a21 + l * n1, a11 + r * n1);
      c1[r] -= f * c2[l];
    }
  }
  if (int st = lu_solve(a11, n1, c1, scale, nullptr)) return st;
  // x2 = z - Y x1
  for (i64 l = 0; l < n2; ++l) c2[l] -= blas_ddot(int(n1), a21 + l * n1, c1);
  // Gamma(0) = X_0; Gamma(h) = X_h'.
  std::memcpy(gam, rhs, sizeof(double) * kk);
  for (i64 h = 1; h <= p; ++h)
    for (int a = 0; a < k; ++a)
      for (int b = 0; b < k; ++b) gam[h * kk + i64(a) * k + b] = rhs[h * kk + i64(b) * k + a];
  return kStatusOk;
}

}  // namespace

void varma_psi_weights(const double* phi, int p, const double* theta, int q, int k,
                       std::int64_t count, double* psi) {
  const i64 kk = i64(k) * k;
  if (count < 1) return;
  set_identity(psi, k);
  for (i64 j = 1; j < count; ++j) {
    double* pj = psi + j * kk;
    if (j <= q)
      for (i64 e = 0; e < kk; ++e) pj[e] = -theta[(j - 1) * kk + e];
    else
      std::memset(pj, 0, sizeof(double) * kk);
    const i64 top = std::min<i64>(j, p);
    for (i64 i = 1; i <= top; ++i) block_mul_add(pj, 1.0, phi + (i - 1) * kk, psi + (j - i) * kk, k);
  }
}

void varma_cross_terms(const double* psi, const double* theta, int q, const double* sigma, int k,
                       double* cross, double* work) {
  const i64 kk = i64(k) * k;
  // work block j-1: W_j = S T_j' = -S Theta_j'
  for (int j = 1; j <= q; ++j) {
    double* wj = work + (j - 1) * kk;
    std::memset(wj, 0, sizeof(double) * kk);
    block_mul_add_t(wj, -1.0, sigma, theta + (j - 1) * kk, k);
  }
  std::memcpy(cross, sigma, sizeof(double) * kk);  // C(0) starts at Psi_0 S T_0' = S
  if (q > 0) std::memset(cross + kk, 0, sizeof(double) * i64(q) * kk);
  // Term j reaches C(0) .. C(j).  Going through j in the outer loop adds the
  // terms of every C(h) in increasing j, as a sum over j would, and lets a
  // zero block Theta_j (an unlisted lag of a sparse MA lag list) cost one
  // scan instead of q: a single block at lag 10^6 stays linear in q.
  for (int j = 1; j <= q; ++j) {
    const double* tj = theta + i64(j - 1) * kk;
    if (std::all_of(tj, tj + kk, [](double x) { return x == 0.0; })) continue;
    const double* wj = work + i64(j - 1) * kk;
    for (int h = 0; h <= j; ++h) block_mul_add(cross + i64(h) * kk, 1.0, psi + i64(j - h) * kk, wj, k);
  }
}

void varma_ma_autocov(const double* theta, int q, const double* sigma, int k, double* d,
                      double* work) {
  const i64 kk = i64(k) * k;
  double* psi = work;  // q+1 blocks: Psi_j = -Theta_j without an AR part
  varma_psi_weights(nullptr, 0, theta, q, k, q + 1, psi);
  varma_cross_terms(psi, theta, q, sigma, k, d, work + (q + 1) * kk);
}

std::uint64_t varma_autocov_work_size(int p, int q, int k) {
  if (p < 0 || q < 0 || k < 1) return 0;
  const std::uint64_t kk = checked_mul(std::uint64_t(k), std::uint64_t(k));
  // psi (q+1), W (max(q,1)), cross (q+1) blocks
  std::uint64_t size = checked_mul(kk, std::uint64_t(q) * 2 + 2 + std::max(q, 1));
  if (p == 0) return size;
  const int m = split_point(p);
  const std::uint64_t n1 = checked_mul(kk, std::uint64_t(m) + 1);
  const std::uint64_t n2 = checked_mul(kk, std::uint64_t(p) - m);
  const std::uint64_t n = checked_add(n1, n2);
  size = checked_add(size, checked_mul(n1, n1));                           // A11
  size = checked_add(size, checked_mul(checked_mul(n1, n2), 2));           // A12, A21
  size = checked_add(size, checked_mul(n2, checked_add(n2, 1)) / 2 + 1);       // A22 packed
  size = checked_add(size, checked_add(n, checked_add(n1, n2)));                   // rhs, scale, col
  size = checked_add(size, checked_mul(kk, std::uint64_t(p) + 1));         // Gamma(0..p)
  return size;
}

int varma_autocov_work(double* out, std::int64_t L, const double* sigma, const double* phi,
                       const double* theta, int p, int q, int k, double* work) {
  const i64 kk = i64(k) * k;
  if (L < 0) return kStatusOk;
  double* psi = work;                           // q+1 blocks
  double* w = psi + i64(q + 1) * kk;            // max(q,1) blocks
  double* cross = w + i64(std::max(q, 1)) * kk;  // q+1 blocks
  double* rest = cross + i64(q + 1) * kk;

  if (p == 0) {
    // Pure MA: Gamma(h) = D(h) for h <= q, zero beyond.
    varma_ma_autocov(theta, q, sigma, k, cross, psi);
    const i64 top = std::min<i64>(q, L);
    std::memcpy(out, cross, sizeof(double) * (top + 1) * kk);
    if (L > top) std::memset(out + (top + 1) * kk, 0, sizeof(double) * (L - top) * kk);
    return kStatusOk;
  }

  varma_psi_weights(phi, p, theta, q, k, q + 1, psi);
  varma_cross_terms(psi, theta, q, sigma, k, cross, w);
  const int m = split_point(p);
  const i64 n1 = kk * (m + 1), n2 = kk * (p - m);
  double* gam = rest + n1 * n1 + 2 * n1 * n2 + n2 * (n2 + 1) / 2 + 1 + 2 * (n1 + n2);
  if (int st = solve_low_lags(gam, cross, phi, p, q, k, rest)) return st;

  const i64 top = std::min<i64>(p, L);
  std::memcpy(out, gam, sizeof(double) * (top + 1) * kk);
  // Gamma(h) = C(h) + sum_{i=1..p} Gamma(h-i) Phi_i'   for h > p (C(h) = 0 for h > q)
  for (i64 h = p + 1; h <= L; ++h) {
    double* gh = out + h * kk;
    if (h <= q)
      std::memcpy(gh, cross + h * kk, sizeof(double) * kk);
    else
      std::memset(gh, 0, sizeof(double) * kk);
    for (int i = 1; i <= p; ++i) block_mul_add_t(gh, 1.0, out + (h - i) * kk, phi + (i - 1) * kk, k);
  }
  return kStatusOk;
}

int varma_autocov(double* out, std::int64_t L, const double* sigma, const double* phi,
                  const double* theta, int p, int q, int k) {
  WorkBlock<double> work(varma_autocov_work_size(p, q, k));
  if (!work) return work.status();
  return varma_autocov_work(out, L, sigma, phi, theta, p, q, k, work.data());
}

}  // namespace mvtsa
