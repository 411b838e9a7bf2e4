// Eigenvalues of a general real matrix: the eigenvalue-only QR driver.
//
// The caller's row-major array is read as a column-major matrix with leading
// dimension lda, that is as the transpose of the caller's matrix, which has
// the same eigenvalues.  All indices below are 0-based and column-major:
// H(i, j) = a[i + j * lda].
//
// The stages, each a published method:
//  - scaling of the whole matrix into [kEigSmallNorm, kEigBigNorm] by safe
//    steps;
//  - balancing (B. N. Parlett and C. Reinsch, "Balancing a matrix for
//    calculation of eigenvalues and eigenvectors", Numer. Math. 13 (1969)
//    293-304): permutations isolating eigenvalues, then diagonal similarity
//    scaling by powers of the radix 10;
//  - Householder reduction of the active block to upper Hessenberg form
//    (unblocked, one reflector per column);
//  - Francis's implicit double-shift QR iteration (J. G. F. Francis, "The QR
//    transformation", Computer J. 4 (1961-62) 265-271, 332-345) on the
//    Hessenberg block, with multishift sweeps of 6 shifts (Bai and Demmel
//    1989) while the active block is larger than 50; only the active window
//    is transformed (no Schur form);
//  - undoing the scaling, and the final ordering with the conjugate-pair
//    fix-up.
// Measured (tests/roots/eigen_lapack_test.cpp, 1020 matrices of order 1 to
// 80): every eigenvalue within 0.05 of the first-order bound
// 100 n u ||B||_1 / s_i (B the balanced matrix, s_i the eigenvalue's
// reciprocal condition number) of a reference backward-stable solver.
#include <cmath>
#include <cstdint>
#include <utility>

#include "module/blas/blas.hpp"
#include "module/frame/cancel.hpp"
#include "module/frame/status.hpp"
#include "module/linalg/general_eigenvalues.hpp"
#include "module/linalg/hessenberg_qr.hpp"

