// Eigenvalues of general real matrices: the kernel under every
// characteristic-root computation of the module (the symmetric case is in
// symmetric_eigenvalues.hpp).  Pure routines: the caller supplies every array, nothing is
// allocated, no host service is called.
#pragma once

#include <cstdint>

#include "module/frame/tolerances.hpp"
#include "module/linalg/symmetric_eigenvalues.hpp"  // kEigPrecision

namespace mvtsa {

// Machine constants of the eigenvalue routines (fixed values, used wherever
// the published algorithms ask for the safe minimum, the precision or the
// overflow threshold), exact to the bit:
// s = 10^4 DBL_MIN plus one ulp (2.2250738585072018e-304): deflation floor, scaling.
inline constexpr double kEigSafeMin = 0x1.3880000000001p-1009;
// DBL_MAX / 10, rounded (1.7976931348623158e+307): bound of the safe scaling.
inline constexpr double kEigOverflow = 0x1.9999999999999p+1020;
// sqrt(s) / u, 3 ulps below its rounded value (1.3435752215134174e-136), and
// its reciprocal (7.442828536787017e135).
inline constexpr double kEigSmallNorm = 0x1.8fffffffffffep-452;
inline constexpr double kEigBigNorm = 1.0 / kEigSmallNorm;
// tau: two real parts closer than 10 u count as equal.
inline constexpr double kEigSortTol = kTenRoundoffTol;
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
inline constexpr int kEigCancelled = -2;        // the caller cancelled the call (asked each
                                                // column of the reduction and each sweep)
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

}  // namespace mvtsa
