// FARMASIM(d, phi, theta, mu, sigma, n, p, q, initial, seed) -> n x 1 series
// of an ARFIMA(p, d, q) process: fractional noise, then the ARMA filter.
#include <cmath>
#include <cstring>

#include "module/farma/arfima_autocov.hpp"
#include "module/farma/farma_model.hpp"
#include "module/farma/farma_roots.hpp"
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

// The checked inputs, the polynomials as 1 - phi_1 B - ... and
// 1 - theta_1 B - ...
struct SimInputs {
  double d = 0.0, mu = 0.0, sigma2 = 1.0, initial = 0.0, seed = 0.0;
  std::int64_t n = 100;
  FarmaPoly ar, ma;
};

// The fractional part as simulated: d - 1 from 1/2 on (the series summed
// afterwards), by the MA(infinity) weights for X <= -1/2, else by the
// Durbin-Levinson factor of the autocovariances; N = n + q values.
struct NoisePlan {
  bool summed = false;
  double X = 0.0;
  bool by_ma = false;
  std::int64_t N = 0;
  std::int64_t deviates = 0;  // N, plus the MA route's run-in
};

// d, phi, theta, mu, sigma, n, the lag lists (the series longer than the AR
// order), initial and seed, each checked as it is read, in this order.
int read_inputs(const ArgList& in, SimInputs* s) {
  if (int st = farma_d_arg(in, kD, kDBoundOne, &s->d)) return st;
  MatrixArg phi, theta;
  int np = 0, nq = 0;
  if (int st = farma_coef_arg(in, kPhi, &phi, &np)) return st;
  if (int st = farma_coef_arg(in, kTheta, &theta, &nq)) return st;
  if (in.given(kMu))
    if (int st = farma_scalar_arg(in, kMu, &s->mu)) return st;
  if (in.given(kSigma))
    if (int st = farma_sigma_arg(in, kSigma, &s->sigma2)) return st;
  if (in.given(kN))
    if (int st = in.whole_number(kN, &s->n)) return st;
  if (int st = farma_polynomial(in, kArLags, phi.data, np, "AR", &s->ar)) return st;
  if (s->ar.order >= s->n) return fail_message(kMsgSimTooShort);
  if (int st = farma_polynomial(in, kMaLags, theta.data, nq, "MA", &s->ma)) return st;
  if (in.given(kInitial))
    if (int st = farma_scalar_arg(in, kInitial, &s->initial)) return st;
  if (in.given(kSeed))
    if (int st = in.seed(kSeed, &s->seed)) return st;
  farma_negate(&s->ar);
  farma_negate(&s->ma);
  return kStatusOk;
}

NoisePlan plan_noise(const SimInputs& s) {
  NoisePlan plan;
  plan.summed = s.d >= kDBoundHalf;
  plan.X = plan.summed ? s.d - 1.0 : s.d;
  plan.by_ma = plan.X <= -0.5;
  plan.N = s.n + s.ma.order;
  plan.deviates = plan.by_ma ? plan.N + kFracMaTerms : plan.N;
  return plan;
}

// Starts the stream, draws the deviates (scaled by sigma) and makes the
// fractional noise x (plan.N values, allocated here).
int fractional_noise(const SimInputs& s, const NoisePlan& plan, WorkBlock<double>* x) {
  std::uint32_t* seed_var = nullptr;
  if (int st = rng_start(Stream::kFarmasim, s.seed, &seed_var)) return st;
  // x, y and the result are live together at the end: checked before the work.
  if (int st = check_room({doubles(plan.N), doubles(s.n), doubles(s.n)})) return st;
  WorkBlock<double> z{std::uint64_t(plan.deviates)};
  if (!z) return z.status();
  if (int st = x->allocate(std::uint64_t(plan.N))) return st;
  rng_normal_fill(seed_var, z.data(), plan.deviates);
  if (s.sigma2 != 1.0) {
    const double sigma = std::sqrt(s.sigma2);
    for (std::int64_t i = 0; i < plan.deviates; ++i) z[i] *= sigma;
  }
  if (plan.by_ma) {
    if (frac_noise_ma(x->data(), z.data(), plan.N, plan.X) != 0)
      return fail_message(kMsgGammaFailed);
    return kStatusOk;
  }
  WorkBlock<double> dl(frac_noise_work_size(plan.N));
  if (!dl) return dl.status();
  if (frac_noise_cholesky(x->data(), z.data(), plan.N, plan.X, dl.data()) != 0)
    return fail_message(kMsgGammaFailed);
  return kStatusOk;
}

