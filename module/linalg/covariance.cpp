#include "module/linalg/covariance.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "module/blas/blas.hpp"
#include "module/frame/host.hpp"
#include "module/frame/status.hpp"

namespace mvtsa {

void pack_symmetric(const double* s, int k, double* packed) {
  std::int64_t n = 0;
  for (int j = 0; j < k; ++j)
    for (int i = 0; i <= j; ++i) packed[n++] = s[std::int64_t(i) * k + j];
}

void unpack_symmetric(const double* packed, int k, double* s) {
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < k; ++j) s[std::int64_t(i) * k + j] = packed[packed_index(i, j)];
}

void packed_identity(int k, double* packed) {
  std::memset(packed, 0, sizeof(double) * packed_size(k));
  for (int i = 0; i < k; ++i) packed[packed_index(i, i)] = 1.0;
}

int sym_check(double* s, int k) {
  const std::int64_t kk = std::int64_t(k) * k;
  double a = 0.0;
  for (std::int64_t i = 0; i < kk; ++i) {
    if (is_missing(s[i])) return kStatusMissing;
    a = std::fmax(a, std::fabs(s[i]));
  }
  const double bound = a * kCloseTol;
  for (int i = 1; i < k; ++i) {
    for (int j = 0; j < i; ++j) {
      double& lo = s[std::int64_t(i) * k + j];
      double& up = s[std::int64_t(j) * k + i];
      const double d = std::fabs(lo - up);
      if (d > bound) return kStatusNotSymmetric;
      if (d > 0) lo = up = 0.5 * (lo + up);
    }
  }
  return kStatusOk;
}

// Bunch-Kaufman factorisation of the lower triangle of the full symmetric
// matrix A (k x k, row-major), following the unblocked lower-triangle
// algorithm: for column j, the diagonal a = |A(j,j)| is compared with the
// largest off-diagonal |A(r,j)| (colmax, at row r) and rowmax of row r.
// 1 x 1 pivot when a >= alpha colmax or a colmax >= alpha colmax^2 / rowmax
// (no interchange), or |A(r,r)| >= alpha rowmax (interchange j and r);
// otherwise a 2 x 2 pivot on rows j, j+1 with r moved to j+1.  Each pivot
// row contributes one value e to the sign count.
int pd_check_work(double* packed, int k, double tolerance, double* A) {
  unpack_symmetric(packed, k, A);
  auto at = [&](int i, int j) -> double& { return A[std::int64_t(i) * k + j]; };
  // The test runs on the correlation matrix D^-1/2 A D^-1/2 (D the diagonal),
  // so that the tolerance bounds pivots relative to the variances and the
  // verdict does not depend on the units of the variables.  A positive
  // definite matrix has a positive diagonal.
  for (int i = 0; i < k; ++i)
    if (!(at(i, i) > 0.0) || !std::isfinite(at(i, i))) return kStatusMessage;
  for (int i = 0; i < k; ++i) {
    const double si = std::sqrt(at(i, i));
    for (int j = 0; j < k; ++j) {
      at(i, j) /= si;
      at(j, i) /= si;
    }
  }
  auto swap_sym = [&](int p, int q) {  // symmetric interchange of rows/cols p < q
    if (p == q) return;
    for (int i = 0; i < k; ++i) std::swap(at(p, i), at(q, i));
    for (int i = 0; i < k; ++i) std::swap(at(i, p), at(i, q));
  };
  int positive = 0, negative = 0, zero = 0;
  auto count = [&](double e) {
    if (std::fabs(e) <= tolerance)
      ++zero;
    else if (e > 0)
      ++positive;
    else
      ++negative;
  };
  int j = 0;
  while (j < k) {
    const double absakk = std::fabs(at(j, j));
    int r = j;
    double colmax = 0.0;
    for (int i = j + 1; i < k; ++i)
      if (std::fabs(at(i, j)) > colmax) {
        colmax = std::fabs(at(i, j));
        r = i;
      }
    int size = 1;
    if (std::fmax(absakk, colmax) == 0.0) {
      count(0.0);  // a zero column: a zero eigenvalue
      ++j;
      continue;
    }
    if (absakk >= kBunchKaufmanAlpha * colmax) {
      // 1 x 1, no interchange
    } else {
      double rowmax = 0.0;
      for (int i = j; i < k; ++i)
        if (i != r) rowmax = std::fmax(rowmax, std::fabs(at(r, i)));
      if (absakk >= kBunchKaufmanAlpha * colmax * (colmax / rowmax)) {
        // 1 x 1, no interchange
      } else if (std::fabs(at(r, r)) >= kBunchKaufmanAlpha * rowmax) {
        swap_sym(j, r);  // 1 x 1 with interchange
      } else {
        swap_sym(j + 1, r);  // 2 x 2 on rows j, j+1
        size = 2;
      }
    }
    if (size == 1) {
      const double d = at(j, j);
      count(d);
      for (int i = j + 1; i < k; ++i) {
        const double f = at(i, j) / d;
        for (int c = j + 1; c <= i; ++c) at(i, c) -= f * at(c, j);
      }
      for (int i = j + 1; i < k; ++i)
        for (int c = j + 1; c < i; ++c) at(c, i) = at(i, c);
      ++j;
    } else {
      const double a = at(j, j), b = at(j + 1, j + 1), c = at(j + 1, j);
      const double ac = std::fabs(c);
      count(ac > kTinyNormal ? (a * b - c * c) / ac : 0.0);
      count(ac);
      const double det = a * b - c * c;
      // Schur complement: A22 -= [x y] D^-1 [x y]'
      for (int i = j + 2; i < k; ++i) {
        const double xi = at(i, j), yi = at(i, j + 1);
        const double wi0 = (b * xi - c * yi) / det, wi1 = (a * yi - c * xi) / det;
        for (int q = j + 2; q <= i; ++q) at(i, q) -= wi0 * at(q, j) + wi1 * at(q, j + 1);
      }
      for (int i = j + 2; i < k; ++i)
        for (int q = j + 2; q < i; ++q) at(q, i) = at(i, q);
      j += 2;
    }
  }
  pack_symmetric(A, k, packed);
  return (positive >= 1 && negative == 0 && zero == 0) ? kStatusOk : kStatusMessage;
}

