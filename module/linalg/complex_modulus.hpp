// Modulus of a complex number stored as a (real, imaginary) pair of doubles,
// safe against overflow for parts of any finite magnitude.
#pragma once

namespace mvtsa {

// |z| for z = (z[0], z[1]).  Returns 0 when either part is a missing value
// (exponent bits all ones) or when z = 0.  Parts below kSeriesBound (2^512 / 100)
// in magnitude use sqrt(x^2 + y^2) directly; larger parts are first scaled
// by 2^-e, e the larger binary exponent of the two, and the result by 2^e.
double complex_modulus(const double* z);

}  // namespace mvtsa
