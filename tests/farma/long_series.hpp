// A long series of an ARFIMA model's kind for the superfast tests and benchmarks (not
// drawn from its exact law, which costs O(n^2)): the ARMA part by its
// recursion after a burn-in, then (1 - B)^-d by the FFT fractional filter.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "module/farma/frac_diff.hpp"

namespace farma_test {

inline std::vector<double> arfima_series(double d, const std::vector<double>& phi,
                                         const std::vector<double>& theta, std::int64_t n,
                                         unsigned seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> z;
  const std::int64_t burn = 1000, m = n + burn;
  std::vector<double> e(m), w(m, 0.0);
  for (auto& v : e) v = z(rng);
  for (std::int64_t t = 0; t < m; ++t) {
    double s = e[t];
    for (std::size_t j = 0; j < phi.size(); ++j)
      if (t > std::int64_t(j)) s += phi[j] * w[t - 1 - j];
    for (std::size_t j = 0; j < theta.size(); ++j)
      if (t > std::int64_t(j)) s -= theta[j] * e[t - 1 - j];
    w[t] = s;
  }
  std::vector<double> x(w.begin() + burn, w.end());
  if (d == 0.0) return x;
  std::vector<double> y(n), weights(n), scratch(std::size_t(mvtsa::frac_diff_work_size(n)));
  mvtsa::frac_diff_filter(y.data(), weights.data(), -d, x.data(), n, scratch.data());
  y[0] = x[0];  // the filter leaves its first value missing; its weight is 1
  return y;
}

}  // namespace farma_test
