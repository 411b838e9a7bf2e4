// A deterministic series for calls that need a valid one of a given shape.
#pragma once

#include <cmath>
#include <vector>

#include "host/host.hpp"

namespace test_support {

// t rows and k columns: two coupled recursions driven by sines and cosines
// (odd columns the second), so that fits and likelihoods see some dependence.
inline mvts::Value series(int t, int k) {
  std::vector<double> d(std::size_t(t) * k);
  double a = 0.3, b = -0.2;
  for (int i = 0; i < t; ++i) {
    a = 0.5 * a + std::sin(1.7 * i + 0.3);
    b = 0.3 * b + 0.2 * a + std::cos(2.3 * i);
    for (int j = 0; j < k; ++j) d[std::size_t(i) * k + j] = j % 2 ? b : a;
  }
  return mvts::Value::matrix(t, k, d);
}

}  // namespace test_support
