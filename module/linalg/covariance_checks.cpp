#include "module/linalg/covariance_checks.hpp"

#include <cmath>
#include <cstdint>
#include <utility>

#include "module/frame/host.hpp"
#include "module/frame/status.hpp"
#include "module/linalg/packed.hpp"

namespace mvtsa {

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

namespace {

// The full symmetric k x k matrix of the Bunch-Kaufman test, row-major.
struct Symmetric {
  double* a;
  int k;
  double& operator()(int i, int j) const { return a[std::int64_t(i) * k + j]; }
  // Symmetric interchange of rows and columns p < q.
  void swap(int p, int q) const {
    if (p == q) return;
    for (int i = 0; i < k; ++i) std::swap((*this)(p, i), (*this)(q, i));
    for (int i = 0; i < k; ++i) std::swap((*this)(i, p), (*this)(i, q));
  }
};

// The eigenvalue-sign count of the block diagonal, a value within the
// tolerance of zero counting as zero.
struct SignCount {
  double tolerance;
  int positive = 0, negative = 0, zero = 0;
  void add(double e) {
    if (std::fabs(e) <= tolerance)
      ++zero;
    else if (e > 0)
      ++positive;
    else
      ++negative;
  }
  bool positive_definite() const { return positive >= 1 && negative == 0 && zero == 0; }
};

// A -> D^-1/2 A D^-1/2 (D the diagonal), so that the tolerance bounds pivots
// relative to the variances and the verdict does not depend on the units of
// the variables.  False when a diagonal element is not positive and finite
// (a positive definite matrix has a positive diagonal).
bool to_correlation(const Symmetric& A) {
  for (int i = 0; i < A.k; ++i)
    if (!(A(i, i) > 0.0) || !std::isfinite(A(i, i))) return false;
  for (int i = 0; i < A.k; ++i) {
    const double si = std::sqrt(A(i, i));
    for (int j = 0; j < A.k; ++j) {
      A(i, j) /= si;
      A(j, i) /= si;
    }
  }
  return true;
}

// The pivot of column j (colmax > 0 at row r): 1 x 1 when
// |A(j,j)| >= alpha colmax or |A(j,j)| colmax >= alpha colmax^2 / rowmax (no
// interchange), or |A(r,r)| >= alpha rowmax (interchange j and r); otherwise
// 2 x 2 on rows j, j+1 with r moved to j+1.  Returns the pivot's size.
int bunch_kaufman_pivot(const Symmetric& A, int j, int r, double absakk, double colmax) {
  if (absakk >= kBunchKaufmanAlpha * colmax) return 1;
  double rowmax = 0.0;
  for (int i = j; i < A.k; ++i)
    if (i != r) rowmax = std::fmax(rowmax, std::fabs(A(r, i)));
  if (absakk >= kBunchKaufmanAlpha * colmax * (colmax / rowmax)) return 1;
  if (std::fabs(A(r, r)) >= kBunchKaufmanAlpha * rowmax) {
    A.swap(j, r);
    return 1;
  }
  A.swap(j + 1, r);
  return 2;
}

// A22 -= a a' / d for the 1 x 1 pivot d = A(j,j), lower triangle, then
// mirrored.
void eliminate_1x1(const Symmetric& A, int j) {
  const double d = A(j, j);
  for (int i = j + 1; i < A.k; ++i) {
    const double f = A(i, j) / d;
    for (int c = j + 1; c <= i; ++c) A(i, c) -= f * A(c, j);
  }
  for (int i = j + 1; i < A.k; ++i)
    for (int c = j + 1; c < i; ++c) A(c, i) = A(i, c);
}

// The 2 x 2 pivot [a c; c b] on rows j, j+1: its two sign values, then the
// Schur complement A22 -= [x y] D^-1 [x y]'.
void eliminate_2x2(const Symmetric& A, int j, SignCount* count) {
  const double a = A(j, j), b = A(j + 1, j + 1), c = A(j + 1, j);
  const double ac = std::fabs(c);
  count->add(ac > kTinyNormal ? (a * b - c * c) / ac : 0.0);
  count->add(ac);
  const double det = a * b - c * c;
  for (int i = j + 2; i < A.k; ++i) {
    const double xi = A(i, j), yi = A(i, j + 1);
    const double wi0 = (b * xi - c * yi) / det, wi1 = (a * yi - c * xi) / det;
    for (int q = j + 2; q <= i; ++q) A(i, q) -= wi0 * A(q, j) + wi1 * A(q, j + 1);
  }
  for (int i = j + 2; i < A.k; ++i)
    for (int q = j + 2; q < i; ++q) A(q, i) = A(i, q);
}

}  // namespace

// Bunch-Kaufman factorisation of the lower triangle of the full symmetric
// matrix A (k x k, row-major), following the unblocked lower-triangle
// algorithm on the correlation matrix: for column j, the diagonal
// |A(j,j)| is compared with the largest off-diagonal |A(r,j)| (colmax, at
// row r) and rowmax of row r (bunch_kaufman_pivot).  Each pivot row
// contributes one value to the sign count.
int pd_check_work(double* packed, int k, double tolerance, double* work) {
  unpack_symmetric(packed, k, work);
  const Symmetric A{work, k};
  if (!to_correlation(A)) return kStatusMessage;
  SignCount count{tolerance};
  int j = 0;
  while (j < k) {
    const double absakk = std::fabs(A(j, j));
    int r = j;
    double colmax = 0.0;
    for (int i = j + 1; i < k; ++i)
      if (std::fabs(A(i, j)) > colmax) {
        colmax = std::fabs(A(i, j));
        r = i;
      }
    if (std::fmax(absakk, colmax) == 0.0) {
      count.add(0.0);  // a zero column: a zero eigenvalue
      ++j;
      continue;
    }
    if (bunch_kaufman_pivot(A, j, r, absakk, colmax) == 1) {
      count.add(A(j, j));
      eliminate_1x1(A, j);
      ++j;
    } else {
      eliminate_2x2(A, j, &count);
      j += 2;
    }
  }
  pack_symmetric(work, k, packed);
  return count.positive_definite() ? kStatusOk : kStatusMessage;
}

int pd_check(double* packed, int k, double tolerance) {
  WorkBlock<double> work(std::uint64_t(k) * std::uint64_t(k));
  if (!work) return work.status();
  return pd_check_work(packed, k, tolerance, work.data());
}

}  // namespace mvtsa
