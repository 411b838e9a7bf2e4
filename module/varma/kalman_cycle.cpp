#include "module/varma/kalman_cycle.hpp"

#include <algorithm>
#include <cstring>

namespace mvtsa {

bool same_bits(const double* A, const double* B, std::int64_t f) {
  for (std::int64_t i = 0; i < f; ++i)
    if (std::memcmp(A + i * (f + 1), B + i * (f + 1), sizeof(double)) != 0) return false;
  return std::memcmp(A, B, sizeof(double) * std::size_t(f * f)) == 0;
}

void CovarianceCycle::count_row(bool complete) {
  run_ = complete ? std::min<std::int64_t>(run_ + 1, kFilterRing) : 0;
}

std::int64_t CovarianceCycle::match(std::int64_t t1) {
  const double* next = P_of(t1);
  for (std::int64_t L = 1; L <= run_; ++L)
    if (same_bits(next, P_of(t1 - L), f_)) {
      period_ = L;
      first_ = t1 - L;
      return first_;
    }
  return -1;
}

void CovarianceCycle::end(std::int64_t t) {
  const double* kept = P_of(phase(t));
  if (kept != P_of(t)) std::memcpy(P_of(t), kept, sizeof(double) * std::size_t(ff_));
  period_ = 0;
}

}  // namespace mvtsa
