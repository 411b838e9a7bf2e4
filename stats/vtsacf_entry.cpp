// VTSACF(series, lag) -> cov, corr: the sample auto- and cross-covariances
// C(0) .. C(lag) of a T x k series and its correlations, each
// ((lag+1) k) x k with rows h k .. h k + k - 1 holding lag h, the layout of
// VARMACOV.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/frame/args.hpp"
#include "module/varma/sample_cov.hpp"
#include "stats/entries.hpp"

namespace mvtsa {
namespace {

enum { kSeries = 0, kLag = 1 };

// The message of a lag that is not below the length of the series.
inline constexpr int kMsgLagBeyondSeries = 420;

// The default lag: 10 log10(T) cut to a whole number, below T.
std::int64_t default_lag(std::int64_t T) {
  const auto lag = static_cast<std::int64_t>(std::floor(10 * std::log10(double(T))));
  return std::max<std::int64_t>(1, std::min(lag, T - 1));
}

int vtsacf(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  // The series: a vector is one variable; a T x k matrix has k variables.
  // At least two observations and no missing value.
  if (!in.given(kSeries)) return kStatusNoValue;
  MatrixArg y;
  if (int st = in.fetch(kSeries, &y)) return st;
  if (y.size() == 0) return fail_message(kMsgDimension);
  if (has_missing(in.slot(kSeries))) return kStatusMissing;
  const bool vector = y.rows == 1 || y.cols == 1;
  const int k = vector ? 1 : y.cols;
  const std::int64_t T = vector ? y.length() : y.rows;
  if (T < 2) return fail_message(kMsgTooFewObservations);
  std::int64_t lag = default_lag(T);
  if (in.given(kLag))
    if (int st = in.whole_number(kLag, &lag)) return st;
  if (lag >= T) return fail_message(kMsgLagBeyondSeries, {lag, T});
  const std::int64_t rows = std::int64_t(k) * (lag + 1);
  if (rows > kMaxCount) return result_rows_exceeded();
  const std::uint64_t size = checked_mul(std::uint64_t(rows), std::uint64_t(k));
  WorkBlock<double> cov(size), corr(size), mean{std::uint64_t(k)};
  if (!cov) return cov.status();
  if (!corr) return corr.status();
  if (!mean) return mean.status();
  WorkBlock<double> work(checked_mul(std::uint64_t(T), std::uint64_t(k)));
  if (!work) return work.status();
  if (!sample_cov(y.data, T, k, lag, mean.data(), cov.data(), work.data())) return cancelled();
  sample_corr(cov.data(), k, lag, corr.data());
  double* out_cov = create_result(1, static_cast<std::int32_t>(rows), k);
  if (!out_cov) return kStatusHostError;
  std::memcpy(out_cov, cov.data(), size * sizeof(double));
  double* out_corr = create_result(2, static_cast<std::int32_t>(rows), k);
  if (!out_corr) return kStatusHostError;
  std::memcpy(out_corr, corr.data(), size * sizeof(double));
  return kStatusOk;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t vtsacf_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::vtsacf(args, given); });
}
