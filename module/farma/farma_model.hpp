// The pieces that FARMACOV, FARMALIK and FARMASIM share: the checks of the
// ARFIMA arguments and the AR and MA polynomials rebuilt from lag lists.  The
// AR roots with their stationarity and distinctness tests, which every user
// of the polynomials takes next, are in farma_roots.hpp.
#pragma once

#include <cstdint>

#include "module/farma/farma_roots.hpp"
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

}  // namespace mvtsa
