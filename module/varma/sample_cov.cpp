#include "module/varma/sample_cov.hpp"

#include <cmath>

#include "module/frame/host.hpp"

namespace mvtsa {

bool sample_cov(const double* y, std::int64_t T, int k, std::int64_t L, double* mean, double* cov,
                double* work) {
  const std::int64_t kk = std::int64_t(k) * k;
  for (int j = 0; j < k; ++j) {
    // Compensated sum: the mean of a long series of large values loses no
    // digits the centred products would need.
    double s = 0, c = 0;
    for (std::int64_t t = 0; t < T; ++t) {
      const double v = y[t * k + j] - c;
      const double u = s + v;
      c = (u - s) - v;
      s = u;
    }
    mean[j] = s / double(T);
  }
  double* z = work;
  for (std::int64_t t = 0; t < T; ++t)
    for (int j = 0; j < k; ++j) z[t * k + j] = y[t * k + j] - mean[j];
  for (std::int64_t h = 0; h <= L; ++h) {
    if ((h & 63) == 63 && cancel_requested()) return false;
    double* block = cov + h * kk;
    for (int i = 0; i < k; ++i)
      for (int j = 0; j < k; ++j) {
        double s = 0;
        for (std::int64_t t = 0; t + h < T; ++t) s += z[t * k + i] * z[(t + h) * k + j];
        block[i * k + j] = s / double(T);
      }
  }
  return true;
}

void sample_corr(const double* cov, int k, std::int64_t L, double* corr) {
  const std::int64_t kk = std::int64_t(k) * k;
  for (std::int64_t h = 0; h <= L; ++h)
    for (int i = 0; i < k; ++i)
      for (int j = 0; j < k; ++j) {
        const double vi = cov[i * k + i], vj = cov[j * k + j];
        double r = 0;
        if (vi > 0 && vj > 0) r = cov[h * kk + i * k + j] / std::sqrt(vi * vj);
        else if (h == 0 && i == j) r = 1;
        corr[h * kk + i * k + j] = r;
      }
}

}  // namespace mvtsa
