// The sweep operator as a pure kernel: packed arrays in and out, no host.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "host/sweep.hpp"

namespace {

// Packed lower triangle of a symmetric 3 x 3 matrix, by rows:
// (0,0) (1,0) (1,1) (2,0) (2,1) (2,2).
using Packed3 = std::array<double, 6>;

// A = L L' with L = [[1, 0, 0], [1, 1, 0], [0, 1, 1]]: its pivots in the
// order 0, 1, 2 are all 1, so that sweeping in that order is exact in
// binary floating point, and A^-1 = L'^-1 L^-1 has integer entries.
const Packed3 kA = {1, 1, 2, 0, 1, 2};
const Packed3 kAInverse = {3, -2, 2, 1, -1, 1};

TEST(SweepKernel, SweepingEveryPivotInOrderGivesTheExactInverse) {
  Packed3 a = kA;
  char flags[3] = {'0', '0', '0'};
  for (int k = 0; k < 3; ++k) ASSERT_EQ(mvts_sweep_pivot(a.data(), k, 3, flags, nullptr, 0.5), 0);
  EXPECT_EQ(a, kAInverse);
  EXPECT_EQ(std::string(flags, 3), "111");
}

TEST(SweepKernel, EveryOrderOfPivotsGivesTheSameInverse) {
  std::array<int, 3> order = {0, 1, 2};
  do {
    Packed3 a = kA;
    char flags[3] = {'0', '0', '0'};
    for (int k : order) ASSERT_EQ(mvts_sweep_pivot(a.data(), k, 3, flags, nullptr, 1e-12), 0);
    for (std::size_t i = 0; i < a.size(); ++i)
      EXPECT_NEAR(a[i], kAInverse[i], 8 * std::numeric_limits<double>::epsilon())
          << "order " << order[0] << order[1] << order[2] << ", element " << i;
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST(SweepKernel, OnePivotLeavesInverseRegressionAndSchurComplement) {
  // Sweeping pivot 0 (a_00 = 1): the S block holds 1 / a_00 = 1, the cross
  // block a_i0 / a_00 = (1, 0), and the unswept block
  // A_UU - A_U0 A_0U / a_00 = [[2, 1], [1, 2]] - [[1, 0], [0, 0]].
  Packed3 a = kA;
  char flags[3] = {'0', '0', '0'};
  ASSERT_EQ(mvts_sweep_pivot(a.data(), 0, 3, flags, nullptr, 0.0), 0);
  EXPECT_EQ(a, (Packed3{1, 1, 1, 0, 1, 2}));
  EXPECT_EQ(std::string(flags, 3), "100");
}

TEST(SweepKernel, RefusedPivotsLeaveMatrixAndFlagsAlone) {
  struct Case {
    const char* what;
    int k;
    double tolerance;
    char flag0;
    double a00;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {"pivot below 0", -1, 0.0, '0', 1},
      {"pivot past the order", 3, 0.0, '0', 1},
      {"pivot already swept", 0, 0.0, '1', 1},
      {"pivot equal to the tolerance", 0, 1.0, '0', 1},
      {"zero pivot", 0, 0.0, '0', -0.0},
      {"pivot not a number", 0, 0.0, '0', nan},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Packed3 a = kA;
    a[0] = c.a00;
    char flags[3] = {c.flag0, '0', '0'};
    const Packed3 before = a;
    EXPECT_EQ(mvts_sweep_pivot(a.data(), c.k, 3, flags, nullptr, c.tolerance), 1);
    EXPECT_EQ(std::memcmp(a.data(), before.data(), sizeof a), 0);
    EXPECT_EQ(flags[0], c.flag0);
    EXPECT_EQ(flags[1], '0');
    EXPECT_EQ(flags[2], '0');
  }
  Packed3 a = kA;
  char flags[3] = {'0', '0', '0'};
  EXPECT_EQ(mvts_sweep_pivot(nullptr, 0, 3, flags, nullptr, 0.0), 1);
  EXPECT_EQ(mvts_sweep_pivot(a.data(), 0, 3, nullptr, nullptr, 0.0), 1);
  EXPECT_EQ(a, kA);
  EXPECT_EQ(flags[0], '0');
}

}  // namespace
