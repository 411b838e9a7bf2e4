#include "module/fit/lag_list.hpp"

#include <algorithm>
#include <cstdint>

#include "module/frame/status.hpp"

namespace mvtsa {

int fit_lag_list(const ArgList& in, int i, WorkBlock<int>* lags, int* count, int* order) {
  MatrixArg m;
  if (int st = in.fetch(i, &m)) return st;
  if (has_missing(in.slot(i))) return kStatusMissing;
  if (m.rows < 1 || m.cols < 1) return fail_message(kMsgDimension);
  if (m.rows > 1 && m.cols > 1) return fail_message(kMsgShape, {"matrix", "vector"});
  const std::int64_t n = m.size();
  for (std::int64_t j = 0; j < n; ++j)
    if (!(m.data[j] >= 1)) return fail_message(kMsgNotPositive);
  for (std::int64_t j = 0; j < n; ++j)
    if (m.data[j] > 2147483647.0) return kStatusTooLarge;
  if (int st = lags->allocate(std::uint64_t(n))) return st;
  int* l = lags->data();
  for (std::int64_t j = 0; j < n; ++j) l[j] = static_cast<int>(m.data[j]);
  std::sort(l, l + n);
  *count = static_cast<int>(std::unique(l, l + n) - l);
  *order = l[*count - 1];
  return kStatusOk;
}

}  // namespace mvtsa
