#include "module/linalg/sweep_inverse.hpp"

#include <cstring>

#include "module/frame/host.hpp"
#include "module/linalg/covariance.hpp"

namespace mvtsa {

int sweep_inverse(double* packed, int k, char* flags, double* work) {
  std::memset(flags, '0', static_cast<std::size_t>(k));
  for (int i = 0; i < k; ++i) work[i] = packed[packed_index(i, i)];
  int swept = 0;
  for (int i = 0; i < k; ++i) {
    sweep_pivot(packed, i, k, flags, work, kCloseTol * work[i]);
    if (flags[i] == '1') ++swept;
  }
  return swept;
}

}  // namespace mvtsa
