// VARMARES(series, phi, theta, sigma, p, q, mean) -> resid (T x k, the
// standardised innovations L(t)^-1 v(t), F(t) = L L'), innov (T x k, v(t)),
// logdet (T x 1, log det F(t)); a row the likelihood leaves out is missing
// in all three (varma_resid.hpp).
#include <cstring>

#include "module/varma/varma_resid.hpp"
#include "stats/entries.hpp"
#include "stats/varma_inputs.hpp"

namespace mvtsa {
namespace {

enum { kMean = 6 };

int varmares(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  VarmaInputs v;
  if (int st = read_varma_model(in, &v)) return st;
  if (int st = read_varma_mean(in, kMean, &v)) return st;
  const std::uint64_t Tk = checked_mul(std::uint64_t(v.T), std::uint64_t(v.k));
  WorkBlock<double> resid(Tk), innov(Tk), logdet{std::uint64_t(v.T)};
  if (!resid) return resid.status();
  if (!innov) return innov.status();
  if (!logdet) return logdet.status();
  WorkBlock<double> work(varma_residuals_work(v.k, v.pmax, v.qmax));
  if (!work) return work.status();
  if (int st = varma_outcome_status(varma_residuals(v.params(), v.series.data(), v.T,
                                                    resid.data(), innov.data(), logdet.data(),
                                                    work.data())))
    return st;
  const auto rows = static_cast<std::int32_t>(v.T);
  const WorkBlock<double>* outs[3] = {&resid, &innov, &logdet};
  for (int o = 0; o < 3; ++o) {
    const std::int32_t cols = o < 2 ? v.k : 1;
    double* out = create_result(o + 1, rows, cols);
    if (!out) return kStatusHostError;
    std::memcpy(out, outs[o]->data(), sizeof(double) * std::size_t(rows) * std::size_t(cols));
  }
  return kStatusOk;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t varmares_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::varmares(args, given); },
                         mvtsa::MissingByContract::kVarmares);
}
