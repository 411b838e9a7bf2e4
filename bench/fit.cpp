// VARMAFIT and FARMAFIT through the host: seconds per fit and the maximised
// log-likelihood.  For VARMAFIT the distance to the true maximum is
// estimated once by a Newton step from the fit (gap = g' (-H)^-1 g / 2 with
// the gradient g and Hessian H of L by central differences through VARMALIK).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "tests/fit/simulate.hpp"

namespace {

using mvts::Value;
const Value kNone = Value::omitted();

// The model of the VARMAFIT benchmark: k = 2, VARMA(1, 1).
std::vector<double> varma11(int T, unsigned seed) {
  const double phi[4] = {0.5, 0.1, -0.2, 0.3}, theta[4] = {-0.4, 0.0, 0.2, 0.3};
  const double c[3] = {1.0, 0.3, 0.8};
  return fit_test::varma11(phi, theta, c, T, seed);
}

// L at (AR 4, MA 4, sigma 00, 10, 11).
double varma_loglik(mvts::Session& s, const Value& y, const std::vector<double>& p) {
  auto r = s.call("VARMALIK", {y, Value::matrix(2, 2, {p[0], p[1], p[2], p[3]}),
                               Value::matrix(2, 2, {p[4], p[5], p[6], p[7]}),
                               Value::matrix(2, 2, {p[8], p[9], p[9], p[10]})});
  return r.status == 0 ? r.outputs[0]->at(0, 0) : std::nan("");
}

// g' (-H)^-1 g / 2 at p by Gaussian elimination on the 11 x 11 system.
double newton_gap(mvts::Session& s, const Value& y, const std::vector<double>& p) {
  const int n = int(p.size());
  const double h = 1e-4;
  auto f = [&](int i, double a, int j, double b) {
    std::vector<double> q = p;
    if (i >= 0) q[i] += a;
    if (j >= 0) q[j] += b;
    return varma_loglik(s, y, q);
  };
  const double f0 = f(-1, 0, -1, 0);
  std::vector<double> g(n), H(n * n);
  for (int i = 0; i < n; ++i) {
    g[i] = (f(i, h, -1, 0) - f(i, -h, -1, 0)) / (2 * h);
    H[i * n + i] = -(f(i, h, -1, 0) - 2 * f0 + f(i, -h, -1, 0)) / (h * h);
    for (int j = 0; j < i; ++j)
      H[i * n + j] = H[j * n + i] =
          -(f(i, h, j, h) - f(i, h, j, -h) - f(i, -h, j, h) + f(i, -h, j, -h)) / (4 * h * h);
  }
  std::vector<double> x = g;
  for (int c = 0; c < n; ++c)
    for (int r = c + 1; r < n; ++r) {
      const double m = H[r * n + c] / H[c * n + c];
      for (int k = c; k < n; ++k) H[r * n + k] -= m * H[c * n + k];
      x[r] -= m * x[c];
    }
  for (int r = n - 1; r >= 0; --r) {
    for (int k = r + 1; k < n; ++k) x[r] -= H[r * n + k] * x[k];
    x[r] /= H[r * n + r];
  }
  double gap = 0.0;
  for (int i = 0; i < n; ++i) gap += 0.5 * g[i] * x[i];
  return gap;
}

void BM_Varmafit_k2_T500(benchmark::State& state) {
  mvts::Session s;
  const Value y = Value::matrix(500, 2, varma11(500, 21));
  mvts::CallResult r;
  for (auto _ : state) {
    r = s.call("VARMAFIT", {y, Value::scalar(1), Value::scalar(1)});
    if (r.status != 0) state.SkipWithError("VARMAFIT failed");
  }
  if (r.status != 0) return;
  std::vector<double> p(r.outputs[0]->data);
  p.insert(p.end(), r.outputs[1]->data.begin(), r.outputs[1]->data.end());
  const mvts::Matrix& sg = *r.outputs[2];
  p.insert(p.end(), {sg.at(0, 0), sg.at(1, 0), sg.at(1, 1)});
  state.counters["loglik"] = varma_loglik(s, y, p);
  state.counters["gap_to_max"] = newton_gap(s, y, p);
}
BENCHMARK(BM_Varmafit_k2_T500)->Unit(benchmark::kMillisecond);

// ARFIMA(1, d, 1) with d = 0.3, phi = -0.5, theta = 0.3.
std::vector<double> arfima11(int n, unsigned seed) {
  return fit_test::arfima11(0.3, -0.5, 0.3, n, seed);
}

// Arguments: n, method (0 conditional sum of squares, 1 exact).
void BM_Farmafit(benchmark::State& state) {
  mvts::Session s;
  const int n = int(state.range(0)), method = int(state.range(1));
  const Value y = Value::column(arfima11(n, 7));
  mvts::CallResult r;
  for (auto _ : state) {
    r = s.call("FARMAFIT", {y, Value::scalar(1), Value::scalar(1), Value::scalar(method)});
    if (r.status != 0) state.SkipWithError("FARMAFIT failed");
  }
  if (r.status != 0) return;
  state.counters["d"] = r.outputs[0]->at(0, 0);
  state.counters["ar"] = r.outputs[1]->at(0, 0);
  state.counters["ma"] = r.outputs[2]->at(0, 0);
  state.counters["sigma2"] = r.outputs[3]->at(0, 0);
}
BENCHMARK(BM_Farmafit)
    ->Args({2000, 0})
    ->Args({10000, 0})
    ->Args({200, 1})
    ->Args({500, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
