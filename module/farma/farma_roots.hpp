// The roots of an ARFIMA model's AR polynomial (poly_zeros, sorted so that
// equal roots are neighbours) and the tests FARMACOV, FARMALIK, FARMASIM and
// the fits make on them: stationarity and distinct roots.
#pragma once

#include <cstdint>

#include "module/farma/poly_roots.hpp"

namespace mvtsa {

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