int pd_check(double* packed, int k, double tolerance) {
  WorkBlock<double> work(std::uint64_t(k) * std::uint64_t(k));
  if (!work) return work.status();
  return pd_check_work(packed, k, tolerance, work.data());
}

int covariance_argument(double* sigma, int k, double* packed) {
  if (sigma == nullptr) {
    packed_identity(k, packed);
    return kStatusOk;
  }
  if (int st = sym_check(sigma, k)) return st;
  pack_symmetric(sigma, k, packed);
  // A failed work allocation inside the test is a host error, not a verdict.
  if (int st = pd_check(packed, k, kCloseTol)) return st == kStatusHostError ? st : kStatusNotPd;
  pack_symmetric(sigma, k, packed);  // the test overwrote the packed copy
  return kStatusOk;
}

double cholesky_packed_row(double* a, int r, double tolerance) {
  double* lr = a + packed_index(r, 0);
  const double bound = tolerance * std::fabs(lr[r]);  // relative to A(r, r)
  double s = 0.0;
  for (int i = 0; i <= r; ++i) {
    const double* li = a + packed_index(i, 0);
    s = lr[i] - blas_ddot(i, li, lr);
    if (i < r) {
      const double lii = li[i];
      lr[i] = lii != 0.0 ? s / lii : 0.0;
    } else {
      lr[r] = s > bound && s > 0.0 ? std::sqrt(s) : 0.0;
    }
  }
  return s;
}

int cholesky_packed(double* a, int k, double tolerance, double min_pivot) {
  for (int r = 0; r < k; ++r) {
    const double diag = std::fabs(a[packed_index(r, r)]);
    const double s = cholesky_packed_row(a, r, tolerance);
    if (min_pivot >= 0 && !(std::fabs(s) >= min_pivot * diag && diag > 0.0)) return r + 1;
  }
  return 0;
}

