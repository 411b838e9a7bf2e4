// Packed symmetric storage: the lower triangle of a symmetric k x k matrix
// row by row, k (k + 1) / 2 doubles, the layout of every covariance matrix
// the module keeps.
#pragma once

#include <cstdint>

namespace mvtsa {

// Element (i, j) of a packed symmetric matrix: the lower triangle row by row.
inline std::int64_t packed_index(std::int64_t i, std::int64_t j) {
  const std::int64_t M = i > j ? i : j, m = i > j ? j : i;
  return M * (M + 1) / 2 + m;
}
inline std::int64_t packed_size(std::int64_t k) { return k * (k + 1) / 2; }

// Packs the full row-major k x k matrix s (for j = 0..k-1, i = 0..j: s[i][j]).
void pack_symmetric(const double* s, int k, double* packed);
// Unpacks to a full row-major k x k matrix.
void unpack_symmetric(const double* packed, int k, double* s);
// Packed identity.
void packed_identity(int k, double* packed);

}  // namespace mvtsa