namespace mvtsa {
namespace {

constexpr double kRadix = 10.0;
constexpr double kRadixSquared = 100.0;
constexpr double kBalanceFactor = 0.95;
// Largest order of the shift matrix of the multishift step (its leading
// dimension in the fixed work area).
constexpr int kShiftMatrixMax = 15;
// Multishift sweeps on one block after which the block counts as stalled (ten
// beyond the last exceptional shift) and the normwise deflation test joins
// the classic one (diagonal_split).
constexpr int kStallMultishift = 40;

// Column-major view: H(i, j) = p[i + j * ld].
struct Mat {
  double* p;
  std::int64_t ld;
  double& operator()(std::int64_t i, std::int64_t j) const { return p[i + j * ld]; }
};

// Multiplies the m x n block by cto / cfrom in steps that neither overflow
// nor underflow: each step multiplies by kEigSafeMin, kEigOverflow or the
// remaining ratio (the safe-step general-matrix scaling routine).
// cfrom must be nonzero and finite.
void safe_scale(double cfrom, double cto, std::int64_t m, std::int64_t n, double* a,
                std::int64_t ld) {
  const double small = kEigSafeMin, big = kEigOverflow;
  double cfromc = cfrom, ctoc = cto;
  bool done = false;
  while (!done) {
    const double cfrom1 = cfromc * small;
    double mul;
    if (cfrom1 == cfromc) {  // cfromc is infinite
      mul = ctoc / cfromc;
      done = true;
    } else {
      const double cto1 = ctoc / big;
      if (cto1 == ctoc) {  // ctoc is 0 or infinite
        mul = ctoc;
        done = true;
        cfromc = 1.0;
      } else if (std::fabs(cfrom1) > std::fabs(ctoc) && ctoc != 0.0) {
        mul = small;
        cfromc = cfrom1;
      } else if (std::fabs(cto1) > std::fabs(cfromc)) {
        mul = big;
        ctoc = cto1;
      } else {
        mul = ctoc / cfromc;
        done = true;
      }
    }
    for (std::int64_t j = 0; j < n; ++j)
      for (std::int64_t i = 0; i < m; ++i) a[i + j * ld] *= mul;
  }
}

// sqrt(x^2 + y^2) without destructive overflow or underflow.
double pythag(double x, double y) {
  const double xa = std::fabs(x), ya = std::fabs(y);
  const double w = xa > ya ? xa : ya, z = xa > ya ? ya : xa;
  if (z == 0.0) return w;
  const double q = z / w;
  return w * std::sqrt(1.0 + q * q);
}

// Index of the first element of largest |x_i| of a unit-stride vector
// (IDAMAX).  Short vectors are scanned inline, longer ones go to the BLAS.
int index_of_max(int n, const double* x) {
  if (n > 16) return blas_idamax(n, x, 1);
  int im = 0;
  double m = std::fabs(x[0]);
  for (int i = 1; i < n; ++i)
    if (std::fabs(x[i]) > m) {
      m = std::fabs(x[i]);
      im = i;
    }
  return im;
}

// The arithmetic of the eigenvalue-only driver: u (kEigPrecision) as the
// unit of the relative tests, kEigSafeMin as the floor, pythag, norms that
// leave out negligible terms, the updates by (t1 v_r) formed once, and the
// entry left of a bulge started inside the block negated.
constexpr QrArithmetic kEigenvalueArithmetic{kEigSafeMin, kEigPrecision, pythag, true, true,
                                             false};

// The engine on a column-major view.
StridedMatrix strided(Mat A) { return {A.p, 1, A.ld}; }

// ---- Balancing ---------------------------------------------------------------

void swap_rows_cols(Mat A, int n, int j, int m, int k, int l) {
  // Columns j and m over rows 0..l, rows j and m over columns k..n-1.
  for (int i = 0; i <= l; ++i) std::swap(A(i, j), A(i, m));
  for (int i = k; i < n; ++i) std::swap(A(j, i), A(m, i));
}

// Parlett-Reinsch balancing: permutation, then radix-10 scaling of each row
// and column pair of the active block by the power of 10 that brings the
// column's off-diagonal norm within about a factor of 10 of the row's; a
// scaling is kept only when it lowers their sum below kBalanceFactor (0.95)
// of what it was, and the sweeps stop when none is kept.  On return the
// active block is ilo..ihi (ilo may exceed ihi when every eigenvalue is
// isolated); scale[i] records the swap index (outside) or the scale factor
// (inside).
void balance(int n, Mat A, double* scale, int* ilo_out, int* ihi_out) {
  int k = 0, l = n - 1;
  // Rows whose off-diagonal entries within columns 0..l are zero go to the
  // bottom of the active block.
  for (bool found = true; found;) {
    found = false;
    for (int j = l; j >= 0; --j) {
      bool isolated = true;
      for (int i = 0; i <= l; ++i)
        if (i != j && A(j, i) != 0.0) {
          isolated = false;
          break;
        }
      if (!isolated) continue;
      scale[l] = j;
      if (j != l) swap_rows_cols(A, n, j, l, k, l);
      if (l == 0) {
        *ilo_out = 0;
        *ihi_out = 0;
        return;
      }
      --l;
      found = true;
      break;
    }
  }
  // Columns whose off-diagonal entries within rows k..l are zero go to the
  // top of the active block.
  for (bool found = true; found;) {
    found = false;
    for (int j = k; j <= l; ++j) {
      bool isolated = true;
      for (int i = k; i <= l; ++i)
        if (i != j && A(i, j) != 0.0) {
          isolated = false;
          break;
        }
      if (!isolated) continue;
      scale[k] = j;
      if (j != k) swap_rows_cols(A, n, j, k, k, l);
      ++k;
      found = true;
      break;
    }
  }
  for (int i = k; i <= l; ++i) scale[i] = 1.0;
  // Diagonal scaling by powers of 10 until a sweep changes nothing: row i
  // and column i are scaled when that lowers c + r by at least 5%.
  for (bool changed = true; changed;) {
    changed = false;
    for (int i = k; i <= l; ++i) {
      double c = 0.0, r = 0.0;
      for (int j = k; j <= l; ++j) {
        if (j == i) continue;
        c += std::fabs(A(j, i));
        r += std::fabs(A(i, j));
      }
      if (c == 0.0 || r == 0.0) continue;
      double g = r / kRadix, f = 1.0;
      const double total = c + r;
      while (c < g) {
        f *= kRadix;
        c *= kRadixSquared;
      }
      g = r * kRadix;
      while (c >= g) {
        f /= kRadix;
        c /= kRadixSquared;
      }
      if ((c + r) / f >= kBalanceFactor * total) continue;
      const double ginv = 1.0 / f;
      scale[i] *= f;
      changed = true;
      for (int j = k; j < n; ++j) A(i, j) *= ginv;
      for (int j = 0; j <= l; ++j) A(j, i) *= f;
    }
  }
  *ilo_out = k;
  *ihi_out = l;
}

// ---- Hessenberg reduction ----------------------------------------------------

// Reduces the active block ilo..ihi to upper Hessenberg form by Householder
// reflectors H_i = I - tau v v', one per column (unblocked).  Only the active
// block is transformed: the eigenvalues need nothing else.  tau[n] and
// w[n] are work.
bool hessenberg(Mat A, int ilo, int ihi, double* tau, double* w) {
  for (int i = ilo; i < ihi - 1; ++i) {
    if (cancel_requested()) return false;  // a column costs O(n^2) operations
    const int len = ihi - i;  // rows i+1..ihi
    double* v = &A(i + 1, i);
    tau[i] = householder(len, v, kEigenvalueArithmetic);
    const double t = tau[i];
    if (t == 0.0) continue;
    const double beta = v[0];
    v[0] = 1.0;
    // From the right on rows ilo..ihi, columns i+1..ihi:
    //   w = A v  (rows),  A -= tau w v'
    const int rows = ihi - ilo + 1;
    for (int r = 0; r < rows; ++r) w[r] = 0.0;
    for (int c = 0; c < len; ++c) {
      const double vc = v[c];
      const double* col = &A(ilo, i + 1 + c);
      for (int r = 0; r < rows; ++r) w[r] += col[r] * vc;
    }
    for (int c = 0; c < len; ++c) {
      const double tv = t * v[c];
      double* col = &A(ilo, i + 1 + c);
      for (int r = 0; r < rows; ++r) col[r] -= w[r] * tv;
    }
    // From the left on rows i+1..ihi, columns i+1..ihi:
    //   s_j = v' A(:, j),  A(:, j) -= tau s_j v
    for (int j = i + 1; j <= ihi; ++j) {
      double* col = &A(i + 1, j);
      double s = 0.0;
      for (int r = 0; r < len; ++r) s += v[r] * col[r];
      s *= t;
      for (int r = 0; r < len; ++r) col[r] -= s * v[r];
    }
    v[0] = beta;
  }
  return true;
}

// ---- QR iteration ------------------------------------------------------------

// Double-shift (Francis) QR on the Hessenberg block ilo..ihi, eigenvalues
// only: wr/wi[ilo..ihi] receive them.  Budget: 30 iterations per row of the
// block in total; exceptional shifts at the 10th and 20th iteration on the
// same eigenvalue.  Returns 0, the 1-based row at which it stopped, or
// kQrCancelled.
int double_shift_qr(Mat H, int ilo, int ihi, double* wr, double* wi) {
  if (ihi < ilo) return 0;
  const QrRules rules{false, Deflation::kDiagonalWithStall, ShiftRule::kTrailingProducts,
                      SweepBudget::kShared, 30 * std::int64_t(ihi - ilo + 1),
                      kEigenvalueArithmetic};
  return hessenberg_qr(strided(H), StridedMatrix{}, ihi + 1, ilo, ihi, wr, wi, rules);
}

// Multishift shifts for the block ending at row i, into wr/wi[i-ns+1..i]:
// the eigenvalues of the trailing ns x ns block (where the double-shift
// routine fails, the unconverged diagonal entries), or after 20 and 30
// sweeps the exceptional 1.5 (|h_{j,j-1}| + |h_jj|).  S: the 15 x 15 area.
void multishift_shifts(Mat H, int i, int its, Mat S, double* wr, double* wi) {
  const int ns = kEigShifts;
  if (its == 20 || its == 30) {
    for (int j = i - ns + 1; j <= i; ++j) {
      wr[j] = 1.5 * (std::fabs(H(j, j - 1)) + std::fabs(H(j, j)));
      wi[j] = 0.0;
    }
    return;
  }
  for (int c = 0; c < ns; ++c)
    for (int r = 0; r < ns; ++r) S(r, c) = H(i - ns + 1 + r, i - ns + 1 + c);
  const int ierr = double_shift_qr(S, 0, ns - 1, wr + (i - ns + 1), wi + (i - ns + 1));
  for (int r = 0; r < ierr; ++r) {
    wr[i - ns + 1 + r] = S(r, r);
    wi[i - ns + 1 + r] = 0.0;
  }
}

// First column of (G - w_1)(G - w_2)...(G - w_ns), G = H(l..i, l..i), into
// v (ns + 1 entries), built one real shift or conjugate pair at a time and
// kept scaled; vv: ns + 1 entries of work.
void multishift_first_column(Mat H, int l, int i, const double* wr, const double* wi,
                             double smlnum, double* v, double* vv) {
  const int ns = kEigShifts;
  v[0] = 1.0;
  for (int r = 1; r <= ns; ++r) v[r] = 0.0;
  int nv = 1;
  for (int j = i - ns + 1; j <= i; ++j) {
    if (wi[j] < 0.0) continue;  // second member of a pair
    if (wi[j] == 0.0) {
      // v := G(0..nv, 0..nv-1) v - w_j v      (nv+1 entries)
      for (int r = 0; r <= nv; ++r) vv[r] = v[r];
      for (int r = 0; r <= nv; ++r) v[r] *= -wr[j];
      for (int c = 0; c < nv; ++c)
        for (int r = 0; r <= nv; ++r) v[r] += H(l + r, l + c) * vv[c];
      nv += 1;
    } else {
      // vv := G v - 2 Re(w) v;  v := G vv + |w|^2 v   (nv+2 entries)
      for (int r = 0; r <= nv; ++r) vv[r] = v[r] * (-2.0 * wr[j]);
      for (int c = 0; c < nv; ++c)
        for (int r = 0; r <= nv; ++r) vv[r] += H(l + r, l + c) * v[c];
      const int im = index_of_max(nv + 1, vv);
      double temp = 1.0 / (std::fabs(vv[im]) > smlnum ? std::fabs(vv[im]) : smlnum);
      for (int r = 0; r <= nv; ++r) vv[r] *= temp;
      const double absw = pythag(wr[j], wi[j]);
      temp = (temp * absw) * absw;
      for (int r = 0; r <= nv + 1; ++r) v[r] *= temp;
      for (int c = 0; c <= nv; ++c)
        for (int r = 0; r <= nv + 1; ++r) v[r] += H(l + r, l + c) * vv[c];
      nv += 2;
    }
    // Scale so that max |v_r| = 1; a zero v restarts as e_1.
    const int im = index_of_max(nv, v);
    const double temp = std::fabs(v[im]);
    if (temp == 0.0) {
      v[0] = 1.0;
      for (int r = 1; r < nv; ++r) v[r] = 0.0;
    } else {
      const double d = 1.0 / (temp > smlnum ? temp : smlnum);
      for (int r = 0; r < nv; ++r) v[r] *= d;
    }
  }
}

// The multishift step: reflectors of order ns + 1, started from the first
// column in v, chase the bulge down the window l..i.
void multishift_sweep(Mat H, int l, int i, double* v) {
  const int ns = kEigShifts;
  const int i1 = l, i2 = i;
  for (int k = l; k <= i - 1; ++k) {
    const int nr = ns + 1 < i - k + 1 ? ns + 1 : i - k + 1;
    if (k > l)
      for (int r = 0; r < nr; ++r) v[r] = H(k + r, k - 1);
    const double tau = householder(nr, v, kEigenvalueArithmetic);
    if (k > l) {
      H(k, k - 1) = v[0];
      for (int r = 1; r < nr; ++r) H(k + r, k - 1) = 0.0;
    }
    v[0] = 1.0;
    if (tau == 0.0) continue;
    // From the left on rows k..k+nr-1, columns k..i2.
    for (int j = k; j <= i2; ++j) {
      double* col = &H(k, j);
      double s = 0.0;
      for (int r = 0; r < nr; ++r) s += v[r] * col[r];
      s *= tau;
      for (int r = 0; r < nr; ++r) col[r] -= s * v[r];
    }
    // From the right on rows i1..min(k+nr, i), columns k..k+nr-1.
    const int last = k + nr < i ? k + nr : i;
    const int rows = last - i1 + 1;
    for (int r = 0; r < rows; ++r) {
      double s = 0.0;
      for (int c = 0; c < nr; ++c) s += H(i1 + r, k + c) * v[c];
      s *= tau;
      for (int c = 0; c < nr; ++c) H(i1 + r, k + c) -= s * v[c];
    }
  }
}

// Multishift QR (6 shifts; Z. Bai and J. Demmel, "On a block implementation
// of Hessenberg multishift QR iteration", Int. J. High Speed Computing 1
// (1989) 97-112) on the Hessenberg block ilo..ihi of order above
// 50: sweeps with the eigenvalues of the trailing 6 x 6 block as shifts until
// a trailing block of order <= 50 splits off, which the double-shift
// iteration finishes.  Budget 30 iterations per row; exceptional shifts
// 1.5 (|h_{j,j-1}| + |h_jj|) at the 20th and 30th iteration on the same
// block.  area: kEigFixedArea doubles.  Returns 0 or the 1-based row at which
// it stopped.
int multishift_qr(Mat H, int ilo, int ihi, double* wr, double* wi, double* area) {
  const int nh = ihi - ilo + 1;
  const double smlnum = kEigSafeMin * (double(nh) / kEigPrecision);
  Mat S{area, kShiftMatrixMax};                          // 15 x 15
  double* v = area + kShiftMatrixMax * kShiftMatrixMax;  // 16
  double* vv = v + 16;                                   // 16
  int itn = 30 * nh;
  int i = ihi;
  while (i >= ilo) {
    int l = ilo;
    bool split = false;
    int its = 0;
    for (; its <= itn; ++its) {
      l = int(diagonal_split(strided(H), l, i, smlnum, kEigPrecision, its >= kStallMultishift));
      if (l > ilo) H(l, l - 1) = 0.0;
      if (l >= i - kEigCrossover + 1) {
        split = true;
        break;
      }
      if (cancel_requested()) return kQrCancelled;  // a sweep costs O(n (i - l)) operations
      multishift_shifts(H, i, its, S, wr, wi);
      multishift_first_column(H, l, i, wr, wi, smlnum, v, vv);
      multishift_sweep(H, l, i, v);
    }
    if (!split) return i + 1;
    // A trailing block l..i of order <= 50 has split off.
    if (int st = double_shift_qr(H, l, i, wr, wi)) return st;
    itn -= its;
    i = l - 1;
  }
  return 0;
}

// Eigenvalues of the balanced Hessenberg matrix (eigenvalues only).
int hessenberg_eigenvalues(int n, Mat H, int ilo, int ihi, double* wr, double* wi,
                           double* area) {
  for (int i = 0; i < ilo && i < n; ++i) {
    wr[i] = H(i, i);
    wi[i] = 0.0;
  }
  for (int i = ihi + 1; i < n; ++i) {
    wr[i] = H(i, i);
    wi[i] = 0.0;
  }
  if (ilo > ihi) return 0;
  if (ilo == ihi) {
    wr[ilo] = H(ilo, ilo);
    wi[ilo] = 0.0;
    return 0;
  }
  // Clear the reflector vectors left below the subdiagonal.
  for (int j = ilo; j <= ihi - 2; ++j)
    for (int i = j + 2; i <= ihi; ++i) H(i, j) = 0.0;
  const int nh = ihi - ilo + 1;
  if (nh <= kEigCrossover || nh < kEigShifts) return double_shift_qr(H, ilo, ihi, wr, wi);
  return multishift_qr(H, ilo, ihi, wr, wi, area);
}

// ---- Ordering ----------------------------------------------------------------

// The eigenvalue triples (wr, wi, tag) in place.
struct Order {
  double* wr;
  double* wi;
  std::int32_t* tag;

