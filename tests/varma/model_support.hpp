// Random VARMA models and the dense Gaussian likelihood of a stacked series,
// shared by the likelihood tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "module/varma/varma_autocov.hpp"

namespace lik_test {

struct Model {
  int k = 2;
  std::vector<int> ar_lags, ma_lags;  // ascending
  std::vector<double> phi, theta;     // compact blocks, one per listed lag
  std::vector<double> sigma;          // k x k
  int pmax() const { return ar_lags.empty() ? 0 : ar_lags.back(); }
  int qmax() const { return ma_lags.empty() ? 0 : ma_lags.back(); }
  // Blocks spread over lags 1 .. order.
  static std::vector<double> spread(const std::vector<double>& c, const std::vector<int>& lags,
                                    int k) {
    const int order = lags.empty() ? 0 : lags.back();
    std::vector<double> s(std::size_t(order) * k * k, 0.0);
    for (std::size_t i = 0; i < lags.size(); ++i)
      for (int e = 0; e < k * k; ++e) s[(lags[i] - 1) * k * k + e] = c[i * k * k + e];
    return s;
  }
  std::vector<double> ar_spread() const { return spread(phi, ar_lags, k); }
  std::vector<double> ma_spread() const { return spread(theta, ma_lags, k); }
};

// A random subset of 1 .. 3 of size n (ascending).
inline std::vector<int> random_lags(int n, bool subset, std::mt19937& g) {
  std::vector<int> lags;
  if (!subset) {
    for (int i = 1; i <= n; ++i) lags.push_back(i);
    return lags;
  }
  std::vector<int> all = {1, 2, 3};
  std::shuffle(all.begin(), all.end(), g);
  lags.assign(all.begin(), all.begin() + n);
  std::sort(lags.begin(), lags.end());
  return lags;
}

// Stationary: the AR blocks have Frobenius norms summing to 0.85 (so every
// companion root lies inside the unit circle).
inline Model random_model(int k, int np, int nq, bool subset, std::mt19937& g) {
  std::uniform_real_distribution<double> U(-1, 1);
  Model m;
  m.k = k;
  m.ar_lags = random_lags(np, subset, g);
  m.ma_lags = random_lags(nq, subset, g);
  m.phi.resize(std::size_t(np) * k * k);
  m.theta.resize(std::size_t(nq) * k * k);
  for (double& x : m.phi) x = U(g);
  for (double& x : m.theta) x = 0.6 * U(g);
  double norm = 0;
  for (int b = 0; b < np; ++b) {
    double s = 0;
    for (int e = 0; e < k * k; ++e) s += m.phi[b * k * k + e] * m.phi[b * k * k + e];
    norm += std::sqrt(s);
  }
  for (double& x : m.phi) x *= 0.85 / norm;
  std::vector<double> b(std::size_t(k) * k);
  for (double& x : b) x = U(g);
  m.sigma.assign(std::size_t(k) * k, 0.0);
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < k; ++j) {
      for (int l = 0; l < k; ++l) m.sigma[i * k + j] += b[i * k + l] * b[j * k + l];
      if (i == j) m.sigma[i * k + j] += 0.5;
    }
  return m;
}

inline std::vector<double> random_series(std::int64_t T, int k, std::mt19937& g) {
  std::normal_distribution<double> N;
  std::vector<double> y(std::size_t(T) * k);
  for (double& x : y) x = N(g);
  return y;
}

// The filter's state-space form of a model, dense: the transition T
// (f x f, ones above the diagonal's k-th band and the AR blocks in the last
// block row) and Q = R Sigma R' with R the stacked psi weights
// Psi_0 .. Psi_{m-1}.
struct StateForm {
  int m = 0, k = 0;
  std::int64_t f = 0;
  std::vector<double> T, Q;
};
inline StateForm state_form(const Model& md) {
  const int k = md.k, p = md.pmax(), q = md.qmax(), m = std::max(p, q + 1);
  const std::int64_t f = std::int64_t(k) * m, kk = std::int64_t(k) * k;
  StateForm s{m, k, f, std::vector<double>(std::size_t(f * f), 0.0),
              std::vector<double>(std::size_t(f * f), 0.0)};
  const std::vector<double> ar = md.ar_spread(), ma = md.ma_spread();
  for (std::int64_t i = 0; i + k < f; ++i) s.T[std::size_t(i * f + i + k)] = 1.0;
  for (int l = 1; l <= p; ++l)
    for (int r = 0; r < k; ++r)
      for (int c = 0; c < k; ++c)
        s.T[std::size_t(((m - 1) * k + r) * f + (m - l) * k + c)] =
            ar[std::size_t((l - 1) * kk + r * k + c)];
  std::vector<double> psi(std::size_t(m * kk));
  mvtsa::varma_psi_weights(ar.data(), p, ma.data(), q, k, m, psi.data());
  auto R = [&](std::int64_t r, int a) { return psi[std::size_t((r / k) * kk + (r % k) * k + a)]; };
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t c = 0; c < f; ++c) {
      double acc = 0.0;
      for (int a = 0; a < k; ++a)
        for (int b = 0; b < k; ++b) acc += R(r, a) * md.sigma[std::size_t(a * k + b)] * R(c, b);
      s.Q[std::size_t(r * f + c)] = acc;
    }
  return s;
}

