// The module's message numbers and shared tolerances (module/frame/status.hpp
// and tolerances.hpp): each message number is distinct and has its text in the
// host's catalogue, and each tolerance is the exact double the module's
// results were computed with, at the stated distance from the value it
// stands for.
#include "module/frame/status.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <set>
#include <string>

#include "host/host.hpp"
#include "module/farma/farma_model.hpp"

namespace {

// The decimals the tolerances were first written as: the hex literals must
// stay these doubles to the bit.
static_assert(mvtsa::kCloseTol == 1.053671212772351e-08);
static_assert(mvtsa::kRoundoffTol == 1.110223024625157e-16);
static_assert(mvtsa::kTenRoundoffTol == 1.110223024625157e-15);
static_assert(mvtsa::kHundredRoundoffTol == 1.110223024625157e-14);
static_assert(mvtsa::kLuPivotTol == 5.684341886080804e-14);
static_assert(mvtsa::kTinyNormal == 2.225073858507202e-308);
static_assert(mvtsa::kSqrtDblMin == 1.491668147e-154);
static_assert(mvtsa::kSeriesBound == 1.3407807929942597e152);
static_assert(mvtsa::kDivergenceLimit == 1.3407807929942596e154);
static_assert(mvtsa::kDBoundOne == 0.9999999894632878);
static_assert(mvtsa::kDBoundHalf == 0.4999999894632879);

// x moved by n ulps (n > 0 up, n < 0 down).
double ulps(double x, int n) {
  for (; n > 0; --n) x = std::nextafter(x, HUGE_VAL);
  for (; n < 0; ++n) x = std::nextafter(x, 0.0);
  return x;
}

TEST(Tolerances, EachLiesAtItsStatedDistanceFromTheValueItStandsFor) {
  const double u = std::ldexp(1.0, -53);
  EXPECT_EQ(mvtsa::kUnitRoundoff, u);
  EXPECT_EQ(mvtsa::kRoundoffTol, ulps(u, 2));
  EXPECT_EQ(mvtsa::kTenRoundoffTol, ulps(10 * u, 2));
  EXPECT_EQ(mvtsa::kHundredRoundoffTol, ulps(100 * u, 3));
  EXPECT_EQ(mvtsa::kLuPivotTol, ulps(std::ldexp(1.0, -44), 2));
  EXPECT_EQ(mvtsa::kCloseTol, ulps(std::sqrt(u), 1));
  EXPECT_EQ(mvtsa::kTinyNormal, ulps(DBL_MIN, 1));
  const double root_min = std::sqrt(DBL_MIN);
  EXPECT_EQ(root_min, std::ldexp(1.0, -511));
  EXPECT_GT(mvtsa::kSqrtDblMin, root_min);
  EXPECT_LT(mvtsa::kSqrtDblMin / root_min - 1, 5.2e-10);
  EXPECT_EQ(mvtsa::kSeriesBound, std::ldexp(1.0, 512) / 100);
  EXPECT_EQ(mvtsa::kDivergenceLimit, ulps(std::ldexp(1.0, 512), -1));
}

TEST(MessageNumbers, AreDistinctAndEachHasItsText) {
  using namespace mvtsa;
  const int issued[] = {
      kMsgScalarOrVector, kMsgNoRoots, kMsgRootsGaveUp, kMsgOptimizationFailed, kMsgSingular,
      kMsgTooFewObservations, kMsgGammaFailed, kMsgSimOverflow, kMsgDimension, kMsgShape,
      kMsgDisagree, kMsgNotPositive, kMsgNoCoefficients, kMsgNotMultiple, kMsgLagCount,
      kMsgNotSquare, kMsgSimTooShort, kMsgOverflow, kMsgNonstationary, kMsgPureMaLag,
      kMsgNoDimension, kMsgSeriesBound, kMsgLoglikBound, kMsgCancel, kMsgDRange,
      kMsgRepeatedRoots, kMsgUcmNote, kMsgZeroSeed, kMsgResultOverflow,
      kMsgConditionalOverflow, kMsgNonstationaryRoot, kMsgTooManyCoefficients,
      kMsgNoCompleteRow, kMsgSecondStartWon};
  std::set<int> seen;
  for (int n : issued) {
    EXPECT_TRUE(seen.insert(n).second) << "message " << n << " has two names";
    // The host's fallback for a number it has no text for starts "Message ".
    EXPECT_EQ(mvts::message_text(n, {}).rfind("Message ", 0), std::string::npos) << n;
  }
}

}  // namespace
