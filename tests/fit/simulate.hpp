// Series simulated outside the module, for the fitting tests and benchmarks.
#pragma once

#include <random>
#include <vector>

namespace fit_test {

// Y(t) = Phi Y(t-1) + e(t) - Theta e(t-1), k = 2, e ~ N(0, C C') with the
// packed lower factor chol = (C00, C10, C11), after a burn-in of 100 steps.
inline std::vector<double> varma11(const double phi[4], const double theta[4],
                                   const double chol[3], int T, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> z;
  std::vector<double> y(2 * static_cast<std::size_t>(T));
  double yp[2] = {0, 0}, ep[2] = {0, 0};
  for (int t = -100; t < T; ++t) {
    const double z0 = z(rng), z1 = z(rng);
    const double e[2] = {chol[0] * z0, chol[1] * z0 + chol[2] * z1};
    double v[2];
    for (int i = 0; i < 2; ++i)
      v[i] = phi[2 * i] * yp[0] + phi[2 * i + 1] * yp[1] + e[i] - theta[2 * i] * ep[0] -
             theta[2 * i + 1] * ep[1];
    for (int i = 0; i < 2; ++i) {
      yp[i] = v[i];
      ep[i] = e[i];
      if (t >= 0) y[2 * t + i] = v[i];
    }
  }
  return y;
}

// phi(B) (1 - B)^d y = theta(B) e: the ARMA(1, 1) part by its recursion,
// then (1 - B)^-d by the truncated moving-average weights over a burn-in.
inline std::vector<double> arfima11(double d, double phi, double theta, int n, unsigned seed) {
  const int burn = 1000, m = n + burn;
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> z;
  std::vector<double> w(m), psi(m), y(n);
  double wp = 0.0, ep = 0.0;
  for (int t = 0; t < m; ++t) {
    const double e = z(rng);
    w[t] = phi * wp + e - theta * ep;
    wp = w[t];
    ep = e;
  }
  psi[0] = 1.0;
  for (int j = 1; j < m; ++j) psi[j] = psi[j - 1] * (j - 1 + d) / j;
  for (int t = 0; t < n; ++t) {
    double s = 0.0;
    for (int j = 0; j <= t + burn; ++j) s += psi[j] * w[t + burn - j];
    y[t] = s;
  }
  return y;
}

}  // namespace fit_test
