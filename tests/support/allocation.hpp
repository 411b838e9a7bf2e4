// The allocation-failure loop of the entry-point tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.hpp"

namespace test_support {

// Every allocation index up to this one is failed in turn.  Every entry point
// makes far fewer today: a fit under twenty, its evaluations working in space
// allocated before the search.
constexpr std::int64_t kEveryAllocationUpTo = 300;
// Past it each failed index is an eighth above the last (about twenty calls
// per tenfold count), up to the last allocation of the call, so that a call
// of ten thousand allocations stays a matter of seconds under the sanitizers.
constexpr std::int64_t kSparseStepDivisor = 8;

// The allocation indices a call making `total` allocations is failed at:
// every one up to kEveryAllocationUpTo, a geometric sample of the rest, the
// last one, and one past the last (which the call never reaches).
inline std::vector<std::int64_t> allocation_indices(std::int64_t total) {
  std::vector<std::int64_t> v;
  std::int64_t n = 1;
  for (; n <= total && n <= kEveryAllocationUpTo; ++n) v.push_back(n);
  for (; n < total; n += n / kSparseStepDivisor) v.push_back(n);
  if (v.empty() || v.back() != total) v.push_back(total);
  v.push_back(total + 1);
  return v;
}

// Whether two calls gave the same status, messages and outputs, bit for bit.
inline bool same_result(const mvts::CallResult& a, const mvts::CallResult& b) {
  if (a.status != b.status || a.outputs.size() != b.outputs.size() ||
      a.messages.size() != b.messages.size())
    return false;
  for (std::size_t i = 0; i < a.messages.size(); ++i)
    if (a.messages[i].number != b.messages[i].number) return false;
  for (std::size_t i = 0; i < a.outputs.size(); ++i) {
    const auto& x = a.outputs[i];
    const auto& y = b.outputs[i];
    if (x.has_value() != y.has_value()) return false;
    if (!x) continue;
    if (x->rows != y->rows || x->cols != y->cols ||
        std::memcmp(x->data.data(), y->data.data(), x->data.size() * sizeof(double)) != 0)
      return false;
  }
  return true;
}

// Calls `name`, which must succeed, with the allocations of the call failed
// one at a time (see allocation_indices).  A call that reaches its injected
// failure ends with status 1 and the host's error raised; the call that never
// reaches it (one past the last) gives its normal status and result, bit for
// bit.  Either way no work block, pool, utility file or temporary block is
// left behind.  The arguments must make the call repeatable (a seed for a
// simulation).  `limit` > 0: the call must make fewer allocations than that.
// Returns the allocations one call makes.
inline std::int64_t expect_allocation_failures(mvts::Host& s, const char* name,
                                               const std::vector<mvts::Value>& args,
                                               std::int64_t limit = 0) {
  // The first call of a host run may create the generator record: the count
  // is taken from the second.
  const mvts::CallResult normal = s.call(name, args);
  std::int64_t before = s.allocation_count();
  const mvts::CallResult again = s.call(name, args);
  const std::int64_t total = s.allocation_count() - before;
  EXPECT_EQ(normal.status, 0) << name << ": the call must succeed without a failure";
  EXPECT_TRUE(same_result(normal, again)) << name << ": the call is not repeatable";
  EXPECT_GT(total, 0) << name;
  if (limit > 0) {
    EXPECT_LT(total, limit) << name << ": more allocations than expected";
  }
  for (const std::int64_t n : allocation_indices(total)) {
    const std::string what = std::string(name) + " allocation " + std::to_string(n) + " of " +
                             std::to_string(total);
    before = s.allocation_count();
    s.fail_allocation_at(n);
    const mvts::CallResult r = s.call(name, args);
    s.fail_allocation_at(0);
    const bool reached = s.allocation_count() - before >= n;
    EXPECT_EQ(reached, n <= total) << what;
    if (reached) {
      EXPECT_EQ(r.status, 1) << what;
      EXPECT_NE(r.raised_error, 0) << what;
    } else {
      EXPECT_TRUE(same_result(r, normal)) << what << ": status " << r.status;
    }
    EXPECT_EQ(s.live_blocks(), 0) << what;
    EXPECT_EQ(s.live_pools(), 0) << what;
    EXPECT_EQ(s.open_utility_files(), 0) << what;
    EXPECT_EQ(s.live_temp_blocks(), 0) << what;
  }
  return total;
}

}  // namespace test_support
