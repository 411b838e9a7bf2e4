// VNORMAL(mu, sigma, n, seed) -> n x k series of multivariate normal draws.
#include <cstring>

#include "module/frame/args.hpp"
#include "module/frame/entries.hpp"
#include "module/linalg/covariance.hpp"
#include "module/varma/covariance_argument.hpp"
#include "module/varma/mvn_draw.hpp"

namespace mvtsa {
namespace {

enum { kMu = 0, kSigma = 1, kN = 2, kSeed = 3 };

int vnormal(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  int k = 0;
  MatrixArg mu, sigma;
  // mu (a vector) and sigma (square) fix the dimension k; one of them must
  // be given.
  if (in.given(kMu))
    if (int st = in.vector(kMu, &k, &mu)) return st;
  if (in.given(kSigma))
    if (int st = in.square(kSigma, &k, &sigma)) return st;
  if (k == 0) return fail_message(kMsgNoDimension);
  // sigma symmetric and positive definite (I when absent), packed.
  WorkBlock<double> packed(std::uint64_t(packed_size(k)));
  if (!packed) return packed.status();
  if (int st = covariance_argument(in.given(kSigma) ? sigma.data : nullptr, k, packed.data()))
    return st;
  // n (100 when absent) and a seed that does not leave the generator at 0.
  std::int64_t n = 100;
  double seed = 0.0;
  if (in.given(kN))
    if (int st = in.whole_number(kN, &n)) return st;
  if (in.given(kSeed))
    if (int st = in.seed(kSeed, &seed)) return st;
  if (int st = rng_check_seed(Stream::kVnormal, seed)) return st;
  // The result, n x k.
  double* out = create_result(1, static_cast<std::int32_t>(n), k);
  if (!out) return kStatusHostError;
  // mu fetched again, now that the result exists.
  const MatrixArg mu2 = in.refetch(kMu);
  // The draw, straight into the result.
  WorkBlock<double> work(std::uint64_t(packed_size(k)) + k);
  if (!work) return work.status();
  return mvn_draw(out, mu2.data, packed.data(), n, k, seed, work.data(), Stream::kVnormal);
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t vnormal_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::vnormal(args, given); });
}
