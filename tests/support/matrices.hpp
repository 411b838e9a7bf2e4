// Test matrices with known eigenvalues.
#pragma once

#include <vector>

namespace test_support {

// Q B Q' with the Householder reflector Q = I - 2 v v' / v'v (row-major
// n x n): the same eigenvalues as B, but a dense matrix that neither
// balancing nor a reduction can take apart.
inline std::vector<double> reflect(int n, const std::vector<double>& b,
                                   const std::vector<double>& v) {
  double vv = 0.0;
  for (double x : v) vv += x * x;
  std::vector<double> q(n * n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) q[i * n + j] = (i == j) - 2.0 * v[i] * v[j] / vv;
  std::vector<double> t(n * n, 0.0), a(n * n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int l = 0; l < n; ++l) t[i * n + j] += q[i * n + l] * b[l * n + j];
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int l = 0; l < n; ++l) a[i * n + j] += t[i * n + l] * q[j * n + l];
  return a;
}

}  // namespace test_support
