// FARMASIM(d, phi, theta, mu, sigma, n, p, q, initial, seed) -> n x 1 series
// of an ARFIMA(p, d, q) process: fractional noise, then the ARMA filter.
#include <cmath>
#include <cstring>

#include "module/farma/arfima_autocov.hpp"
#include "module/farma/farma_model.hpp"
#include "module/farma/farma_sim.hpp"
#include "module/farma/frac_diff.hpp"
#include "module/farma/poly_roots.hpp"
#include "module/frame/entries.hpp"
#include "module/frame/room.hpp"
#include "module/frame/rng.hpp"

namespace mvtsa {
namespace {

enum {
  kD = 0, kPhi = 1, kTheta = 2, kMu = 3, kSigma = 4, kN = 5, kArLags = 6, kMaLags = 7,
  kInitial = 8, kSeed = 9
};

int farmasim(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  // d, phi, theta, mu, sigma and n, each checked as it is read.
  double d = 0.0;
  if (int st = farma_d_arg(in, kD, kDBoundOne, &d)) return st;
  MatrixArg phi, theta;
  int np = 0, nq = 0;
  if (int st = farma_coef_arg(in, kPhi, &phi, &np)) return st;
  if (int st = farma_coef_arg(in, kTheta, &theta, &nq)) return st;
  double mu = 0.0, sigma2 = 1.0;
  if (in.given(kMu))
    if (int st = farma_scalar_arg(in, kMu, &mu)) return st;
  if (in.given(kSigma))
    if (int st = farma_sigma_arg(in, kSigma, &sigma2)) return st;
  std::int64_t n = 100;
  if (in.given(kN))
    if (int st = in.whole_number(kN, &n)) return st;
  // The polynomials; the series must be longer than the AR order.
  FarmaPoly ar, ma;
  if (int st = farma_polynomial(in, kArLags, phi.data, np, "AR", &ar)) return st;
  if (ar.order >= n) return fail_message(kMsgSimTooShort);
  if (int st = farma_polynomial(in, kMaLags, theta.data, nq, "MA", &ma)) return st;
  const int p = ar.order, q = ma.order;
  // The initial value and the seed.
  double initial = 0.0, seed = 0.0;
  if (in.given(kInitial))
    if (int st = farma_scalar_arg(in, kInitial, &initial)) return st;
  if (in.given(kSeed))
    if (int st = in.seed(kSeed, &seed)) return st;
  // The polynomials as 1 - phi_1 B - ... and 1 - theta_1 B - ...
  farma_negate(&ar);
  farma_negate(&ma);

  // The fractional parameter simulated: d - 1 from 1/2 on (summed afterwards).
  const bool summed = d >= kDBoundHalf;
  const double X = summed ? d - 1.0 : d;
  const bool by_ma = X <= -0.5;
  const std::int64_t N = n + q;
  const std::int64_t ndev = by_ma ? N + kFracMaTerms : N;

  // The stream, then the deviates (scaled by sigma).
  std::uint32_t* seed_var = nullptr;
  if (int st = rng_start(Stream::kFarmasim, seed, &seed_var)) return st;
  // x, y and the result are live together at the end: checked before the work.
  if (int st = check_room({doubles(N), doubles(n), doubles(n)})) return st;
  WorkBlock<double> z{std::uint64_t(ndev)};
  if (!z) return z.status();
  WorkBlock<double> x{std::uint64_t(N)};
  if (!x) return x.status();
  rng_normal_fill(seed_var, z.data(), ndev);
  if (sigma2 != 1.0) {
    const double sigma = std::sqrt(sigma2);
    for (std::int64_t i = 0; i < ndev; ++i) z[i] *= sigma;
  }

  // Fractional noise x (N values).
  if (by_ma) {
    if (frac_noise_ma(x.data(), z.data(), N, X) != 0) return fail_message(kMsgGammaFailed);
  } else {
    WorkBlock<double> dl(frac_noise_work_size(N));
    if (!dl) return dl.status();
    if (frac_noise_cholesky(x.data(), z.data(), N, X, dl.data()) != 0)
      return fail_message(kMsgGammaFailed);
  }
  z.reset();

  // The ARMA filter.
  WorkBlock<double> y{std::uint64_t(n)};
  if (!y) return y.status();
  int status = kStatusOk;
  if (p == 0) {
    // y_t = x_(t+q) - sum theta_j x_(t+q-j)
    for (std::int64_t t = 0; t < n; ++t) {
      double s = x[t + q];
      for (int j = 1; j <= q; ++j) s += ma.coef[j] * x[t + q - j];
      y[t] = s;
    }
  } else {
    WorkBlock<double> roots(std::uint64_t(2 * std::int64_t(p) + farma_roots_work_size(p)));
    if (!roots) return roots.status();
    bool complex_roots = false;
    const int code = farma_ar_roots(ar.coef.data(), p, roots.data(),
                                    roots.data() + 2 * std::int64_t(p), &complex_roots);
    if (code == kPolyRootsCancelled) return cancelled();
    if (farma_root_check(roots.data(), p) == 0) {
      // Stationary start-up from the ARMA autocovariances gamma(0..p).
      WorkBlock<double> g(std::uint64_t(p) + 1);
      if (!g) return g.status();
      WorkBlock<double> acov(std::uint64_t(arfima_autocov_work_size(p, q, p)));
      if (!acov) return acov.status();
      if (int st = arfima_autocov(g.data(), p, 0.0, p, q, ma.coef.data(), ar.coef.data(),
                                  roots.data(), complex_roots, acov.data())) {
        issue_message(st);
        return st;
      }
      WorkBlock<double> start(std::uint64_t(arma_start_work_size(p, q)));
      if (!start) return start.status();
      arma_start_stationary(y.data(), x.data(), n, p, q, ar.coef.data(), ma.coef.data(),
                            g.data(), start.data());
    } else {
      // Unit or explosive roots, or repeated roots: fixed start values.
      if (arma_filter_fixed(y.data(), x.data(), n, p, q, ar.coef.data(), ma.coef.data(),
                            initial) != 0)
        return fail_message(kMsgSimOverflow);
      // A root finder that failed other than by giving up: the series stands,
      // but the call reports it.
      if (code != kPolyRootsOk && code != kPolyRootsNoConvergence) status = kStatusHostError;
    }
  }

  // Finishing: one summation for d >= 1/2, then the mean.
  if (summed) {
    double acc = initial;
    for (std::int64_t t = 0; t < n; ++t) {
      acc += y[t];
      y[t] = acc;
    }
  }
  if (mu != 0.0)
    for (std::int64_t t = 0; t < n; ++t) y[t] += mu;
  double* out = create_result(1, static_cast<std::int32_t>(n), 1);
  if (!out) return kStatusHostError;
  std::memcpy(out, y.data(), sizeof(double) * std::size_t(n));
  return status;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t farmasim_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::farmasim(args, given); });
}
