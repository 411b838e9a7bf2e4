// Derivatives of the ARFIMA(p, d, q) autocovariances (unit innovation
// variance) in d and in the MA coefficients, by differentiating Sowell's
// formula (arfima_autocov.hpp) term by term:
//   gamma(s) = K sum_l psi(l) G(p + l - s),  G(h) = R(h) S(h),
//   dK/dd = K (-2 digamma(1 - 2d) + digamma(1 - d) - digamma(d)),
//   dR(h)/dd = R(h) (digamma(d + h) + digamma(1 - d + h)), the digamma pair
//     carried from h = 0 by psi(x + 1) = psi(x) + 1/x,
//   dS(h)/dd = sum_j Re(zeta_j (rho_j^2p F'(h) + F'(-h))), F' = dF/dd for
//     F(x) = F(d + x, 1 - d + x, rho) from the table's own recursion
//       F'(x) = rho ((a/c) F'(x + 1) + ((2x + 1) / c^2) F(x + 1)),
//       a = d + x, c = x + 1 - d,
//     started from the derivative of the series at the top of the table;
//   dpsi(l)/dtheta*_k = theta*_(k-l) + theta*_(k+l) (the terms that exist).
// Fractional noise (p = q = 0): gamma(k) = gamma(0) prod (i - 1 + d)/(i - d),
// d ln gamma(k)/dd = -2 digamma(1 - 2d) + 2 digamma(1 - d)
//   + sum_{i=1..k} (1/(i - 1 + d) + 1/(i - d)).
// The AR coefficients have no term here: the exact gradient takes them from
// gamma itself (farma_gradient.hpp).  Tested against Richardson differences
// of arfima_autocov (tests/farma/farma_gradient_test.cpp).
#pragma once

#include <complex>
#include <cstdint>

namespace mvtsa {

// arfima_autocov_derivs's code where d is within 2^-26.5 of 0 (the ARMA
// path, which has no derivative in d here).
inline constexpr int kAutocovNoDerivative = -1;

// dF(d + x, 1 - d + x, rho)/dd for x = -X..X into dF[x + X], from the table
// F of hyper_table_real or hyper_table_complex (same d, rho and X >= 1).
void hyper_table_dd_real(double d, double rho, std::int64_t X, const double* F, double* dF);
void hyper_table_dd_complex(double d, std::complex<double> rho, std::int64_t X,
                            const std::complex<double>* F, std::complex<double>* dF);

// Doubles of work space for arfima_autocov_derivs up to lag L.
std::int64_t arfima_autocov_derivs_work_size(int p, int q, std::int64_t lag);

// gamma(0..lag), and into dgamma the rows (dlag + 1 values each, dlag <=
// lag) dgamma/dd, then dgamma/dtheta*_k for k = 1..q.  Arguments as for
// arfima_autocov (roots distinct and inside the unit circle).  Returns 0,
// 315 (a gamma-function evaluation failed), 398 (cancelled) or
// kAutocovNoDerivative.
int arfima_autocov_derivs(double* gamma, std::int64_t lag, double* dgamma, std::int64_t dlag,
                          double d, int p, int q, const double* ma, const double* roots,
                          bool complex_roots, double* work);

}  // namespace mvtsa