  void swap(int x, int y) const {
    std::swap(wr[x], wr[y]);
    std::swap(wi[x], wi[y]);
    std::swap(tag[x], tag[y]);
  }
};

// First pass: real parts descending (exact comparison).
struct ByRealPart {
  const Order& o;
  bool operator()(int x, int y) const { return o.wr[x] > o.wr[y]; }
};

// Second pass, inside a run of real parts that chain within tau (equal real
// parts): the larger |imaginary part| first, then the larger real part, then
// the positive imaginary part.
struct WithinTie {
  const Order& o;
  bool operator()(int x, int y) const {
    const double ax = std::fabs(o.wi[x]), ay = std::fabs(o.wi[y]);
    if (ax != ay) return ax > ay;
    if (o.wr[x] != o.wr[y]) return o.wr[x] > o.wr[y];
    return o.wi[x] > o.wi[y];
  }
};

template <class Before>
void insertion_sort(const Order& o, Before before, int lo, int hi) {
  for (int i = lo + 1; i <= hi; ++i)
    for (int j = i; j > lo && before(j, j - 1); --j) o.swap(j, j - 1);
}

// Pivot: the median of the first, middle and last entries, moved to lo.
// Returns the pivot's final place; every index stays inside lo..hi.
template <class Before>
int partition(const Order& o, Before before, int lo, int hi) {
  const int mid = lo + (hi - lo) / 2;
  if (before(mid, lo)) o.swap(mid, lo);
  if (before(hi, lo)) o.swap(hi, lo);
  if (before(hi, mid)) o.swap(hi, mid);
  o.swap(lo, mid);
  int i = lo, j = hi + 1;
  for (;;) {
    do {
      ++i;
    } while (i < hi && before(i, lo));
    do {
      --j;
    } while (j > lo && before(lo, j));
    if (i >= j) break;
    o.swap(i, j);
  }
  o.swap(lo, j);
  return j;
}

// Quicksort of lo..hi on an explicit stack of `capacity` entries (a range
// takes two; the larger part is pushed, the smaller handled next); ranges of
// at most 8 entries by straight insertion.
template <class Before>
int quicksort(const Order& o, Before before, int lo, int hi, std::int32_t* stack, int capacity) {
  int top = 0;
  for (;;) {
    if (hi - lo + 1 <= 8) {
      if (hi > lo) insertion_sort(o, before, lo, hi);
      if (top == 0) return 0;
      hi = stack[--top];
      lo = stack[--top];
      continue;
    }
    const int p = partition(o, before, lo, hi);
    int small_lo, small_hi, big_lo, big_hi;
    if (p - lo > hi - p) {
      big_lo = lo, big_hi = p - 1, small_lo = p + 1, small_hi = hi;
    } else {
      big_lo = p + 1, big_hi = hi, small_lo = lo, small_hi = p - 1;
    }
    if (big_hi > big_lo) {
      if (top + 2 > capacity) return kEigStackOverflow;
      stack[top++] = big_lo;
      stack[top++] = big_hi;
    }
    lo = small_lo;
    hi = small_hi;
  }
}

// Real parts descending; real parts closer than tau count as equal and then
// the larger |imaginary part| comes first.  "Closer than tau" is not
// transitive, so it is applied to runs: after the exact sort by real part,
// each maximal run whose neighbouring real parts differ by less than tau is
// one tie, ordered by WithinTie.  Both passes use consistent comparisons, so
// the quicksort never sees contradictory answers.
int sort_eigenvalues(int n, const Order& o, std::int32_t* stack) {
  if (int st = quicksort(o, ByRealPart{o}, 0, n - 1, stack, n)) return st;
  for (int i = 0; i < n;) {
    int end = i + 1;
    while (end < n && o.wr[end - 1] - o.wr[end] < kEigSortTol) ++end;
    if (end - i > 1)
      if (int st = quicksort(o, WithinTie{o}, i, end - 1, stack, n)) return st;
    i = end;
  }
  return 0;
}

// Conjugate fix-up: in every run of consecutive complex entries whose real
// parts and |imaginary parts| agree within tau, take positions two at a time;
// the first gets an entry with positive imaginary part, the second its
// partner as delivered by the QR step (tag one less).
int fix_pairs(int n, const Order& o) {
  int i = 0;
  while (i < n) {
    if (o.wi[i] == 0.0) {
      ++i;
      continue;
    }
    int end = i + 1;
    while (end < n && o.wi[end] != 0.0 &&
           std::fabs(o.wr[end] - o.wr[end - 1]) < kEigSortTol &&
           std::fabs(std::fabs(o.wi[end]) - std::fabs(o.wi[end - 1])) < kEigSortTol)
      ++end;
    if ((end - i) % 2 != 0) return kEigPairFixup;
    for (int p = i; p < end; p += 2) {
      if (o.wi[p] < 0.0) {
        int q = p + 1;
        while (q < end && !(o.wi[q] > 0.0)) ++q;
        if (q == end) return kEigPairFixup;
        o.swap(p, q);
      }
      int q = p + 1;
      while (q < end && o.tag[q] != o.tag[p] - 1) ++q;
      if (q == end) return kEigPairFixup;
      o.swap(p + 1, q);
    }
    i = end;
  }
  return 0;
}

}  // namespace

int general_eigenvalues(int n, double* a, int lda, double* wr, double* wi, double* work) {
  if (n < 0) return kEigBadOrder;
  if (lda < n) return kEigBadLeading;
  if (n == 0) return 0;
  if (!a) return kEigBadMatrix;
  if (!wr || !wi) return kEigBadResult;
  if (!work) return kEigBadWork;
  Mat A{a, lda};

  // Largest |a_ij|.  A NaN or an infinity makes every later step meaningless
  // (and the balancing loops endless): refuse the matrix.
  double anrm = 0.0;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const double x = A(i, j);
      if (is_missing(x)) return kEigBadMatrix;
      if (std::fabs(x) > anrm) anrm = std::fabs(x);
    }
  // Scale into [smlnum, bignum] so that the iteration neither underflows nor
  // overflows.
  double cscale = 1.0;
  bool scaled = false;
  if (anrm > 0.0 && anrm < kEigSmallNorm) {
    scaled = true;
    cscale = kEigSmallNorm;
  } else if (anrm > kEigBigNorm) {
    scaled = true;
    cscale = kEigBigNorm;
  }
  if (scaled) safe_scale(anrm, cscale, n, n, a, lda);

