// What VARMAFCST, VARMARES and VARMAINFO share: their first six inputs
// (series, phi, theta, sigma, p, q, read as VARMALIK reads them), the mean,
// their message numbers and the statuses of the filter's outcomes.
//
// Model (k variables, mean mu):
//   Y(t) - mu - sum_l Phi_l (Y(t-l) - mu) = e(t) - sum_j Theta_j e(t-j)
#pragma once

#include <cstdint>

#include "module/frame/args.hpp"
#include "module/varma/varma_params.hpp"

namespace mvtsa {

// Messages of the VARMA statistics (410 - 419).
inline constexpr int kMsgStatsSeriesShort = 410;  // no more rows than the largest lag
inline constexpr int kMsgStatsNonstationary = 411;  // phi not stationary
inline constexpr int kMsgStatsNotMaximum = 412;   // note: -H not positive definite
inline constexpr int kMsgStatsNearBound = 413;    // note: a difference point left the region
inline constexpr int kMsgStatsLevel = 414;        // level outside (0, 1)

enum VarmaSlot : int { kVarmaSeries = 0, kVarmaPhi, kVarmaTheta, kVarmaSigma, kVarmaArLags,
                       kVarmaMaLags };

// The model and the series of a call, in work blocks of the host.
struct VarmaInputs {
  int k = 0;
  std::int64_t T = 0;
  WorkBlock<double> series;   // T x k: values above the series bound missing, mean subtracted
  WorkBlock<double> sigma;    // packed
  WorkBlock<double> ar, ma;   // the blocks given, at their lags (compact)
  WorkBlock<int> ar_lags, ma_lags;
  int ar_count = 0, ma_count = 0, pmax = 0, qmax = 0;
  WorkBlock<double> mean;     // k values, 0 unless given
  VarmaParams params() const;
};

// Reads and checks inputs 1 - 6 in order (the checks of VARMALIK: a T x k
// series with k >= 2 and missing values allowed; phi and theta, one of them
// at least; sigma symmetric positive definite, the identity when omitted;
// the lag lists), then the model: an AR part that is not stationary gives
// message 411, a series with no more rows than the largest lag message 410.
// A value above the series bound draws note 368 and is missing from then on.
int read_varma_model(const ArgList& in, VarmaInputs* v);

// Reads the mean (input `slot`, a vector of k values; 0 when omitted) and
// subtracts it from the series.
int read_varma_mean(const ArgList& in, int slot, VarmaInputs* v);

// The status of a filter outcome: 0; message 178 for a singular F(t);
// status 100 without a message for a diverging filter (as VARMALIK);
// cancelled() for a cancelled call.
int varma_outcome_status(int outcome);

}  // namespace mvtsa
