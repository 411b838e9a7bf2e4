// block_mul_add / block_mul_sub: out +-= M v for a row-major k x k block,
// against products worked by hand (exact in binary), and the order of the
// sum, which the recursions' bit-for-bit results rely on.
#include <gtest/gtest.h>

#include <vector>

#include "module/linalg/block_ops.hpp"

namespace {

TEST(BlockOps, AddAndSubtractTheBlockTimesTheVector) {
  const double m[9] = {1, 2, 3, -1, 0.5, 0, 0.25, 0, -4};
  const double v[3] = {2, -1, 0.5};
  std::vector<double> out = {10, 20, 30};
  mvtsa::block_mul_add(m, v, 3, out.data());
  // M v = (2 - 2 + 1.5, -2 - 0.5 + 0, 0.5 + 0 - 2) = (1.5, -2.5, -1.5)
  EXPECT_EQ(out, (std::vector<double>{11.5, 17.5, 28.5}));
  mvtsa::block_mul_sub(m, v, 3, out.data());
  EXPECT_EQ(out, (std::vector<double>{10, 20, 30}));
}

// Each row's products are summed first and then added: with out = 1 and a
// row (1e16, 1, -1e16) against v = 1 the sum of the row is 0 (1e16 + 1
// rounds to 1e16), so out stays 1; adding term by term into out would give 0.
TEST(BlockOps, EachRowIsSummedBeforeItIsAdded) {
  const double m[9] = {1e16, 1, -1e16, 0, 0, 0, 0, 0, 0};
  const double v[3] = {1, 1, 1};
  double out[3] = {1, 0, 0};
  mvtsa::block_mul_add(m, v, 3, out);
  EXPECT_EQ(out[0], 1.0);
  mvtsa::block_mul_sub(m, v, 3, out);
  EXPECT_EQ(out[0], 1.0);
}

}  // namespace
