// The saturating size arithmetic of module/frame/sizes.hpp: exact below the
// 64-bit limit, kImpossibleSize at and beyond it, never a wrapped small size.
#include "module/frame/sizes.hpp"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using mvtsa::checked_add;
using mvtsa::checked_bytes;
using mvtsa::checked_mul;
using mvtsa::kImpossibleSize;
using u64 = std::uint64_t;

TEST(SizeArithmetic, ExactWhileTheResultFits) {
  EXPECT_EQ(checked_mul(0, kImpossibleSize), 0u);
  EXPECT_EQ(checked_mul(kImpossibleSize, 0), 0u);
  EXPECT_EQ(checked_mul(u64(1) << 31, u64(1) << 32), u64(1) << 63);
  EXPECT_EQ(checked_mul(3, kImpossibleSize / 3), kImpossibleSize - kImpossibleSize % 3);
  EXPECT_EQ(checked_add(kImpossibleSize - 5, 5), kImpossibleSize);
  EXPECT_EQ(checked_bytes(1000, sizeof(double)), 8000u);
}

TEST(SizeArithmetic, SaturatesInsteadOfWrapping) {
  // 2^32 * 2^32 wraps to 0 in plain arithmetic.
  EXPECT_EQ(checked_mul(u64(1) << 32, u64(1) << 32), kImpossibleSize);
  EXPECT_EQ(checked_mul(kImpossibleSize / 3 + 1, 3), kImpossibleSize);
  EXPECT_EQ(checked_add(kImpossibleSize - 5, 6), kImpossibleSize);
  EXPECT_EQ(checked_add(kImpossibleSize, kImpossibleSize), kImpossibleSize);
  EXPECT_EQ(checked_bytes(u64(1) << 61, sizeof(double)), kImpossibleSize);
  // Saturation is sticky through a chain.
  EXPECT_EQ(checked_add(checked_mul(u64(1) << 40, u64(1) << 40), 1), kImpossibleSize);
  // Commutative on both sides of the limit.
  for (u64 a : {u64(0), u64(7), u64(1) << 33, kImpossibleSize / 2, kImpossibleSize})
    for (u64 b : {u64(1), u64(9), u64(1) << 31, u64(1) << 40, kImpossibleSize}) {
      EXPECT_EQ(checked_mul(a, b), checked_mul(b, a));
      EXPECT_EQ(checked_add(a, b), checked_add(b, a));
    }
}

static_assert(checked_mul(6, 7) == 42 && checked_add(40, 2) == 42, "usable at compile time");

}  // namespace
