// VARMAFCST(series, phi, theta, sigma, p, q, h, mean, level) -> forecast
// (h x k), mse ((h k) x k: the MSE matrices stacked by horizon), interval
// (h x 2k: the k lower bounds, then the k upper bounds): the Kalman filter
// over the whole series, then the h-step predictions (varma_forecast.hpp).
#include <cstring>

#include "module/fit/normal_quantile.hpp"
#include "module/varma/varma_forecast.hpp"
#include "stats/entries.hpp"
#include "stats/varma_inputs.hpp"

namespace mvtsa {
namespace {

enum { kHorizon = 6, kMean = 7, kLevel = 8 };

// The default level of the prediction intervals.
constexpr double kDefaultLevel = 0.95;

// level: a scalar strictly between 0 and 1 (message 414 otherwise).
int read_level(const ArgList& in, double* level) {
  *level = kDefaultLevel;
  if (!in.given(kLevel)) return kStatusOk;
  MatrixArg m;
  if (int st = in.fetch(kLevel, &m)) return st;
  if (m.size() != 1) return kStatusNotScalar;
  if (has_missing(in.slot(kLevel))) return kStatusMissing;
  if (!(m.data[0] > 0.0 && m.data[0] < 1.0)) return fail_message(kMsgStatsLevel);
  *level = m.data[0];
  return kStatusOk;
}

// Creates output `output` (rows x cols) and copies `values` into it.
int put(int output, std::int64_t rows, std::int64_t cols, const double* values) {
  double* out = create_result(output, static_cast<std::int32_t>(rows),
                              static_cast<std::int32_t>(cols));
  if (!out) return kStatusHostError;
  std::memcpy(out, values, sizeof(double) * std::size_t(rows * cols));
  return kStatusOk;
}

int varmafcst(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  VarmaInputs v;
  if (int st = read_varma_model(in, &v)) return st;
  std::int64_t h = 0;
  if (!in.given(kHorizon)) return kStatusNoValue;
  if (int st = in.whole_number(kHorizon, &h)) return st;
  if (int st = read_varma_mean(in, kMean, &v)) return st;
  double level = 0.0;
  if (int st = read_level(in, &level)) return st;
  const std::int64_t k = v.k;
  if (h * k > kMaxCount) return result_rows_exceeded();

  const std::uint64_t hk = checked_mul(std::uint64_t(h), std::uint64_t(k));
  WorkBlock<double> forecast(hk), mse(checked_mul(hk, std::uint64_t(k))),
      interval(checked_mul(hk, 2));
  if (!forecast) return forecast.status();
  if (!mse) return mse.status();
  if (!interval) return interval.status();
  WorkBlock<double> work(varma_forecast_work(v.k, v.pmax, v.qmax));
  if (!work) return work.status();
  if (int st = varma_outcome_status(varma_forecast(v.params(), v.series.data(), v.T, h,
                                                   v.mean.data(), forecast.data(), mse.data(),
                                                   work.data())))
    return st;
  varma_forecast_interval(forecast.data(), mse.data(), h, v.k,
                          normal_upper_quantile(0.5 - 0.5 * level), interval.data());

  if (int st = put(1, h, k, forecast.data())) return st;
  if (int st = put(2, h * k, k, mse.data())) return st;
  return put(3, h, 2 * k, interval.data());
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t varmafcst_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::varmafcst(args, given); });
}
