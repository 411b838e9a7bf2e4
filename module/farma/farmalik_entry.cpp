// FARMALIK(series, d, phi, theta, sigma, p, q, opt) -> 3 x 1: the ARFIMA
// log-likelihood by the exact method (opt = 1, |d| < 1/2) or the
// conditional sum of squares method, with ln det Sigma and y' Sigma^-1 y.
#include <cmath>
#include <cstring>

#include "module/farma/farma_loglik.hpp"
#include "module/farma/farma_model.hpp"
#include "module/frame/entries.hpp"

namespace mvtsa {
namespace {

enum {
  kSeries = 0, kD = 1, kPhi = 2, kTheta = 3, kSigma = 4, kArLags = 5, kMaLags = 6, kOpt = 7
};

int farmalik(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  // The series: a vector without missing values.
  if (!in.given(kSeries)) return kStatusNoValue;
  MatrixArg y;
  if (int st = in.fetch(kSeries, &y)) return st;
  if ((y.rows != 1 && y.cols != 1) || y.size() < 1) return kStatusNotVector;
  if (has_missing(in.slot(kSeries))) return kStatusMissing;
  const std::int64_t n = y.length();
  // d, phi, theta, sigma and the polynomials.
  FarmaModel model;
  if (int st = farma_model_args(in, {kD, kPhi, kTheta, kSigma, kArLags, kMaLags}, kDBoundOne,
                                &model))
    return st;
  const double d = model.d, sigma2 = model.sigma2;
  FarmaPoly& ar = model.ar;
  FarmaPoly& ma = model.ma;
  // opt in [0, 1]; 1 (truncated) selects the exact method, which needs |d| < 1/2.
  double opt = 0.0;
  if (in.given(kOpt)) {
    if (int st = farma_scalar_arg(in, kOpt, &opt)) return st;
    if (opt < 0.0 || opt > 1.0) return kStatusRange;
  }
  const int method =
      std::trunc(opt) == 1.0 && std::fabs(d) < kDBoundHalf ? kFarmaExact : kFarmaCss;
  // The polynomials as 1 - phi_1 B - ... and 1 - theta_1 B - ...
  farma_negate(&ar);
  farma_negate(&ma);
  // The result, the series fetched again, the work space.
  double* out = create_result(1, 3, 1);
  if (!out) return kStatusHostError;
  const MatrixArg y2 = in.refetch(kSeries);
  WorkBlock<double> work(farma_loglik_work_size(n, ar.order, ma.order, method));
  if (!work) return work.status();
  // The likelihood; a kernel failure is its message.
  if (int st = farma_loglik(work.data(), y2.data, n, d, ar.order, ma.order, ar.coef.data(),
                            ma.coef.data(), sigma2, method)) {
    issue_message(st);
    return st;
  }
  std::memcpy(out, work.data(), 3 * sizeof(double));
  return kStatusOk;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t farmalik_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::farmalik(args, given); },
                          mvtsa::MissingByContract::kFarmalik);
}