int floored_ldl(double* a, int k, double floor, double* logdet) {
  double ld = 0.0;
  int raised = 0;
  for (int r = 0; r < k; ++r) {
    double* lr = a + packed_index(r, 0);
    const double diag = lr[r];
    if (!(diag >= 0.0) || !std::isfinite(diag)) return -1;
    // L(r, c) = (A(r, c) - sum_{m < c} L(r, m) L(c, m) d_m) / d_c
    for (int c = 0; c < r; ++c) {
      const double* lc = a + packed_index(c, 0);
      const double dc = lc[c];
      if (dc == 0.0) {
        lr[c] = 0.0;
        continue;
      }
      double s = lr[c];
      for (int m = 0; m < c; ++m) s -= lr[m] * lc[m] * a[packed_index(m, m)];
      lr[c] = s / dc;
    }
    // d_r = A(r, r) - sum_{m < r} L(r, m)^2 d_m, at least floor A(r, r)
    double d = diag;
    for (int m = 0; m < r; ++m) d -= lr[m] * lr[m] * a[packed_index(m, m)];
    if (!(d >= floor * diag)) {
      d = floor * diag;
      ++raised;
    }
    lr[r] = d;
    if (d > 0.0) ld += std::log(d);
  }
  *logdet = ld;
  return raised;
}

double ldl_quadratic(const double* ldl, int k, const double* v, double* w) {
  // L w = v by forward substitution, then sum w_j^2 / d_j over d_j > 0
  double q = 0.0;
  for (int r = 0; r < k; ++r) {
    const double* lr = ldl + packed_index(r, 0);
    double s = v[r];
    for (int c = 0; c < r; ++c) s -= lr[c] * w[c];
    w[r] = s;
    if (lr[r] > 0.0) q += s * s / lr[r];
  }
  return q;
}

// Plain loops rather than one short vector call per element: for the small
// k of a multivariate draw the call overhead would cost more than the
// arithmetic, and the generator itself is the floor.
void mvn_transform(double* out, const double* z, const double* l, std::int64_t n, int k) {
  for (std::int64_t t = 0; t < n; ++t) {
    const double* zt = z + t * k;
    double* ot = out + t * k;
    const double* lm = l;
    for (int m = 0; m < k; ++m) {
      double s = 0.0;
      for (int g = 0; g <= m; ++g) s += lm[g] * zt[g];
      ot[m] = s;
      lm += m + 1;
    }
  }
}

// Rows of deviates drawn at a time by mvn_draw.
constexpr std::int64_t kDrawBlockRows = 4096;

int mvn_draw(double* out, const double* mu, const double* packed_sigma, std::int64_t n, int k,
             double seed, double* work, Stream stream) {
  // The generator record in the host context (made on first use).
  RngState* state = nullptr;
  if (int st = rng_state(&state)) return st;
  // L from a copy of sigma; any pivot below 1e-14 of its variable's variance
  // ends the draw.
  const std::int64_t np = packed_size(k);
  double* l = work;
  std::memcpy(l, packed_sigma, sizeof(double) * np);
  if (cholesky_packed(l, k, kCholeskyTol, kCholeskyTol) != 0) return -1;
  // k (n + 1) deviates are drawn and the first k n used: the stream
  // advances by k (n + 1).  Each deviate takes its own two uniforms, so the
  // draws may be made a block of rows at a time into a small buffer: the
  // work stays that block whatever n is.
  const std::int64_t rows = std::min<std::int64_t>(n + 1, kDrawBlockRows);
  WorkBlock<double> z(checked_mul(std::uint64_t(k), std::uint64_t(rows)));
  if (!z) return z.status();
  // The stream's seed, then every deviate in index order.
  std::uint32_t* seed_var = nullptr;
  if (int st = rng_start(stream, seed, &seed_var)) return st;
  // x_t = L z_t, skipped when L is exactly the identity.
  bool identity = true;
  for (int i = 0; i < k && identity; ++i)
    for (int j = 0; j <= i && identity; ++j)
      identity = l[packed_index(i, j)] == (i == j ? 1.0 : 0.0);
  for (std::int64_t t = 0; t < n; t += rows) {
    const std::int64_t m = std::min(rows, n - t);
    double* target = identity ? out + t * k : z.data();
    rng_normal_fill(seed_var, target, m * k);
    if (!identity) mvn_transform(out + t * k, z.data(), l, m, k);
  }
  rng_normal_fill(seed_var, z.data(), k);  // the row drawn and not used
  // Plus the mean.
  if (mu)
    for (std::int64_t t = 0; t < n; ++t)
      for (int j = 0; j < k; ++j) out[t * k + j] += mu[j];
  return kStatusOk;
}

}  // namespace mvtsa
