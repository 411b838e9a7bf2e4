#include "cli/stats.hpp"

#include <cmath>
#include <limits>
#include <vector>

namespace mvts::cli {

ColumnMoments column_moments(const Matrix& x) {
  const std::int64_t n = x.rows, k = x.cols;
  constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
  ColumnMoments r;
  r.mean = Matrix(1, x.cols);
  r.cov = Matrix(x.cols, x.cols);
  std::vector<char> complete(std::size_t(n > 0 ? n : 0), 1);
  for (std::int64_t i = 0; i < n; ++i) {
    for (std::int64_t j = 0; j < k; ++j)
      if (!std::isfinite(x.at(i, j))) complete[std::size_t(i)] = 0;
    r.rows_used += complete[std::size_t(i)];
  }
  const std::int64_t m = r.rows_used;
  // mean_j = sum_t x(t, j) / m
  for (std::int64_t j = 0; j < k; ++j) {
    double s = 0;
    for (std::int64_t i = 0; i < n; ++i)
      if (complete[std::size_t(i)]) s += x.at(i, j);
    r.mean.at(0, j) = m > 0 ? s / double(m) : kMissing;
  }
  // cov(a, b) = sum_t (x(t, a) - mean_a)(x(t, b) - mean_b) / (m - 1)
  for (std::int64_t a = 0; a < k; ++a) {
    for (std::int64_t b = 0; b <= a; ++b) {
      double s = 0;
      for (std::int64_t i = 0; i < n; ++i)
        if (complete[std::size_t(i)]) s += (x.at(i, a) - r.mean.at(0, a)) * (x.at(i, b) - r.mean.at(0, b));
      const double c = m > 1 ? s / double(m - 1) : kMissing;
      r.cov.at(a, b) = c;
      r.cov.at(b, a) = c;
    }
  }
  return r;
}

}  // namespace mvts::cli
