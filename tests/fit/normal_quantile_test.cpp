// normal_upper_quantile against quantiles computed with 60-digit arithmetic
// (mpmath: the root of erfc(z / sqrt 2) / 2 = alpha for the double alpha),
// its symmetry, and the inputs outside (0, 1).
#include <gtest/gtest.h>

#include <cmath>

#include "module/fit/normal_quantile.hpp"

namespace {

TEST(NormalQuantile, AgreesWithHighPrecisionReferences) {
  const struct {
    double alpha, z;
  } table[] = {
      {0.25, 0.6744897501960817432},    {0.1, 1.2815515655446004353},
      {0.05, 1.644853626951472688},     {0.025, 1.9599639845400542118},
      {0.005, 2.5758293035489007538},   {0.0005, 3.2905267314918947874},
      {1e-10, 6.3613409024040561991},   {1e-100, 21.273453560965324294},
      {1e-300, 37.047096299361199237},  {0.4999, 0.00025066283008800749239},
      {0.975, -1.9599639845400538556},  // 1 - 0.975 = 0.025 + 2.2e-17
  };
  for (const auto& r : table) {
    const double z = mvtsa::normal_upper_quantile(r.alpha);
    // within 4 ulps of the reference (the erfc of the C library is good to
    // about 1 ulp, and the last Newton step adds no more than that)
    EXPECT_NEAR(z, r.z, 4 * std::ldexp(1.0, std::ilogb(r.z) - 52)) << r.alpha;
  }
}

TEST(NormalQuantile, SymmetryAndDomain) {
  for (double a : {0.3, 0.01, 1e-7}) EXPECT_EQ(mvtsa::normal_upper_quantile(1.0 - a),
                                               -mvtsa::normal_upper_quantile(1.0 - (1.0 - a)));
  EXPECT_EQ(mvtsa::normal_upper_quantile(0.5), 0.0);
  for (double bad : {0.0, 1.0, -0.1, 1.5, std::nan("")})
    EXPECT_TRUE(std::isnan(mvtsa::normal_upper_quantile(bad))) << bad;
}

// A second peer: scipy 1.10.1 special.ndtri(p) = -normal_upper_quantile(p).
TEST(NormalQuantile, AgreesWithScipy) {
  const double table[][2] = {
      {1e-300, -37.0470962993612},  {1e-20, -9.262340089798409},   {1e-05, -4.264890793922825},
      {0.001, -3.090232306167813},  {0.01, -2.3263478740408408},   {0.1, -1.2815515655446004},
      {0.45, -0.12566134685507402}, {0.55, 0.12566134685507416},   {0.9, 1.2815515655446004},
      {0.975, 1.959963984540054},   {0.999, 3.090232306167813},
      {0.9999999999990905, 7.047700256664409}};
  for (const auto& row : table)
    EXPECT_NEAR(-mvtsa::normal_upper_quantile(row[0]), row[1], 1e-15 * std::fabs(row[1]))
        << row[0];
}

}  // namespace
