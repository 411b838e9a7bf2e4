// FARMARES(series, d, phi, theta, sigma, p, q, opt, mean) -> resid, var: the
// standardised one-step innovations of the ARFIMA(p, d, q) model
//   phi(B) (1 - B)^d (y_t - mean) = theta(B) e_t,  var(e_t) = sigma,
// and their variances: opt 1 exact (the Durbin-Levinson recursion of the
// exact likelihood: a_t / sqrt(v_t), v_t), opt 0 conditional (the filter of
// the conditional likelihood: e_t / sqrt(sigma), sigma).
#include <cstring>

#include "module/farma/farma_loglik.hpp"
#include "module/farma/farma_predict.hpp"
#include "stats/entries.hpp"
#include "stats/farma_stats.hpp"

namespace mvtsa {
namespace {

enum { kOpt = 7, kMean = 8 };

int farmares(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  FarmaStatsModel fm;
  if (int st = farma_stats_model(in, &fm)) return st;
  int method = kFarmaCss;
  if (int st = farma_stats_method(in, kOpt, &method)) return st;
  if (int st = farma_stats_check_d(in, fm.model.d, method)) return st;
  double mean = 0.0;
  if (int st = farma_stats_mean(in, kMean, &mean)) return st;
  const FarmaModel& m = fm.model;
  const std::uint64_t n = std::uint64_t(fm.n);
  WorkBlock<double> work(farma_residuals_work_size(fm.n, m.ar.order, m.ma.order, method));
  if (!work) return work.status();
  WorkBlock<double> rv(2 * n);
  if (!rv) return rv.status();
  if (int st = farma_residuals(work.data(), fm.y, fm.n, mean, m.d, m.ar.order, m.ma.order,
                               m.ar.coef.data(), m.ma.coef.data(), m.sigma2, method, rv.data(),
                               rv.data() + n))
    return farma_stats_failure(in, st);
  for (int o = 0; o < 2; ++o) {
    double* out = create_result(1 + o, std::int32_t(n), 1);
    if (!out) return kStatusHostError;
    std::memcpy(out, rv.data() + o * n, sizeof(double) * n);
  }
  return kStatusOk;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t farmares_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::farmares(args, given); });
}
