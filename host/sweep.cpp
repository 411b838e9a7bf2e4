// The sweep operator on a packed symmetric matrix.
#include "host/sweep.hpp"

#include <cmath>

namespace {

// The packed index of element (i, j) of a symmetric matrix.
inline std::int64_t pidx(std::int64_t i, std::int64_t j) {
  const std::int64_t M = i > j ? i : j, m = i > j ? j : i;
  return M * (M + 1) / 2 + m;
}

}  // namespace

extern "C" std::int32_t mvts_sweep_pivot(double* a, std::int32_t k, std::int32_t n, char* flags,
                                         double* /*work*/, double tolerance) noexcept {
  if (!a || !flags || k < 0 || k >= n || flags[k] == '1') return 1;
  const double d = a[pidx(k, k)];
  if (!(std::fabs(d) > tolerance)) return 1;
  for (std::int64_t i = 0; i < n; ++i) {
    if (i == k) continue;
    const double aik = a[pidx(i, k)];
    if (aik == 0.0) continue;
    const double f = aik / d;
    const bool i_swept = flags[i] == '1';
    for (std::int64_t j = 0; j <= i; ++j) {
      if (j == k) continue;
      const double t = f * a[pidx(j, k)];
      if (i_swept && flags[j] == '1')
        a[pidx(i, j)] += t;
      else
        a[pidx(i, j)] -= t;
    }
  }
  for (std::int64_t i = 0; i < n; ++i)
    if (i != k) a[pidx(i, k)] = (flags[i] == '1' ? -a[pidx(i, k)] : a[pidx(i, k)]) / d;
  a[pidx(k, k)] = 1.0 / d;
  flags[k] = '1';
  return 0;
}
