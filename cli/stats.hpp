// Sample moments of a stored matrix, for the script command `stats NAME`.
#pragma once

#include <cstdint>

#include "host/host.hpp"

namespace mvts::cli {

struct ColumnMoments {
  Matrix mean;                 // 1 x k column means
  Matrix cov;                  // k x k sample covariance, divisor m - 1
  std::int64_t rows_used = 0;  // m: the rows that hold no missing value
};

// Column means and sample covariance of an n x k matrix over its complete
// rows (two passes: the means first, then the centred cross-products).
// Means are missing when no row is complete, the covariance when fewer than
// two are.
ColumnMoments column_moments(const Matrix& x);

}  // namespace mvts::cli
