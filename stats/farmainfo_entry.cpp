// FARMAINFO(series, d, phi, theta, sigma, p, q, opt, mean) -> hessian, cov:
// the Hessian of the log-likelihood of the ARFIMA(p, d, q) model
//   phi(B) (1 - B)^d (y_t - mean) = theta(B) e_t,  var(e_t) = sigma,
// in (d, phi as given, theta as given, sigma) at the given values, by
// Richardson-extrapolated central differences (module/farma/farma_info.hpp),
// and the covariance of the estimates, the inverse of minus the Hessian,
// only where minus the Hessian is positive definite and d is not at its
// bound (otherwise a note and no cov; the status stays 0).  With d at its
// bound the row and column of d are missing: the Hessian in the other
// parameters with d held.
#include <cstring>

#include "module/farma/farma_info.hpp"
#include "module/farma/farma_loglik.hpp"
#include "module/fit/hessian.hpp"
#include "stats/entries.hpp"
#include "stats/farma_stats.hpp"

namespace mvtsa {
namespace {

enum { kOpt = 7, kMean = 8 };

// The parameter vector x = (d, phi, theta, sigma^2) and the model's lags.
struct InfoArgs {
  FarmaStatsModel fm;
  FarmaInfoModel model;
  WorkBlock<int> ar_lags, ma_lags;
  WorkBlock<double> x;
  int m = 0;
};

int read_info_arguments(const ArgList& in, InfoArgs* a) {
  FarmaStatsModel& fm = a->fm;
  if (int st = farma_stats_model(in, &fm)) return st;
  FarmaInfoModel& md = a->model;
  if (int st = farma_stats_method(in, kOpt, &md.method)) return st;
  if (int st = farma_stats_check_d(in, fm.model.d, md.method)) return st;
  if (int st = farma_stats_mean(in, kMean, &md.mu)) return st;
  // Every coefficient at a lag of its own: each is a parameter.
  if (int st = farma_stats_coefficient_lags(in, kFsArLags, fm.np, "AR", &a->ar_lags, &md.P))
    return st;
  if (int st = farma_stats_coefficient_lags(in, kFsMaLags, fm.nq, "MA", &a->ma_lags, &md.Q))
    return st;
  md.y = fm.y;
  md.n = fm.n;
  md.ar_lags = a->ar_lags.data();
  md.na = fm.np;
  md.ma_lags = a->ma_lags.data();
  md.nm = fm.nq;
  a->m = 2 + fm.np + fm.nq;
  if (int st = a->x.allocate(std::uint64_t(a->m))) return st;
  double* x = a->x.data();
  x[0] = fm.model.d;
  for (int i = 0; i < fm.np; ++i) x[1 + i] = fm.phi.data[i];
  for (int i = 0; i < fm.nq; ++i) x[1 + fm.np + i] = fm.theta.data[i];
  x[a->m - 1] = fm.model.sigma2;
  return kStatusOk;
}

int farmainfo(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  InfoArgs a;
  if (int st = read_info_arguments(in, &a)) return st;
  const int m = a.m;
  const std::uint64_t mm = std::uint64_t(m) * std::uint64_t(m);
  WorkBlock<double> work(farma_info_work_size(a.model));
  if (!work) return work.status();
  WorkBlock<double> hc(2 * mm + std::uint64_t(information_work_size(m)));
  if (!hc) return hc.status();
  double* hess = hc.data();
  double* cov = hess + mm;
  int note = kInfoInterior;
  if (int st = farma_information(a.model, a.x.data(), hess, work.data(), &note))
    return farma_stats_failure(in, st);
  // cov only at an interior point where -H is positive definite.
  bool have_cov = false;
  if (note == kInfoNearBound)
    issue_message(kMsgFarmaNearBound, {a.x[0]});
  else if (information_covariance(hess, m, cov, cov + mm) != 0)
    issue_message(kMsgFarmaNotNegativeDefinite);
  else
    have_cov = true;
  double* out = create_result(1, m, m);
  if (!out) return kStatusHostError;
  std::memcpy(out, hess, sizeof(double) * mm);
  if (have_cov) {
    out = create_result(2, m, m);
    if (!out) return kStatusHostError;
    std::memcpy(out, cov, sizeof(double) * mm);
  }
  return kStatusOk;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t farmainfo_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::farmainfo(args, given); },
                          mvtsa::MissingByContract::kFarmainfo);
}
