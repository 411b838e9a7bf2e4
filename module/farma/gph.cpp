#include "module/farma/gph.hpp"

#include <cmath>
#include <cstring>

#include "module/farma/gph_fft.hpp"
#include "module/frame/status.hpp"

namespace mvtsa {

double gph_start(const double* y, std::int64_t n, double* work) {
  if (n < 2) return kGphFallback;
  double* re = work;
  double* im = work + n;
  std::memcpy(re, y, sizeof(double) * std::size_t(n));
  std::memset(im, 0, sizeof(double) * std::size_t(n));
  if (fft_mixed_radix(re, im, n, work + 2 * n) != kFftOk) return kGphFallback;
  const std::int64_t m = n / 2;
  const double pi = 3.141592653589793;
  // Two passes: the means, then the centred cross products.
  auto x_at = [&](std::int64_t j) {
    const double s = std::sin(pi * double(j) / double(n));
    return std::log(4.0 * s * s);
  };
  auto y_at = [&](std::int64_t j) {
    const double I = 2.0 / double(n) * (re[j] * re[j] + im[j] * im[j]);
    return I > kCloseTol ? std::log(I) : 0.0;
  };
  double mx = 0.0, my = 0.0;
  for (std::int64_t j = 1; j <= m; ++j) {
    mx += x_at(j);
    my += y_at(j);
  }
  mx /= double(m);
  my /= double(m);
  double sxy = 0.0, sxx = 0.0;
  for (std::int64_t j = 1; j <= m; ++j) {
    const double x = x_at(j) - mx;
    sxy += x * (y_at(j) - my);
    sxx += x * x;
  }
  const double d0 = -sxy / sxx;
  return sxx > 0 && std::isfinite(d0) ? d0 : kGphFallback;
}

}  // namespace mvtsa
