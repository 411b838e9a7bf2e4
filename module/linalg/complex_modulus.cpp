#include "module/linalg/complex_modulus.hpp"

#include <cmath>

#include "module/frame/status.hpp"

namespace mvtsa {

double complex_modulus(const double* z) {
  const double x = z[0], y = z[1];
  if (is_missing(x) || is_missing(y) || (x == 0.0 && y == 0.0)) return 0.0;
  // Below kSeriesBound (2^512 / 100) the squares stay below 2^1011 and their
  // sum cannot overflow.
  if (std::fabs(x) < kSeriesBound && std::fabs(y) < kSeriesBound) return std::sqrt(x * x + y * y);
  // |x| = mx * 2^ex with 0.5 <= mx < 1 (frexp); scale both parts by 2^-e with
  // e = max(ex, ey) so the larger part lies in [0.5, 1).
  int ex = 0, ey = 0;
  std::frexp(x, &ex);
  std::frexp(y, &ey);
  const int e = ex > ey ? ex : ey;
  const double xs = std::ldexp(x, -e), ys = std::ldexp(y, -e);
  return std::ldexp(std::sqrt(xs * xs + ys * ys), e);
}

}  // namespace mvtsa
