// Tolerances and range limits that more than one kernel or entry point of the
// module tests against, each written once as the exact bits of its double.
//
// u = 2^-53 is the unit roundoff of the double format.  Several tolerances
// are a few ulps above the power of two they stand for: they were first
// written as rounded decimals, and are kept to the bit so that every result
// stays as the tests record it (tests/frame/status_test.cpp pins each one).
// A role-named alias next to its kernel (kEigPrecision, kVarmafitPivotTol,
// ...) says what a particular use tolerates.
#pragma once

namespace mvtsa {

// u = 2^-53 exactly: the relative error of one rounded operation.  A series
// tail below u |sum| cannot change the sum.
inline constexpr double kUnitRoundoff = 0x1p-53;

// u + 2 ulps (1.110223024625157e-16): a relative size at which a quantity is
// rounding noise.  Cholesky pivots of VARMAFIT's parameter vector below it
// fail the mapping, a UCM standard deviation at or below it is absent, and it
// is the eigenvalue routines' relative precision.
inline constexpr double kRoundoffTol = 0x1.0000000000002p-53;

// 10 u + 2 ulps (1.110223024625157e-15): the relative error Jenkins-Traub
// charges to an addition or a multiplication, and the absolute distance
// below which the eigenvalue ordering takes two real parts as equal.
inline constexpr double kTenRoundoffTol = 0x1.4000000000002p-50;

// 100 u + 3 ulps (1.110223024625157e-14): the pivot below which a Cholesky
// or innovations factor of an autocovariance matrix counts as zero (ARFIMA
// likelihood and simulation), and the relative threshold of the Kalman
// filter's generalized inverse of F.
inline constexpr double kHundredRoundoffTol = 0x1.9000000000003p-47;

// 2^-44 + 2 ulps (5.684341886080804e-14): the smallest scaled pivot
// |a_jj| / max_c |a_jc| an LU factorisation accepts.
inline constexpr double kLuPivotTol = 0x1.0000000000002p-44;

// 2^-26.5 = sqrt(u), one ulp above the correctly rounded root
// (0x1.6a09e667f3bcdp-27; 1.053671212772351e-08): the closeness that counts
// as equal for symmetry, positive definiteness (pivots relative to the
// diagonal), the unit circle, d near 0 or 1 and the determinant floor.
inline constexpr double kCloseTol = 0x1.6a09e667f3bcep-27;

// The smallest normal double, DBL_MIN = 2^-1022, plus one ulp
// (2.225073858507202e-308): a divisor or a length at or below it counts as
// zero.
inline constexpr double kTinyNormal = 0x1.0000000000001p-1022;

// sqrt(DBL_MIN) = 2^-511 rounded up to ten digits (1.491668147e-154, 5.1e-10
// relative above the power): the magnitude at or below which a diagonal or
// off-diagonal entry, or a largest polynomial coefficient, is too small to
// square or scale safely.
inline constexpr double kSqrtDblMin = 0x1.00000002302acp-511;

// 2^512 / 100, rounded (1.3407807929942597e152): a series value above it is
// screened out (or noted), and a complex part below it squares without
// overflow.
inline constexpr double kSeriesBound = 0x1.47ae147ae147bp+505;

// The largest double below 2^512 (1.3407807929942596e154): a running sum,
// a state or a polynomial coefficient at or above it has diverged.
inline constexpr double kDivergenceLimit = 0x1.fffffffffffffp+511;

}  // namespace mvtsa
