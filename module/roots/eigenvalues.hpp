// Eigenvalues of real matrices: the kernels under every characteristic-root
// computation of the module.  Pure routines: the caller supplies every array,
// nothing is allocated, no host service is called.
#pragma once

#include <cstdint>

namespace mvtsa {

// Machine constants of the eigenvalue routines (fixed values, used wherever
// the published algorithms ask for the safe minimum, the precision or the
// overflow threshold).
inline constexpr double kEigSafeMin = 2.2250738585072018e-304;    // s: deflation floor, scaling
inline constexpr double kEigPrecision = 1.110223024625157e-16;    // u: unit roundoff
inline constexpr double kEigOverflow = 1.7976931348623158e+307;   // bound of the safe scaling
inline constexpr double kEigSmallNorm = 1.3435752215134174e-136;  // sqrt(s) / u
inline constexpr double kEigBigNorm = 7.442828536787017e135;      // 1 / kEigSmallNorm
inline constexpr double kEigSortTol = 1.110223024625157e-15;      // tau: equal real parts
// Multishift QR: number of simultaneous shifts and the order at and below
// which the double-shift routine takes the whole block.
inline constexpr int kEigShifts = 6;
inline constexpr int kEigCrossover = 50;
// Fixed work area of the multishift step: a 15 x 15 shift matrix and two
// vectors of 16 entries.
inline constexpr int kEigFixedArea = 260;

// Status codes of general_eigenvalues besides 0 and the positive row index of
// a QR iteration that did not converge.
inline constexpr int kEigStackOverflow = 1000;  // the sort's partition stack ran out
inline constexpr int kEigPairFixup = -1;        // conjugate pairs could not be matched
inline constexpr int kEigBadOrder = -3;         // n < 0
inline constexpr int kEigBadMatrix = -4;        // null matrix, or an entry that is NaN or infinite
inline constexpr int kEigBadLeading = -5;       // lda < n
inline constexpr int kEigBadResult = -6;        // null wr or wi
inline constexpr int kEigBadWork = -12;         // null work area

// Doubles of work area general_eigenvalues needs for order n: 3n + 260.
inline std::int64_t general_eigenvalues_work(std::int64_t n) { return 3 * n + kEigFixedArea; }

// All eigenvalues of the real n x n matrix held row-major in a (leading
// dimension lda >= n), which is destroyed.  The method is the classic
// eigenvalue-only QR driver: scaling of the matrix into
// [kEigSmallNorm, kEigBigNorm], balancing (permutation and radix-10 diagonal
// scaling), unblocked Householder reduction to Hessenberg form, and the
// Francis QR iteration (multishift with 6 shifts above order 50, double-shift
// below; 30 iterations per row of the block in total).
//
// On status 0, wr/wi hold the eigenvalues with real parts descending (two
// real parts closer than kEigSortTol count as equal, and then the larger
// |imaginary part| comes first; as closeness is not transitive, a tie is a
// run of real parts whose neighbours differ by less than kEigSortTol); a
// complex conjugate pair is adjacent with the positive imaginary part first;
// wi is exactly 0 for a real eigenvalue.  The tolerance is absolute: below
// about 1e-15 in magnitude every real part ties with every other.
//
// Status: 0 success; k > 0 the QR iteration stopped without convergence at
// row k (1-based): eigenvalues k+1..n and those isolated by balancing are in
// wr/wi, unsorted, the rest undefined; kEigStackOverflow; kEigPairFixup; a
// negative kEigBad* code for an invalid argument (nothing is written).
// work: general_eigenvalues_work(n) doubles.
int general_eigenvalues(int n, double* a, int lda, double* wr, double* wi, double* work);

// The final ordering of general_eigenvalues applied to n eigenvalues given
// in wr/wi, a complex conjugate pair adjacent with the positive imaginary
// part first (as the QR step delivers them): real parts descending, ties
// within kEigSortTol by |imaginary part| descending, pairs kept adjacent.
// Returns 0, kEigStackOverflow or kEigPairFixup.  work: n doubles.
int order_eigenvalues(int n, double* wr, double* wi, double* work);

// Doubles of work area symmetric_eigenvalues needs for order n: 9n.
inline std::int64_t symmetric_eigenvalues_work(std::int64_t n) { return 9 * n; }

// Status codes of symmetric_eigenvalues besides 0.
inline constexpr int kSymBisection = -1;  // QL failed; bisection found all n (w filled)
inline constexpr int kSymIncomplete = 98; // bisection found fewer than n eigenvalues
inline constexpr int kSymBadArgument = 99;

// Eigenvalues of the real symmetric n x n matrix whose lower triangle is
// packed by rows in ap (element (i, j), j <= i, at i(i+1)/2 + j); ap is
// destroyed.  Householder tridiagonalisation (the TRED3 method on the packed
// triangle), then the QL method with implicit shifts (at most 50 iterations
// per eigenvalue), with Sturm-sequence bisection as the fallback.  On 0 (or
// kSymBisection) w holds the n eigenvalues in descending order.
// work: symmetric_eigenvalues_work(n) doubles.
int symmetric_eigenvalues(int n, double* ap, double* w, double* work);

// The two halves of symmetric_eigenvalues on a tridiagonal matrix (diagonal
// d[0..n-1], off-diagonal e[i] between rows i and i+1, i = 0..n-2), exposed
// so that tests can force the fallback.
//
// QL with implicit shifts: on 0, d holds the eigenvalues descending; on a
// positive return (1-based index of the eigenvalue that needed more than
// max_iterations iterations) d and e are destroyed.  e needs n entries.
int tridiagonal_ql(int n, double* d, double* e, int max_iterations);
// Sturm-sequence bisection over the Gershgorin interval: w receives the
// eigenvalues descending.  Returns the number found (n unless the data hold
// NaN).  e (n - 1 entries) has its negligible entries set to zero.
int tridiagonal_bisection(int n, const double* d, double* e, double* w);

}  // namespace mvtsa
