// Eigenvalues of a real symmetric matrix held as its packed lower triangle.
// Pure routines: the caller supplies every array, nothing is allocated, no
// host service is called.
#pragma once

#include <cstdint>

#include "module/frame/tolerances.hpp"

namespace mvtsa {

// u, the unit roundoff of the double format and the precision of the
// eigenvalue routines.
inline constexpr double kEigPrecision = kRoundoffTol;

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
