// Both fits against a failed allocation at every allocation of the call, in
// the set-up and inside the objective's evaluations: status 1 with the host
// error raised, and nothing left allocated.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/host.hpp"
#include "tests/support/allocation.hpp"

namespace {

using mvts::Value;

std::vector<double> wave(int n, int k) {
  std::vector<double> d(std::size_t(n) * k);
  double a = 0.1;
  for (std::size_t i = 0; i < d.size(); ++i) d[i] = (a = 0.6 * a + std::sin(1.3 * double(i)));
  return d;
}

void every_allocation(const char* name, const std::vector<Value>& args) {
  mvts::Session s;
  EXPECT_GT(test_support::expect_allocation_failures(s, name, args), 3) << name;
}

TEST(FitAllocationFailure, Varmafit) {
  every_allocation("VARMAFIT", {Value::matrix(30, 2, wave(30, 2)), Value::scalar(1)});
}

TEST(FitAllocationFailure, Farmafit) {
  every_allocation("FARMAFIT", {Value::column(wave(64, 1)), Value::scalar(1), Value::scalar(1)});
  every_allocation("FARMAFIT", {Value::column(wave(40, 1)), Value::scalar(1), Value::omitted(),
                                Value::scalar(1)});
}

}  // namespace
