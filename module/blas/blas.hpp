// BLAS level-1 wrappers (standard interface, every argument by address).
//
// Every call masks all floating-point exceptions and clears the flags, makes
// the call, and restores the caller's floating-point environment.  An
// overflow, division-by-zero or invalid-operation flag raised by the call
// (tested in that order) is recorded as a floating-point fault: the wrapper
// returns it, and the entry-point guard turns a recorded fault into a host
// error and status 1.  Traps are never left enabled.
//
// Contiguous DAXPY and DDOT with n <= 2 are computed inline.
#pragma once

#include <cstdint>

namespace mvtsa {

// Fault codes, in the order they are tested.
enum FpFault : int { kFpNone = 0, kFpOverflow = 1, kFpDivByZero = 2, kFpInvalid = 3 };

// y := a*x + y
int blas_daxpy(int n, double a, const double* x, int incx, double* y, int incy);
inline int blas_daxpy(int n, double a, const double* x, double* y) {
  return blas_daxpy(n, a, x, 1, y, 1);
}
// x'y
double blas_ddot(int n, const double* x, int incx, const double* y, int incy);
inline double blas_ddot(int n, const double* x, const double* y) {
  return blas_ddot(n, x, 1, y, 1);
}
// 0-based index of the first element of largest |x_i|; -1 when n < 1.
int blas_idamax(int n, const double* x, int incx);

// The fault recorded since the last clear (first one wins), and clearing it.
int fp_fault();
void clear_fp_fault();

}  // namespace mvtsa