  double* scale = work;           // n: balancing record
  double* tau = work + n;         // n: Householder scalars
  double* hwork = work + 2 * n;   // n: reflector work, later tags and stack
  double* area = work + 3 * n;    // kEigFixedArea: multishift step
  int ilo = 0, ihi = 0;
  balance(n, A, scale, &ilo, &ihi);
  if (!hessenberg(A, ilo, ihi, tau, hwork)) return kEigCancelled;
  const int info = hessenberg_eigenvalues(n, A, ilo, ihi, wr, wi, area);
  if (info == kQrCancelled) return kEigCancelled;

  if (info > 0) {
    // Undo the scaling on the eigenvalues found: rows info+1..n and those
    // isolated above the block.
    if (scaled) {
      safe_scale(cscale, anrm, n - info, 1, wr + info, n);
      safe_scale(cscale, anrm, n - info, 1, wi + info, n);
      if (ilo > 0) {
        safe_scale(cscale, anrm, ilo, 1, wr, n);
        safe_scale(cscale, anrm, ilo, 1, wi, n);
      }
    }
    return info;
  }
  if (scaled) {
    safe_scale(cscale, anrm, n, 1, wr, n);
    safe_scale(cscale, anrm, n, 1, wi, n);
  }

  return order_eigenvalues(n, wr, wi, hwork);
}

int order_eigenvalues(int n, double* wr, double* wi, double* work) {
  if (n <= 0) return 0;
  // Tags record each eigenvalue's position as delivered (positive for real,
  // negative for complex), then quicksort and the conjugate fix-up.  Two
  // int32 arrays of n entries over the n doubles of work.
  auto* tag = reinterpret_cast<std::int32_t*>(work);
  std::int32_t* stack = tag + n;
  for (int i = 0; i < n; ++i) tag[i] = wi[i] == 0.0 ? i + 1 : -(i + 1);
  const Order order{wr, wi, tag};
  if (int st = sort_eigenvalues(n, order, stack)) return st;
  return fix_pairs(n, order);
}

}  // namespace mvtsa
