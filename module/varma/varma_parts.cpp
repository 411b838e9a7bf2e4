#include "module/varma/varma_parts.hpp"

#include <cstring>

#include "module/frame/sizes.hpp"
#include "module/frame/status.hpp"
#include "module/linalg/companion_roots.hpp"

namespace mvtsa {

int load_model_part(const ArgList& in, int lag_slot, const char* which, int k, ModelPart* part) {
  if (part->count == 0) return kStatusOk;  // the part was not given
  LagList lags;
  if (in.given(lag_slot))
    if (int st = in.lag_list(lag_slot, part->count, which, &lags)) return st;
  const std::int64_t order = lag_order(lags, part->count);
  const std::uint64_t kk = std::uint64_t(k) * std::uint64_t(k);
  if (int st = part->blocks.allocate(checked_mul(kk, std::uint64_t(order)))) return st;
  spread_blocks(part->arg.data, part->count, k, lags, part->blocks.data());
  part->order = static_cast<int>(order);
  return kStatusOk;
}

int ar_nonstationary(const double* phi, int p, int k, int* nonstationary) {
  const std::uint64_t n = checked_mul(checked_mul(std::uint64_t(k), std::uint64_t(k)), p);
  WorkBlock<double> copy(n);
  if (!copy) return copy.status();
  WorkBlock<double> roots(checked_mul(std::uint64_t(2) * std::uint64_t(k), std::uint64_t(p)));
  if (!roots) return roots.status();
  WorkBlock<int> lags{std::uint64_t(p)};
  if (!lags) return lags.status();
  std::memcpy(copy.data(), phi, sizeof(double) * n);
  for (int i = 0; i < p; ++i) lags[i] = i + 1;
  WorkBlock<double> work(is_nonstationary_work(copy.data(), p, p, lags.data(), k));
  if (!work) return work.status();
  int roots_status = kCompanionRootsOk;
  *nonstationary =
      is_nonstationary(copy.data(), p, p, lags.data(), k, roots.data(), work.data(), &roots_status);
  return roots_status == kCompanionRootsCancelled ? cancelled() : kStatusOk;
}

}  // namespace mvtsa
