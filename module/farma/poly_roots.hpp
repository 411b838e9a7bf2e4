// Zeros of a polynomial with real coefficients (jenkins_traub.cpp: poly_roots,
// poly_quadratic; poly_zeros.cpp: poly_zeros) by the three-stage
// Jenkins-Traub method for real polynomials (no-shift stage, fixed-shift
// stage, variable-shift stage with linear or quadratic iteration, deflation
// after each zero or conjugate pair): M. A. Jenkins and J. F. Traub, "A
// three-stage algorithm for real polynomials using quadratic iteration",
// SIAM J. Numer. Anal. 7 (1970) 545-566.  Tested (tests/farma/
// poly_roots_test.cpp): random degree 1 to 30 with zeros of modulus 0.2 to
// 1.25, backward error below 1e-11 per zero, each zero matching an
// eigenvalue of the companion matrix.
#pragma once

#include <cstdint>

namespace mvtsa {

// Return codes of poly_roots and poly_zeros.
enum PolyRootsCode : int {
  kPolyRootsOk = 0,
  kPolyRootsLeadingZero = 1,      // c_0 = 0; degree set to 0
  kPolyRootsNoConvergence = 2,    // 20 fixed-shift passes failed
  // The two scaling refusals.  Their values are only ever compared with
  // these names (no output reports them), so they continue the small codes.
  kPolyRootsScaleHigh = 3,  // largest |coefficient| above 2^512, or not finite
  kPolyRootsScaleLow = 4,   // largest |coefficient| below 2^-511
  // The caller cancelled the call (cancel_requested, asked before each zero
  // or pair and each sweep of the polishing): the zeros are not all found,
  // and the caller ends the call.
  kPolyRootsCancelled = 5,
};

// Doubles of work space for a polynomial of degree n: seven arrays of n + 1
// (p, qp, k, qk, saved k, second saved k, coefficient moduli).
inline std::int64_t poly_roots_work_size(std::int64_t n) { return 7 * (n + 1); }

// Zeros of c_0 z^n + c_1 z^(n-1) + ... + c_n (c_0 multiplies the highest
// power; the array is not changed).  *degree holds n on entry; zero_re and
// zero_im receive n values in the order found: zeros at the origin first,
// then each real zero or conjugate pair, the last one or two from the closed
// formulas.  On return *degree is n on success, 0 for code 1, the number of
// zeros found for code 2, and unchanged for the scaling codes.
int poly_roots(const double* coef, int* degree, double* zero_re, double* zero_im, double* work);

// Zeros of c_0 z^n + c_1 z^(n-1) + ... + c_n for the model functions, with
// the return codes of poly_roots, in the same work space
// (poly_roots_work_size(n) doubles):
//  - zeros at the origin (trailing zero coefficients) first, as poly_roots;
//  - when every remaining power of z is a multiple of g > 1 (the gcd of the
//    powers with a non-zero coefficient), the polynomial is Q(w), w = z^g, of
//    degree n / g: its zeros w_j are found as below, and each gives its g
//    g-th roots |w_j|^(1/g) exp(i (arg w_j + 2 pi l) / g), l = 0..g-1;
//  - the zeros of Q (the polynomial itself when g = 1) come from poly_roots
//    and are polished on the undeflated Q by the Aberth-Ehrlich iteration
//    (simultaneous Newton steps, each corrected so that it stays away from
//    the zeros the other estimates approximate; at most kPolishSweeps
//    sweeps) until each residual is within the rounding bound of its
//    evaluation.  Deflation in the Jenkins-Traub stages loses accuracy at
//    high degree (the zeros of z^100 - 0.5, all of modulus 0.9931, came out
//    with moduli from 0.81 to 1.04; at degree 500 some missed by 7); when the
//    polishing does not settle, or poly_roots gives up, the iteration starts
//    again from the Newton polygon of Q (at most kAberthSweeps sweeps).
//    Measured (tests): degree 100 to 500 with zeros 1e-3 inside and outside
//    the unit circle, every zero within 1e-12 of its exact value; random
//    degree 3 to 30, backward error below 1e-14 per zero.
// Order: zeros at the origin, then for each zero (or conjugate pair) of Q,
// in the order found, its g-th roots, a conjugate pair adjacent with the
// positive imaginary part first; real zeros have imaginary part exactly 0.
// Code 2: the iteration did not settle; only the zeros at the origin are
// reported (*degree is their number).  Scaling codes: the polynomial's own
// largest coefficient is out of range (or not finite); nothing beyond the
// zeros at the origin is reported when g > 1.
inline constexpr int kPolishSweeps = 10;
inline constexpr int kAberthSweeps = 200;
int poly_zeros(const double* coef, int* degree, double* zero_re, double* zero_im, double* work);

// Zeros of a z^2 + b1 z + c without overflow in the discriminant: the
// smaller zero in (*sr, *si) and the larger in (*lr, *li); a complex pair
// is -b/a +- i |d/a| with the positive imaginary part in (*sr, *si).
void poly_quadratic(double a, double b1, double c, double* sr, double* si, double* lr,
                    double* li);

}  // namespace mvtsa