// y_t = x_(t+q) - sum theta_j x_(t+q-j): the filter without an AR part.
void ma_filter(const SimInputs& s, const double* x, double* y) {
  const int q = s.ma.order;
  for (std::int64_t t = 0; t < s.n; ++t) {
    double s_t = x[t + q];
    for (int j = 1; j <= q; ++j) s_t += s.ma.coef[j] * x[t + q - j];
    y[t] = s_t;
  }
}

// The ARMA filter with an AR part: a stationary start-up from the ARMA
// autocovariances gamma(0..p) when every AR root lies outside the unit
// circle, else fixed start values.  *status: a root finder that failed
// other than by giving up leaves the series standing but the call reports
// it (status 1).
int arma_filter(const SimInputs& s, double* x, double* y, int* status) {
  const int p = s.ar.order, q = s.ma.order;
  const std::int64_t n = s.n;
  WorkBlock<double> roots(std::uint64_t(2 * std::int64_t(p) + farma_roots_work_size(p)));
  if (!roots) return roots.status();
  bool complex_roots = false;
  const int code = farma_ar_roots(s.ar.coef.data(), p, roots.data(),
                                  roots.data() + 2 * std::int64_t(p), &complex_roots);
  if (code == kPolyRootsCancelled) return cancelled();
  if (farma_root_check(roots.data(), p) != 0) {
    // Unit or explosive roots, or repeated roots: fixed start values.
    if (arma_filter_fixed(y, x, n, p, q, s.ar.coef.data(), s.ma.coef.data(), s.initial) != 0)
      return fail_message(kMsgSimOverflow);
    if (code != kPolyRootsOk && code != kPolyRootsNoConvergence) *status = kStatusHostError;
    return kStatusOk;
  }
  WorkBlock<double> g(std::uint64_t(p) + 1);
  if (!g) return g.status();
  WorkBlock<double> acov(std::uint64_t(arfima_autocov_work_size(p, q, p)));
  if (!acov) return acov.status();
  if (int st = arfima_autocov(g.data(), p, 0.0, p, q, s.ma.coef.data(), s.ar.coef.data(),
                              roots.data(), complex_roots, acov.data())) {
    issue_message(st);
    return st;
  }
  WorkBlock<double> start(std::uint64_t(arma_start_work_size(p, q)));
  if (!start) return start.status();
  arma_start_stationary(y, x, n, p, q, s.ar.coef.data(), s.ma.coef.data(), g.data(),
                        start.data());
  return kStatusOk;
}

// One summation for d >= 1/2 (from the initial value), then the mean.
void finish_series(const SimInputs& s, const NoisePlan& plan, double* y) {
  if (plan.summed) {
    double acc = s.initial;
    for (std::int64_t t = 0; t < s.n; ++t) {
      acc += y[t];
      y[t] = acc;
    }
  }
  if (s.mu != 0.0)
    for (std::int64_t t = 0; t < s.n; ++t) y[t] += s.mu;
}

int farmasim(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  SimInputs s;
  if (int st = read_inputs(in, &s)) return st;
  const NoisePlan plan = plan_noise(s);
  WorkBlock<double> x;
  if (int st = fractional_noise(s, plan, &x)) return st;
  WorkBlock<double> y{std::uint64_t(s.n)};
  if (!y) return y.status();
  int status = kStatusOk;
  if (s.ar.order == 0) {
    ma_filter(s, x.data(), y.data());
  } else if (int st = arma_filter(s, x.data(), y.data(), &status)) {
    return st;
  }
  finish_series(s, plan, y.data());
  double* out = create_result(1, static_cast<std::int32_t>(s.n), 1);
  if (!out) return kStatusHostError;
  std::memcpy(out, y.data(), sizeof(double) * std::size_t(s.n));
  return status;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t farmasim_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::farmasim(args, given); });
}
