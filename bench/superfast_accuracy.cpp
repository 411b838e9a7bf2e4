// The superfast route of the exact likelihood (superfast_toeplitz.hpp)
// against Durbin-Levinson in double and in long double, over a grid of
// ARFIMA models: d across (-0.49, 0.49), AR roots up to 0.99, complex pairs,
// MA roots near the unit circle.  Prints one row per model and n: the
// relative errors of the log-likelihood -(q + ln det)/2, the route's checks
// and whether it declines; the table of bench/superfast_toeplitz.md.
// Usage: bench_superfast_accuracy [n ...] [--wide N] [--dl N]  (long
// double Durbin-Levinson up to n = N, default 20000; double
// Durbin-Levinson up to n = N, default 200000: beyond, only the checks).
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/farma/long_series.hpp"
#include "host/host.hpp"
#include "module/farma/farma_loglik.hpp"
#include "module/farma/superfast_toeplitz.hpp"
#include "module/frame/host.hpp"
#include "tests/farma/dense_reference.hpp"

namespace {

struct Model {
  std::string name;
  double d;
  std::vector<double> phi;    // AR coefficients phi_1..phi_p
  std::vector<double> theta;  // MA coefficients theta_1..theta_q
};

// (1 - r e^(iw) B)(1 - r e^(-iw) B) = 1 - 2 r cos w B + r^2 B^2
std::vector<double> pair_phi(double r, double w) { return {2 * r * std::cos(w), -r * r}; }

std::vector<Model> grid() {
  std::vector<Model> g;
  for (double d : {-0.49, -0.3, 0.0, 0.2, 0.4, 0.45, 0.49}) {
    const std::string ds = "d=" + std::to_string(d).substr(0, 5);
    g.push_back({ds, d, {}, {}});
    for (double r : {0.5, 0.9, 0.99, -0.9, -0.99})
      g.push_back({ds + " ar=" + std::to_string(r).substr(0, 5), d, {r}, {}});
    g.push_back({ds + " pair 0.95/60deg", d, pair_phi(0.95, M_PI / 3), {}});
    g.push_back({ds + " pair 0.99/10deg", d, pair_phi(0.99, M_PI / 18), {}});
    for (double t : {0.9, 0.99, -0.99})
      g.push_back({ds + " ma=" + std::to_string(t).substr(0, 5), d, {}, {t}});
    g.push_back({ds + " ar=0.9 ma=0.99", d, {0.9}, {0.99}});
  }
  return g;
}

}  // namespace

int main(int argc, char** argv) {
  mvts::Host host;
  host.activate();
  mvtsa::set_host_table(host.table());
  std::vector<std::int64_t> sizes;
  std::int64_t wide_max = 20000, dl_max = 200000;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--wide") == 0 && i + 1 < argc) wide_max = std::atoll(argv[++i]);
    else if (std::strcmp(argv[i], "--dl") == 0 && i + 1 < argc) dl_max = std::atoll(argv[++i]);
    else sizes.push_back(std::atoll(argv[i]));
  }
  if (sizes.empty()) sizes = {4096, 20000};
  std::printf("%-26s %8s %10s %10s %9s %9s %9s %s\n", "model", "n", "err_DL", "err_wide",
              "growth", "pred_res", "quad_err", "route");
  int rows = 0, declined = 0;
  for (std::int64_t n : sizes)
    for (const Model& m : grid()) {
      const int p = int(m.phi.size()), q = int(m.theta.size());
      std::vector<double> ar(p + 1, 1.0), ma(q + 1, 1.0), gamma(n);
      for (int j = 0; j < p; ++j) ar[j + 1] = -m.phi[j];
      for (int j = 0; j < q; ++j) ma[j + 1] = -m.theta[j];
      std::vector<double> gw(mvtsa::farma_model_gamma_work_size(n - 1, p, q));
      if (mvtsa::farma_model_gamma(gamma.data(), n - 1, m.d, p, q, ar.data(), ma.data(), 1.0,
                                   gw.data()) != 0) {
        std::printf("%-26s %8lld gamma failed\n", m.name.c_str(), (long long)n);
        continue;
      }
      const auto y = farma_test::arfima_series(m.d, m.phi, m.theta, n, 11);
      std::vector<double> w(mvtsa::superfast_work_size(n));
      double ld_s = 0, q_s = 0, v_s = 0, ld_d = 0, q_d = 0;
      mvtsa::SuperfastChecks c;
      const int st = mvtsa::toeplitz_superfast(gamma.data(), y.data(), n, w.data(), &ld_s, &q_s,
                                               &v_s, &c);
      const int sd = n <= dl_max ? mvtsa::toeplitz_loglik_levinson(gamma.data(), y.data(), n,
                                                                    w.data(), &ld_d, &q_d)
                                 : -2;
      const double L_s = -(ld_s + q_s) / 2, L_d = -(ld_d + q_d) / 2;
      double err_w = NAN;
      if (n <= wide_max) {
        double ld_w = 0, q_w = 0;
        farma_test::wide_toeplitz_loglik(gamma, y, &ld_w, &q_w);
        const double L_w = -(ld_w + q_w) / 2;
        err_w = std::fabs(L_s - L_w) / std::fabs(L_w);
      }
      const char* route = st == 0                           ? "superfast"
                          : st == mvtsa::kSuperfastDeclined ? "DECLINED"
                                                            : "status";
      ++rows;
      if (st == mvtsa::kSuperfastDeclined) ++declined;
      std::printf("%-26s %8lld %10.2e %10.2e %9.2e %9.2e %9.2e %s %d/%d\n", m.name.c_str(),
                  (long long)n, sd == 0 ? std::fabs(L_s - L_d) / std::fabs(L_d) : NAN, err_w,
                  c.generator_growth, c.predictor_residual, c.quad_error, route, st, sd);
      std::fflush(stdout);
    }
  std::printf("declined %d of %d\n", declined, rows);
  return 0;
}
