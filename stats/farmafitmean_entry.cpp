// FARMAFITMEAN(series, p, q, opt) -> d, ar, ma, sigma, mean: FARMAFIT with
// the mean of the model estimated with it,
//   phi(B) (1 - B)^d (y_t - mean) = theta(B) e_t:
// the exact method (opt 1) profiles the GLS mean (1' G^-1 y) / (1' G^-1 1)
// exactly inside its objective, the conditional method (opt 0) removes the
// sample mean first.  The fit itself is FARMAFIT's (farmafit_call).
#include "module/farma/farmafit.hpp"
#include "stats/entries.hpp"

extern "C" std::int32_t farmafitmean_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry(
      [&] { return mvtsa::farmafit_call(args, given, mvtsa::FarmafitMean::kEstimate); },
      mvtsa::MissingByContract::kFarmafit);
}
