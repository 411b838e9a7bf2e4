// LU factorisation of a dense square matrix by Gaussian elimination with
// scaled partial pivoting (implicit row equilibration), the linear solve it
// gives and the determinant it yields.  Pure routines: the caller supplies
// every array; nothing is allocated and no host service is called.
#pragma once

#include <cstdint>

#include "module/frame/tolerances.hpp"  // kLuPivotTol

namespace mvtsa {

// Outcomes of lu_solve.
enum LuStatus : int {
  kLuOk = 0,
  kLuZeroRow = 1,          // a row of A is entirely zero, every scaled pivot passed
  kLuSmallPivot = 2,       // a scaled pivot before the last is below kLuPivotTol
  kLuSmallLastPivot = 3,   // the last scaled pivot is below kLuPivotTol
};

// The smallest scaled pivot |a_jj| / max_c |a_jc| the factorisation accepts
// is kLuPivotTol, 2^-44.

// Factorises the row-major n x n matrix `a` in place and, when b is given,
// solves A x = b.
//
// Each row carries the reciprocal of its largest absolute element, taken
// before the elimination; the pivot of column j is the row at or below j
// with the largest scaled element |a_ij| / max_c |a_ic|.  Rows are exchanged
// whole, so `a` ends holding U on and above its diagonal and the multipliers
// of L below it, in the pivoted row order.  Row updates go through the BLAS
// vector update, the back substitution through the BLAS dot product.
//
// Status: kLuSmallPivot / kLuSmallLastPivot at the first scaled pivot below
// kLuPivotTol; otherwise kLuZeroRow when a row of A is zero; otherwise kLuOk.
// b (null, or n doubles) is replaced by x on kLuOk only.  det (null, or one
// double) receives the product of the pivots with the sign of the row
// exchanges: the elimination then goes on past a small pivot (it stops at an
// exactly zero one, det = 0), so det is the product of every pivot met; a
// zero row gives det = 0.
// Without det the call returns as soon as a small pivot is met.
// scale: n doubles of work.
int lu_solve(double* a, std::int64_t n, double* b, double* scale, double* det);

// log det A from the factors lu_solve left in `lu` and the determinant it
// returned: the logarithm of det when that is a positive normal double,
// otherwise (a product of pivots that overflowed or underflowed, as for
// covariances of 1e300 I or 1e-300 I) the sum of the logarithms of the
// pivots' magnitudes, so the value does not depend on the units.  NaN when
// det is negative, -inf when it is zero.
double lu_log_det(const double* lu, std::int64_t n, double det);

}  // namespace mvtsa
