// VARMACOV(phi, theta, sigma, p, q, lag) -> (k (lag+1)) x k cross-covariances:
// rows h k .. h k + k - 1 hold Gamma(h) = E[y_t y_{t+h}'], h = 0 .. lag.
#include <cstring>

#include "module/frame/args.hpp"
#include "module/frame/entries.hpp"
#include "module/linalg/covariance.hpp"
#include "module/varma/covariance_argument.hpp"
#include "module/varma/varma_autocov.hpp"
#include "module/varma/varma_parts.hpp"

namespace mvtsa {
namespace {

enum { kPhi = 0, kTheta = 1, kSigma = 2, kP = 3, kQ = 4, kLag = 5 };

int varmacov(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  int k = 0;
  ModelPart ar, ma;
  // The coefficient matrices fix the dimension k; every other argument must agree.
  if (int st = in.coefficient_pair(kPhi, kTheta, &k, &ar.arg, &ar.count, &ma.arg, &ma.count))
    return st;
  // sigma: k x k, symmetric and positive definite (I when absent), packed
  // and full.
  MatrixArg sigma;
  if (in.given(kSigma))
    if (int st = in.square(kSigma, &k, &sigma)) return st;
  const std::uint64_t kk = std::uint64_t(k) * std::uint64_t(k);
  WorkBlock<double> packed(std::uint64_t(packed_size(k)));
  if (!packed) return packed.status();
  WorkBlock<double> full(kk);
  if (!full) return full.status();
  if (int st = covariance_argument(in.given(kSigma) ? sigma.data : nullptr, k, packed.data()))
    return st;
  unpack_symmetric(packed.data(), k, full.data());
  // The AR and MA blocks, spread over their lags.
  if (int st = load_model_part(in, kP, "AR", k, &ar)) return st;
  if (int st = load_model_part(in, kQ, "MA", k, &ma)) return st;
  const int p = ar.order, q = ma.order;
  // lag: a whole number, 12 when absent.
  std::int64_t lag = 12;
  if (in.given(kLag))
    if (int st = in.whole_number(kLag, &lag)) return st;
  // A pure MA model has no covariance beyond lag q: a note.
  if (p == 0 && q < lag) issue_message(kMsgPureMaLag);
  // Identical AR and MA parts cancel: white noise, with a note.
  bool white = p > 0 && p == q;
  for (std::uint64_t e = 0; white && e < kk * std::uint64_t(p); ++e)
    white = ar.blocks[std::int64_t(e)] == ma.blocks[std::int64_t(e)];
  if (white) issue_message(kMsgCancel);
  // The AR part must be stationary.
  if (p > 0) {
    int nonstationary = 0;
    if (int st = ar_nonstationary(ar.blocks.data(), p, k, &nonstationary)) return st;
    if (nonstationary) return fail_message(kMsgNonstationary);
  }
  // The result: k (lag + 1) rows, which must fit a 32-bit count.
  const std::int64_t rows = std::int64_t(k) * (lag + 1);
  if (rows > kMaxCount) return result_rows_exceeded();
  double* out = create_result(1, static_cast<std::int32_t>(rows), k);
  if (!out) return kStatusHostError;
  // White noise: Gamma(0) = Sigma, zero beyond; otherwise the solve.
  int status = kStatusOk;
  if (white) {
    std::memset(out, 0, sizeof(double) * std::uint64_t(rows) * k);
    std::memcpy(out, full.data(), sizeof(double) * kk);
  } else {
    status = varma_autocov(out, lag, full.data(), ar.blocks.data(), ma.blocks.data(), p, q, k);
  }
  // The work blocks are freed by their guards.
  result_complete();
  return status;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t varmacov_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::varmacov(args, given); });
}
