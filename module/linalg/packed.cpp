#include "module/linalg/packed.hpp"

#include <cstring>

namespace mvtsa {

void pack_symmetric(const double* s, int k, double* packed) {
  std::int64_t n = 0;
  for (int j = 0; j < k; ++j)
    for (int i = 0; i <= j; ++i) packed[n++] = s[std::int64_t(i) * k + j];
}

void unpack_symmetric(const double* packed, int k, double* s) {
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < k; ++j) s[std::int64_t(i) * k + j] = packed[packed_index(i, j)];
}

void packed_identity(int k, double* packed) {
  std::memset(packed, 0, sizeof(double) * packed_size(k));
  for (int i = 0; i < k; ++i) packed[packed_index(i, i)] = 1.0;
}

}  // namespace mvtsa
