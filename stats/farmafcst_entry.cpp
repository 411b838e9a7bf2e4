// FARMAFCST(series, d, phi, theta, sigma, p, q, h, mean, level) -> forecast,
// mse, interval: the exact finite-sample best linear predictor of
// y(n+1..n+h) from the whole series under the ARFIMA(p, d, q) model
//   phi(B) (1 - B)^d (y_t - mean) = theta(B) e_t,  var(e_t) = sigma,
// its mean squared errors and the `level` normal prediction intervals
// forecast -+ z sqrt(mse), z the upper (1 - level)/2 quantile.
#include <cmath>
#include <cstring>

#include "module/farma/farma_loglik.hpp"
#include "module/farma/farma_predict.hpp"
#include "module/fit/normal_quantile.hpp"
#include "stats/entries.hpp"
#include "stats/farma_stats.hpp"

namespace mvtsa {
namespace {

enum { kH = 7, kMean = 8, kLevel = 9 };

// The default coverage of the intervals.
constexpr double kDefaultLevel = 0.95;

int farmafcst(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  // The model, d within the exact method's range.
  FarmaStatsModel fm;
  if (int st = farma_stats_model(in, &fm)) return st;
  if (int st = farma_stats_check_d(in, fm.model.d, kFarmaExact)) return st;
  // h (a whole number >= 1, 1 when omitted), the mean, the level in (0, 1).
  std::int64_t h = 1;
  if (in.given(kH))
    if (int st = in.whole_number(kH, &h)) return st;
  double mean = 0.0, level = kDefaultLevel;
  if (int st = farma_stats_mean(in, kMean, &mean)) return st;
  if (in.given(kLevel)) {
    if (int st = farma_scalar_arg(in, kLevel, &level)) return st;
    if (!(level > 0.0 && level < 1.0)) return kStatusRange;
  }
  // The kernel's work space and results.
  const FarmaModel& m = fm.model;
  WorkBlock<double> work(farma_forecast_work_size(fm.n, h, m.ar.order, m.ma.order));
  if (!work) return work.status();
  WorkBlock<double> fc(2 * std::uint64_t(h));
  if (!fc) return fc.status();
  double* f = fc.data();
  double* mse = f + h;
  if (int st = farma_forecast(work.data(), fm.y, fm.n, mean, h, m.d, m.ar.order, m.ma.order,
                              m.ar.coef.data(), m.ma.coef.data(), m.sigma2, f, mse))
    return farma_stats_failure(in, st);
  // forecast, mse, interval (lower, upper by rows).
  const double z = normal_upper_quantile(0.5 * (1.0 - level));
  double* out = create_result(1, std::int32_t(h), 1);
  if (!out) return kStatusHostError;
  std::memcpy(out, f, sizeof(double) * std::size_t(h));
  out = create_result(2, std::int32_t(h), 1);
  if (!out) return kStatusHostError;
  std::memcpy(out, mse, sizeof(double) * std::size_t(h));
  out = create_result(3, std::int32_t(h), 2);
  if (!out) return kStatusHostError;
  for (std::int64_t k = 0; k < h; ++k) {
    const double half = z * std::sqrt(mse[k]);
    out[2 * k] = f[k] - half;
    out[2 * k + 1] = f[k] + half;
  }
  return kStatusOk;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t farmafcst_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::farmafcst(args, given); });
}
