// Both fits against a failed allocation at every allocation of the call, in
// the set-up and inside the objective's evaluations: status 1 with the host
// error raised, and nothing left allocated.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/host.hpp"

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
  const std::int64_t before = s.allocation_count();
  ASSERT_EQ(s.call(name, args).status, 0);
  const std::int64_t total = s.allocation_count() - before;
  ASSERT_GT(total, 3);
  for (std::int64_t n = 1; n <= total; n += (n < 40 ? 1 : total / 40 + 1)) {
    s.fail_allocation_at(n);
    auto r = s.call(name, args);
    s.fail_allocation_at(0);
    const std::string what = std::string(name) + " allocation " + std::to_string(n);
    EXPECT_EQ(r.status, 1) << what;
    EXPECT_NE(r.raised_error, 0) << what;
    EXPECT_EQ(s.live_blocks(), 0) << what;
    EXPECT_EQ(s.live_pools(), 0) << what;
    EXPECT_EQ(s.open_utility_files(), 0) << what;
  }
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
