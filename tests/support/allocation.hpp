// The allocation-failure loop of the entry-point tests.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "host/host.hpp"

namespace test_support {

// Calls `name` with allocation 1, 2, ... of the call made to fail, until a
// call succeeds.  Every failing call must end with status 1 and a raised
// host error, and leave no work block, pool, utility file or temporary block
// behind.  Returns how many allocations failed the call.
inline int expect_allocation_failures(mvts::Session& s, const char* name,
                                      const std::vector<mvts::Value>& args, int limit = 500) {
  int n = 1;
  for (; n <= limit; ++n) {
    s.fail_allocation_at(n);
    const mvts::CallResult r = s.call(name, args);
    s.fail_allocation_at(0);
    EXPECT_EQ(s.live_blocks(), 0) << name << " allocation " << n;
    EXPECT_EQ(s.live_pools(), 0) << name << " allocation " << n;
    EXPECT_EQ(s.open_utility_files(), 0) << name << " allocation " << n;
    EXPECT_EQ(s.live_temp_blocks(), 0) << name << " allocation " << n;
    if (r.status == 0) break;
    EXPECT_EQ(r.status, 1) << name << " allocation " << n;
    EXPECT_NE(r.raised_error, 0) << name << " allocation " << n;
  }
  EXPECT_LE(n, limit) << name << " never succeeded";
  return n - 1;
}

}  // namespace test_support
