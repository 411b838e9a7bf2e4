// VARMAINFO(series, phi, theta, sigma, p, q, mean) -> hessian (n x n, the
// Hessian of the log-likelihood in the entries of the Phi blocks, those of
// the Theta blocks and the lower triangle of Sigma by rows), cov (n x n, the
// inverse of -hessian, created only when -hessian is positive definite;
// otherwise note 412).  When the difference steps cannot stay inside the
// model's region (stationary AR part, positive definite Sigma) at any step
// size, note 413 and neither output (varma_info.hpp).
#include <cstring>

#include "module/fit/hessian.hpp"
#include "module/varma/varma_info.hpp"
#include "stats/entries.hpp"
#include "stats/varma_inputs.hpp"

namespace mvtsa {
namespace {

enum { kMean = 6 };

int varmainfo(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  VarmaInputs v;
  if (int st = read_varma_model(in, &v)) return st;
  if (int st = read_varma_mean(in, kMean, &v)) return st;
  const VarmaParams m = v.params();
  const std::int64_t n = varma_info_parameter_count(v.k, v.ar_count, v.ma_count);
  if (n > kMaxCount) return result_rows_exceeded();
  const std::uint64_t nn = checked_mul(std::uint64_t(n), std::uint64_t(n));
  WorkBlock<double> H(nn), cov(nn);
  if (!H) return H.status();
  if (!cov) return cov.status();
  WorkBlock<double> work(varma_info_work(m));
  if (!work) return work.status();
  const int outcome = varma_info_hessian(m, v.series.data(), v.T, H.data(), work.data());
  if (outcome == kVarmaInfoOutside) {
    issue_message(kMsgStatsNearBound);
    return kStatusOk;
  }
  if (int st = varma_outcome_status(outcome)) return st;
  WorkBlock<double> cov_work{static_cast<std::uint64_t>(information_work_size(int(n)))};
  if (!cov_work) return cov_work.status();
  const bool maximum = information_covariance(H.data(), int(n), cov.data(), cov_work.data()) == 0;

  const auto rows = static_cast<std::int32_t>(n);
  double* out = create_result(1, rows, rows);
  if (!out) return kStatusHostError;
  std::memcpy(out, H.data(), sizeof(double) * nn);
  if (!maximum) {
    issue_message(kMsgStatsNotMaximum);
    return kStatusOk;
  }
  out = create_result(2, rows, rows);
  if (!out) return kStatusHostError;
  std::memcpy(out, cov.data(), sizeof(double) * nn);
  return kStatusOk;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t varmainfo_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::varmainfo(args, given); });
}
