// complex_modulus: closed forms, missing values and the overflow-safe branch.
#include "module/linalg/complex_modulus.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "module/frame/status.hpp"

namespace {

using mvtsa::complex_modulus;

double mod(double x, double y) {
  const double z[2] = {x, y};
  return complex_modulus(z);
}

TEST(ComplexModulus, ClosedForms) {
  EXPECT_EQ(mod(3.0, 4.0), 5.0);
  EXPECT_EQ(mod(-3.0, -4.0), 5.0);
  EXPECT_EQ(mod(-0.5, 0.0), 0.5);
  EXPECT_EQ(mod(0.0, -2.0), 2.0);
  EXPECT_EQ(mod(0.0, 0.0), 0.0);
  EXPECT_EQ(mod(-0.0, 0.0), 0.0);
}

TEST(ComplexModulus, MissingGivesZero) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(mod(nan, 1.0), 0.0);
  EXPECT_EQ(mod(1.0, nan), 0.0);
  EXPECT_EQ(mod(inf, 0.0), 0.0);
  EXPECT_EQ(mod(0.0, -inf), 0.0);
}

TEST(ComplexModulus, LargePartsScaleWithoutOverflow) {
  // 3*2^900 and 4*2^900: naive squares overflow; the modulus is 5*2^900 exactly.
  const double x = std::ldexp(3.0, 900), y = std::ldexp(4.0, 900);
  EXPECT_EQ(mod(x, y), std::ldexp(5.0, 900));
  EXPECT_EQ(mod(-y, x), std::ldexp(5.0, 900));
  // At the guard itself the scaled branch runs and still agrees with hypot.
  const double g = mvtsa::kSeriesBound;
  EXPECT_DOUBLE_EQ(mod(g, g), std::hypot(g, g));
  EXPECT_DOUBLE_EQ(mod(g, 1.0), g);
  // Largest finite part with a tiny partner.
  const double big = std::numeric_limits<double>::max();
  EXPECT_EQ(mod(big, 1e-300), big);
}

}  // namespace
