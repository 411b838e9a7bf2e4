// What the reference-table tests share: the unit of their tolerances and the
// packing of a table's coefficient blocks and lag lists into arguments.
#pragma once

#include <vector>

#include "host/host.hpp"

namespace test_support {

// Tolerances of the tables are in units of the machine epsilon of a double.
constexpr double kEps = 0x1p-52;

// Stacked k x k coefficient blocks (row-major) as one (count k) x k matrix;
// omitted when the table has none.
inline mvts::Value blocks(const std::vector<double>& v, int k) {
  if (v.empty()) return mvts::Value::omitted();
  return mvts::Value::matrix(static_cast<int>(v.size()) / k, k, v);
}

// A list of values (lags, scalar coefficients) as a column; omitted when
// empty.
inline mvts::Value list(const std::vector<double>& v) {
  return v.empty() ? mvts::Value::omitted() : mvts::Value::column(v);
}

}  // namespace test_support
