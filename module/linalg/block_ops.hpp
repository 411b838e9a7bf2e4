// Products of one k x k block (row-major) with a k-vector, accumulated into
// another vector: the step that the VARMA recursions (simulation, the
// conditional and the innovations likelihoods) take once per lag.  Each
// row's dot product is summed from column 0 up and then added to (or
// subtracted from) its element, so every caller rounds as its own loops did.
#pragma once

#include <cstdint>

namespace mvtsa {

// out += M v
inline void block_mul_add(const double* m, const double* v, std::int64_t k, double* out) {
  for (std::int64_t r = 0; r < k; ++r) {
    const double* row = m + r * k;
    double acc = 0.0;
    for (std::int64_t c = 0; c < k; ++c) acc += row[c] * v[c];
    out[r] += acc;
  }
}

// out -= M v
inline void block_mul_sub(const double* m, const double* v, std::int64_t k, double* out) {
  for (std::int64_t r = 0; r < k; ++r) {
    const double* row = m + r * k;
    double acc = 0.0;
    for (std::int64_t c = 0; c < k; ++c) acc += row[c] * v[c];
    out[r] -= acc;
  }
}

}  // namespace mvtsa
