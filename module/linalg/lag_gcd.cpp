#include "module/linalg/lag_gcd.hpp"

#include <cmath>

#include "module/linalg/complex_modulus.hpp"

namespace mvtsa {
namespace {

constexpr double kPi = 3.141592653589793;

}  // namespace

int lag_gcd(int a, int b) {
  while (b != 0) {
    const int r = a % b;
    a = b;
    b = r;
  }
  return a;
}

void append_gth_roots(double re, double im, bool pair, int g, double* wr, double* wi,
                      std::int64_t* at) {
  auto put = [&](double x, double y) {
    wr[*at] = x;
    wi[*at] = y;
    ++*at;
  };
  auto put_pair = [&](double x, double y) {
    y = std::fabs(y);
    put(x, y);
    put(x, y == 0.0 ? 0.0 : -y);
  };
  if (g == 1) {
    put(re, im);
    if (pair) put(re, -im);
    return;
  }
  const double z[2] = {re, im};
  const double r = complex_modulus(z);
  if (r == 0.0) {
    for (int j = 0; j < (pair ? 2 * g : g); ++j) put(0.0, 0.0);
    return;
  }
  const double rho = std::pow(r, 1.0 / g);
  if (im != 0.0) {
    // A complex w: with its conjugate as pairs, else its own g roots unpaired.
    const double theta = std::atan2(im, re);
    for (int j = 0; j < g; ++j) {
      const double phi = (theta + 2.0 * kPi * j) / g;
      if (pair)
        put_pair(rho * std::cos(phi), rho * std::sin(phi));
      else
        put(rho * std::cos(phi), rho * std::sin(phi));
    }
  } else if (re > 0.0) {
    // Angles 2 pi j / g: 0, the pairs strictly inside (0, pi), pi when g is even.
    put(rho, 0.0);
    for (int j = 1; 2 * j < g; ++j) {
      const double phi = 2.0 * kPi * j / g;
      put_pair(rho * std::cos(phi), rho * std::sin(phi));
    }
    if (g % 2 == 0) put(-rho, 0.0);
  } else {
    // Angles (2j + 1) pi / g: the pairs strictly inside (0, pi), pi when g is odd.
    for (int j = 0; 2 * j + 1 < g; ++j) {
      const double phi = kPi * (2 * j + 1) / g;
      put_pair(rho * std::cos(phi), rho * std::sin(phi));
    }
    if (g % 2 == 1) put(-rho, 0.0);
  }
}

}  // namespace mvtsa
