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
  auto periodogram = [&](std::int64_t j) {
    return 2.0 / double(n) * (re[j] * re[j] + im[j] * im[j]);
  };
  // An ordinate at or below 2^-26.5 times the mean ordinate counts as the
  // mean itself: both the floor and its replacement follow the units of the
  // series, so the slope does not depend on them.
  double mean_I = 0.0;
  for (std::int64_t j = 1; j <= m; ++j) mean_I += periodogram(j);
  mean_I /= double(m);
  // (A series of zeros has every ordinate 0, each counted as ln 1 = 0.)
  const double floor_I = mean_I > 0.0 ? kCloseTol * mean_I : 0.0;
  const double log_mean_I = mean_I > 0.0 ? std::log(mean_I) : 0.0;
  auto y_at = [&](std::int64_t j) {
    const double I = periodogram(j);
    return I > floor_I ? std::log(I) : log_mean_I;
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
