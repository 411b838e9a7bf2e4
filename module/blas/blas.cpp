#include "module/blas/blas.hpp"

#include <cfenv>
#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

extern "C" {
void daxpy_(const int* n, const double* a, const double* x, const int* incx, double* y,
            const int* incy);
double ddot_(const int* n, const double* x, const int* incx, const double* y, const int* incy);
int idamax_(const int* n, const double* x, const int* incx);
}

namespace mvtsa {
namespace {

thread_local int t_fault = kFpNone;

// Runs f with the caller's environment held: all exceptions masked, flags
// clear.  Records a fault that f raised, restores the environment, and
// returns the fault.
//
// On x86-64 the vector kernels compute in SSE/AVX registers only, whose
// whole floating-point state is the MXCSR register: saving, masking and
// restoring it directly costs a few cycles, where saving the full x87 and
// SSE environment costs about a hundred.
#if defined(__x86_64__)
template <class F>
int fp_guarded(F f) {
  constexpr unsigned kFlags = 0x3F;        // IE DE ZE OE UE PE
  constexpr unsigned kMasks = 0x3F << 7;   // all exceptions masked
  const unsigned saved = _mm_getcsr();
  _mm_setcsr((saved | kMasks) & ~kFlags);
  f();
  const unsigned raised = _mm_getcsr() & kFlags;
  _mm_setcsr(saved);
  int fault = kFpNone;
  if (raised & 0x08)        // overflow
    fault = kFpOverflow;
  else if (raised & 0x04)   // division by zero
    fault = kFpDivByZero;
  else if (raised & 0x01)   // invalid operation
    fault = kFpInvalid;
  if (fault != kFpNone && t_fault == kFpNone) t_fault = fault;
  return fault;
}
#else
template <class F>
int fp_guarded(F f) {
  std::fenv_t saved;
  std::feholdexcept(&saved);
  f();
  const int raised = std::fetestexcept(FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID);
  std::fesetenv(&saved);
  int fault = kFpNone;
  if (raised & FE_OVERFLOW)
    fault = kFpOverflow;
  else if (raised & FE_DIVBYZERO)
    fault = kFpDivByZero;
  else if (raised & FE_INVALID)
    fault = kFpInvalid;
  if (fault != kFpNone && t_fault == kFpNone) t_fault = fault;
  return fault;
}
#endif

}  // namespace

int fp_fault() { return t_fault; }
void clear_fp_fault() { t_fault = kFpNone; }

int blas_daxpy(int n, double a, const double* x, int incx, double* y, int incy) {
  if (n <= 0) return kFpNone;
  if (n <= 2 && incx == 1 && incy == 1) {
    y[0] += a * x[0];
    if (n == 2) y[1] += a * x[1];
    return kFpNone;
  }
  return fp_guarded([&] { daxpy_(&n, &a, x, &incx, y, &incy); });
}

double blas_ddot(int n, const double* x, int incx, const double* y, int incy) {
  if (n <= 0) return 0.0;
  if (n <= 2 && incx == 1 && incy == 1) return n == 1 ? x[0] * y[0] : x[0] * y[0] + x[1] * y[1];
  double r = 0.0;
  fp_guarded([&] { r = ddot_(&n, x, &incx, y, &incy); });
  return r;
}

int blas_idamax(int n, const double* x, int incx) {
  if (n < 1 || incx < 1) return -1;
  int r = 0;
  fp_guarded([&] { r = idamax_(&n, x, &incx); });
  return r - 1;
}

}  // namespace mvtsa
