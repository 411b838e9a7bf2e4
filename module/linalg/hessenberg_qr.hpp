// The Francis double-shift QR iteration on an upper Hessenberg matrix: the
// one engine under real_schur (Schur form with Schur vectors) and
// general_eigenvalues (eigenvalues only), with the reflector, norm and 2 x 2
// standard form they share.  Pure routines: the caller supplies every array,
// nothing is allocated, and the only host service asked is whether the call
// has been cancelled (once a sweep).
#pragma once

#include <cstdint>

namespace mvtsa {

// sqrt(x^2 + y^2) as the caller computes it.
using Hypot = double (*)(double x, double y);

// A matrix addressed through two strides: M(r, c) = p[r row_stride + c col_stride]
// (row-major storage of order n: {p, n, 1}; column-major with leading
// dimension ld: {p, 1, ld}).  Swapping the strides views the transpose.
struct StridedMatrix {
  double* p = nullptr;
  std::int64_t row_stride = 0;
  std::int64_t col_stride = 0;
  double& operator()(std::int64_t r, std::int64_t c) const {
    return p[r * row_stride + c * col_stride];
  }
  StridedMatrix transposed() const { return {p, col_stride, row_stride}; }
};

// The rounding a caller's results are fixed to.  Each caller keeps the
// arithmetic its published outputs were computed with, so that the engine
// reproduces them to the bit.
struct QrArithmetic {
  double safe_min;       // smallest magnitude treated as nonzero (deflation floor)
  double precision;      // unit of the relative tests
  Hypot hypot;           // lengths of reflectors and rotations
  bool skip_negligible;  // the vector norm leaves out terms x_i / max with 1 + t == 1
  bool premultiplied;    // reflector updates by (t1 v_r) formed once, else by (sum t1) v_r
  bool exact_start;      // entry left of a bulge started inside the block: times (1 - t1), else negated
};

// ||x||_2 of n unit-stride entries, scaled by the largest magnitude m so that
// it neither overflows nor underflows: m sqrt(sum (x_i / m)^2), leaving out
// the terms with 1 + x_i / m == 1 when skip_negligible.  m = 0 gives 0.
double scaled_norm(std::int64_t n, const double* x, bool skip_negligible);

// Elementary reflector (Householder) I - tau w w' with w = (1, v[1..n-1])
// that maps (v[0], v[1..n-1]) to (beta, 0, ..., 0): v[0] becomes beta and
// v[1..] the tail of w.  Returns tau (0 when the tail is already zero).  A
// beta below safe_min / precision is recomputed on a vector scaled up by its
// reciprocal (at most 20 times).
double householder(std::int64_t n, double* v, const QrArithmetic& arithmetic);

// Standard form of the real 2 x 2 block [[a, b], [c, d]] by one plane
// rotation, overwriting the block:
//   [[a, b], [c, d]] = [[cs, -sn], [sn, cs]] [[a', b'], [c', d']] [[cs, sn], [-sn, cs]]
// with c' = 0 for real eigenvalues, and a' = d', b' c' < 0 for a complex
// pair.  With p = (a - d) / 2 and z = p^2 + b c (both scaled by
// max(|p|, |b|, |c|)), z >= real_margin gives the real pair d + z', d - b c / z'
// (z' = p + sign(p) sqrt(z)); below it one rotation equalises the diagonal
// (a second one splits a pair that turns out real).  `hypot` forms the
// lengths of the rotations, so that each caller keeps its own rounding.
void standardize_2x2(double& a, double& b, double& c, double& d, double real_margin,
                     Hypot hypot, double* cs, double* sn);

// Which subdiagonal entries count as negligible.
enum class Deflation {
  // Ahues and Tisseur: the entry against its neighbours and against the
  // products that decide whether dropping it perturbs the eigenvalues more
  // than rounding.
  kNeighbourProducts,
  // The classic test against the two diagonal neighbours, joined by a
  // normwise test once the block has stalled (see hessenberg_qr.cpp).
  kDiagonalWithStall,
};

// Where the two shifts of a sweep come from.
enum class ShiftRule {
  // The eigenvalues of the scaled trailing 2 x 2 block (two real ones both
  // set to the one nearer the last diagonal entry); exceptional shifts from
  // the top of the block after 10, 30, ... sweeps and from its bottom after
  // 20, 40, ...
  kTrailingEigenvalues,
  // The trailing block's trace and determinant through x = h_ii,
  // y = h_{i-1,i-1}, w = h_{i,i-1} h_{i-1,i}; exceptional shifts
  // x = y = 0.75 s, w = -0.4375 s^2 after 10 and 20 sweeps.
  kTrailingProducts,
};

// How sweeps are counted before the iteration is declared failed.
enum class SweepBudget {
  kPerBlock,  // `sweeps` on each active block, counted afresh
  kShared,    // `sweeps` in total, each converged block's spending deducted
};

// hessenberg_qr's result when the call was cancelled.
inline constexpr int kQrCancelled = -1;

struct QrRules {
  // Schur form: every transformation is applied to the whole rows and
  // columns of H and accumulated into Z, and each 2 x 2 block is rotated to
  // standard form.  Otherwise only the active window is transformed.
  bool want_schur;
  Deflation deflation;
  ShiftRule shifts;
  SweepBudget budget;
  std::int64_t sweeps;
  QrArithmetic arithmetic;
};

// The Francis double-shift QR iteration (J. G. F. Francis, "The QR
// transformation", Computer J. 4 (1961-62) 265-271, 332-345; Golub and Van
// Loan, Matrix Computations, sections 7.4 and 7.5) on rows and columns
// ilo..ihi of the upper Hessenberg matrix h of order n (entries below the
// subdiagonal zero).  Each sweep: find the lowest negligible subdiagonal
// entry, split off the block below it when it has order 1 or 2, compute
// the shifts, start the bulge at the lowest row two small subdiagonal
// entries allow, and chase it to the bottom of the active block.
//
// wr/wi[ilo..ihi] (when not null) receive the eigenvalues, a complex pair
// with the positive imaginary part first.  With want_schur, h becomes the
// quasi-triangular Schur form (2 x 2 blocks standardised) and z (order n) is
// multiplied by the transformations.  Returns 0, the 1-based row at which
// the sweep budget ran out, or kQrCancelled when the caller cancelled the
// call (asked before each sweep; h is then partly reduced).
int hessenberg_qr(StridedMatrix h, StridedMatrix z, std::int64_t n, std::int64_t ilo,
                  std::int64_t ihi, double* wr, double* wi, const QrRules& rules);

// Index k of the lowest negligible subdiagonal entry H(k, k-1) in l+1..i by
// the classic test (Deflation::kDiagonalWithStall), or l when none is; also
// the deflation of the multishift sweep.
std::int64_t diagonal_split(StridedMatrix h, std::int64_t l, std::int64_t i, double smlnum,
                            double precision, bool stalled);

}  // namespace mvtsa
