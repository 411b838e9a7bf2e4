// The pieces that FARMACOV, FARMALIK and FARMASIM share: the checks of the
// ARFIMA arguments, the AR and MA polynomials rebuilt from lag lists, and the
// AR roots with their stationarity and distinctness tests.
#pragma once

#include <cstdint>

#include "module/farma/poly_roots.hpp"
#include "module/frame/args.hpp"
#include "module/frame/host.hpp"

namespace mvtsa {

// 1 - 2^-26.5 and 1/2 - 2^-26.5: the open bounds on |d|.
inline constexpr double kDBoundOne = 1.0 - kCloseTol;
inline constexpr double kDBoundHalf = 0.5 - kCloseTol;

// A polynomial in host memory, coef[0] = 1 and coef[j] the coefficient of
// B^j, order its degree.
struct FarmaPoly {
  WorkBlock<double> coef;
  int order = 0;
};

// d (argument i): omitted -> 17; no value 2; character 13; not 1 x 1 15;
// missing 17; unless |d| > 2^-26.5 and |d| < bound: message 372.
int farma_d_arg(const ArgList& in, int i, double bound, double* d);
// A numeric 1 x 1 argument: no value 2; character 13; not 1 x 1 15;
// missing 17.
int farma_scalar_arg(const ArgList& in, int i, double* value);
// sigma^2: a scalar, and status 8 unless it is greater than 0.
int farma_sigma_arg(const ArgList& in, int i, double* sigma2);
// phi or theta: omitted gives no coefficients (*count 0); no value 2;
// character 13; missing 17; a dimension below 1: message 350; not a vector
// (1 x 1 counts as one): status 6.  *count is the number of coefficients.
int farma_coef_arg(const ArgList& in, int i, MatrixArg* m, int* count);

// The polynomial 1 + x_1 B + ... from `count` given coefficients (none when
// count is 0) and the optional lag list in slot lag_slot: checks of the lag
// list (350, 351, 356 with `which`, 353), then, when the largest lag P
// differs from the number m of distinct lags, the k-th given coefficient
// placed at the k-th smallest lag (zeros elsewhere; a fractional lag takes
// none); when P = m the first m coefficients in the order given.  Trailing
// coefficients with |x| <= 2^-26.5 are dropped.  The coefficients are those
// of the user (phi_j or theta_j); farma_negate turns them into the
// polynomial 1 - phi_1 B - ...
int farma_polynomial(const ArgList& in, int lag_slot, const double* given, int count,
                     const char* which, FarmaPoly* out);
void farma_negate(FarmaPoly* poly);

// The model arguments FARMACOV and FARMALIK share, checked in this order:
// d (|d| below d_bound), phi, theta, sigma^2 (1 when omitted), then the AR
// and MA polynomials from the coefficients and their lag lists.
struct FarmaSlots {
  int d, phi, theta, sigma, ar_lags, ma_lags;
};
struct FarmaModel {
  double d = 0.0;
  double sigma2 = 1.0;
  FarmaPoly ar, ma;
};
int farma_model_args(const ArgList& in, const FarmaSlots& slots, double d_bound,
                     FarmaModel* model);

// Doubles of work space for farma_ar_roots: the root pairs (2p), their real
// and imaginary parts (2p) and the root finder's 7(p + 1).
inline std::int64_t farma_roots_work_size(int p) { return 4 * std::int64_t(p) + 7 * (std::int64_t(p) + 1); }

// The zeros of z^p + a_1 z^(p-1) + ... + a_p (the AR polynomial a, a_0 = 1)
// by poly_zeros, as (real, imaginary) pairs in roots[0..2p), zero where the
// root finder found none, sorted by real part and then imaginary part.
// Code 1 issues message 88, code 2 message 89 with the number of zeros
// found; the code is returned and the caller goes on, except after
// kPolyRootsCancelled, when it ends the call.  *complex_flag is set when a
// root has a non-zero imaginary part.
int farma_ar_roots(const double* ar, int p, double* roots, double* work, bool* complex_flag);
// On the roots as farma_ar_roots leaves them (sorted): 390 when a root has
// modulus 1 or more, else 373 when two roots have equal real and imaginary
// parts, else 0.  Issues nothing.  O(p).
int farma_root_check(const double* roots, int p);

}  // namespace mvtsa