// log det and y' C^-1 y of the covariance C of the stacked series
// (Y(1)', ..., Y(T)')': block (s, t) = E[Y(s) Y(t)'] = Gamma(t-s) for t >= s.
// With `observed` (T flags), only the rows flagged enter: the density of the
// rows observed.  Gamma comes from varma_autocov (the static core, on the
// active host).
struct Dense {
  double logdet = 0, quad = 0;
  bool ok = false;
};
inline Dense dense_gaussian(const Model& m, const std::vector<double>& y, std::int64_t T,
                            const std::vector<bool>* observed = nullptr) {
  const int k = m.k;
  std::vector<std::int64_t> rows;
  for (std::int64_t t = 0; t < T; ++t)
    if (!observed || (*observed)[std::size_t(t)]) rows.push_back(t);
  const std::int64_t n = std::int64_t(rows.size()) * k;
  std::vector<double> gam(std::size_t(T) * k * k);
  const std::vector<double> ar = m.ar_spread(), ma = m.ma_spread();
  Dense d;
  if (mvtsa::varma_autocov(gam.data(), T - 1, m.sigma.data(), ar.data(), ma.data(), m.pmax(),
                           m.qmax(), k) != 0)
    return d;
  std::vector<double> c(std::size_t(n * n)), yo(static_cast<std::size_t>(n));
  const std::int64_t R = std::int64_t(rows.size());
  for (std::int64_t i = 0; i < R; ++i)
    for (int a = 0; a < k; ++a) yo[std::size_t(i * k + a)] = y[std::size_t(rows[i] * k + a)];
  for (std::int64_t i = 0; i < R; ++i)
    for (std::int64_t j = i; j < R; ++j)
      for (int a = 0; a < k; ++a)
        for (int b = 0; b < k; ++b) {
          const double v = gam[(rows[j] - rows[i]) * k * k + a * k + b];
          c[(i * k + a) * n + j * k + b] = v;
          c[(j * k + b) * n + i * k + a] = v;
        }
  // Cholesky C = L L'; log det = 2 sum log L_ii; quad = |L^-1 y|^2
  for (std::int64_t j = 0; j < n; ++j) {
    double s = c[j * n + j];
    for (std::int64_t l = 0; l < j; ++l) s -= c[j * n + l] * c[j * n + l];
    if (!(s > 0)) return d;
    const double ljj = std::sqrt(s);
    c[j * n + j] = ljj;
    for (std::int64_t i = j + 1; i < n; ++i) {
      double r = c[i * n + j];
      for (std::int64_t l = 0; l < j; ++l) r -= c[i * n + l] * c[j * n + l];
      c[i * n + j] = r / ljj;
    }
    d.logdet += 2 * std::log(ljj);
  }
  std::vector<double> z(static_cast<std::size_t>(n));
  for (std::int64_t i = 0; i < n; ++i) {
    double r = yo[std::size_t(i)];
    for (std::int64_t l = 0; l < i; ++l) r -= c[i * n + l] * z[std::size_t(l)];
    z[std::size_t(i)] = r / c[i * n + i];
    d.quad += z[std::size_t(i)] * z[std::size_t(i)];
  }
  d.ok = true;
  return d;
}

// VARMALIK arguments for a model: series, phi, theta, sigma, p, q, method.
inline std::vector<mvts::Value> lik_args(const Model& m, const std::vector<double>& y,
                                         std::int64_t T, double method) {
  using mvts::Value;
  const int k = m.k;
  auto lag_value = [](const std::vector<int>& l) {
    std::vector<double> v(l.begin(), l.end());
    return l.empty() ? Value::omitted() : Value::column(v);
  };
  return {Value::matrix(std::int32_t(T), k, y),
          m.ar_lags.empty() ? Value::omitted()
                            : Value::matrix(std::int32_t(m.ar_lags.size()) * k, k, m.phi),
          m.ma_lags.empty() ? Value::omitted()
                            : Value::matrix(std::int32_t(m.ma_lags.size()) * k, k, m.theta),
          Value::matrix(k, k, m.sigma),
          lag_value(m.ar_lags),
          lag_value(m.ma_lags),
          Value::scalar(method)};
}

}  // namespace lik_test
