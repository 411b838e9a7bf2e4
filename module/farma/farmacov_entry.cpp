// FARMACOV(d, phi, theta, sigma, p, q, lag) -> (lag + 1) x 1 autocovariances
// gamma(0..lag) of a stationary ARFIMA(p, d, q) process.
#include <cmath>

#include "module/farma/arfima_autocov.hpp"
#include "module/farma/farma_model.hpp"
#include "module/farma/farma_roots.hpp"
#include "module/frame/entries.hpp"
#include "module/frame/room.hpp"

namespace mvtsa {
namespace {

enum { kD = 0, kPhi = 1, kTheta = 2, kSigma = 3, kArLags = 4, kMaLags = 5, kLag = 6 };

int farmacov(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  // d, phi, theta, sigma, and the polynomials from the lag lists with
  // small trailing terms dropped.
  FarmaModel model;
  if (int st = farma_model_args(in, {kD, kPhi, kTheta, kSigma, kArLags, kMaLags}, kDBoundHalf,
                                &model))
    return st;
  const double d = model.d, sigma2 = model.sigma2;
  FarmaPoly& ar = model.ar;
  FarmaPoly& ma = model.ma;
  const int p = ar.order, q = ma.order;
  // AR roots: inside the unit circle and distinct.
  farma_negate(&ar);
  WorkBlock<double> roots(std::uint64_t(2 * std::int64_t(p) + farma_roots_work_size(p)));
  if (!roots) return roots.status();
  bool complex_roots = false;
  if (p > 0) {
    if (farma_ar_roots(ar.coef.data(), p, roots.data(), roots.data() + 2 * std::int64_t(p),
                       &complex_roots) == kPolyRootsCancelled)
      return cancelled();
    if (int st = farma_root_check(roots.data(), p)) return fail_message(st);
  }
  // The MA polynomial 1 - theta_1 B - ...
  farma_negate(&ma);
  // lag (12 when absent); the result has lag + 1 rows, which must fit a
  // 32-bit count: lag = kMaxCount is a valid whole number whose result the
  // host cannot be asked for.
  std::int64_t lag = 12;
  if (in.given(kLag))
    if (int st = in.whole_number(kLag, &lag)) return st;
  if (lag + 1 > kMaxCount) return result_rows_exceeded();
  // The result and the work space, checked together before either is made.
  if (int st = check_room({doubles(lag + 1), doubles(arfima_autocov_work_size(p, q, lag))}))
    return st;
  double* out = create_result(1, static_cast<std::int32_t>(lag + 1), 1);
  if (!out) return kStatusHostError;
  WorkBlock<double> work(std::uint64_t(arfima_autocov_work_size(p, q, lag)));
  if (!work) return work.status();
  // gamma(0..lag), written into the result, scaled by sigma^2.
  if (int st = arfima_autocov(out, lag, d, p, q, ma.coef.data(), ar.coef.data(), roots.data(),
                              complex_roots, work.data())) {
    issue_message(st);
    return st;
  }
  if (sigma2 != 1.0)
    for (std::int64_t k = 0; k <= lag; ++k) out[k] *= sigma2;
  return kStatusOk;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t farmacov_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::farmacov(args, given); });
}
