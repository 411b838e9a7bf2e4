// FDIF(series, d) -> n x 1 series (1 - B)^d x, its first value missing.
#include <algorithm>
#include <cmath>

#include "module/farma/farma_model.hpp"
#include "module/farma/frac_diff.hpp"
#include "module/frame/args.hpp"
#include "module/frame/entries.hpp"

namespace mvtsa {
namespace {

enum { kSeries = 0, kD = 1 };

// d must lie in (-(1 - 2^-26.5), 1 - 2^-26.5) and away from 0 by 2^-26.5.
inline constexpr double kDBound = kDBoundOne;

int fdif(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  // The series: any vector (or a single value), no missing values.
  if (!in.given(kSeries)) return kStatusNoValue;
  MatrixArg x;
  if (int st = in.fetch(kSeries, &x)) return st;
  if (std::min(x.rows, x.cols) != 1) return kStatusNotVector;
  if (has_missing(in.slot(kSeries))) return kStatusMissing;
  // d: a given 1 x 1 value.
  if (!in.given(kD)) return kStatusMissing;
  MatrixArg dm;
  if (int st = in.fetch(kD, &dm)) return st;
  if (std::max(dm.rows, dm.cols) != 1) return kStatusNotScalar;
  if (has_missing(in.slot(kD))) return kStatusMissing;
  const double d = dm.data[0];
  // d = 0 and |d| >= 1 - 2^-26.5 are refused.
  if (!(-kDBound < d && d < kDBound && std::fabs(d) > kCloseTol)) return fail_message(kMsgDRange);
  // The result, then the series anew.
  const std::int64_t n = x.length();
  double* out = create_result(1, static_cast<std::int32_t>(n), 1);
  if (!out) return kStatusHostError;
  x = in.refetch(kSeries);
  // Result, weights and the filter's scratch in one block: 3n doubles
  // below the FFT length, 8n to 9n from it on.
  WorkBlock<double> work(std::uint64_t(n) + std::uint64_t(frac_diff_work_size(n)));
  if (!work) return work.status();
  double* res = work.data();
  double* w = res + n;
  double* scratch = w + n;
  // The filter; on a gamma failure the result stays unfilled.
  if (frac_diff_filter(res, w, d, x.data, n, scratch) != 0) {
    issue_message(kMsgGammaFailed);
    return kStatusGammaFailed;
  }
  std::copy_n(res, n, out);
  return kStatusOk;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t fdif_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::fdif(args, given); },
                          mvtsa::MissingByContract::kFdif);
}
