// Polynomials (scalar or matrix) whose non-zero terms stand only at lags that
// are multiples of g: the gcd of those lags, and the g-th roots that take the
// zeros of the polynomial in w = z^g back to z.  Pure routines.
#pragma once

#include <cstdint>

namespace mvtsa {

// Greatest common divisor of a >= 0 and b >= 0 by Euclid's algorithm;
// lag_gcd(0, b) = b, so a running gcd over lags may start from 0.
int lag_gcd(int a, int b);

// Appends the g >= 1 roots of z^g = w, w = (re, im), to wr/wi at *at and
// advances *at.  With `pair`, w has im > 0 and stands for itself and its
// conjugate: 2g roots, each conjugate pair adjacent, positive imaginary part
// first.  With rho = |w|^(1/g) (|w| by complex_modulus) and theta = arg w
// the roots are
//   z_j = rho exp(i (theta + 2 pi j) / g),   j = 0 .. g-1,
// and those of conj(w) their conjugates.  For real w only the angles in
// [0, pi] are evaluated, so that real roots have imaginary part exactly 0 and
// every pair is exactly conjugate; g = 1 copies w (and its conjugate).
void append_gth_roots(double re, double im, bool pair, int g, double* wr, double* wi,
                      std::int64_t* at);

}  // namespace mvtsa
