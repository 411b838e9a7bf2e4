// Status codes, shared constants and the missing-value test of the module.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>

namespace mvtsa {

// Status codes returned by every entry point.
inline constexpr int kStatusOk = 0;
inline constexpr int kStatusHostError = 1;     // host error raised, or no result
inline constexpr int kStatusNoValue = 2;       // a given argument holds no value
inline constexpr int kStatusNotVector = 6;     // must be a vector
inline constexpr int kStatusNotPd = 8;         // covariance not positive definite
inline constexpr int kStatusNotSymmetric = 10; // covariance not symmetric
inline constexpr int kStatusRange = 11;        // value outside its permitted range
inline constexpr int kStatusCharacter = 13;    // character matrix where numeric needed
inline constexpr int kStatusNotScalar = 15;    // must be a scalar
inline constexpr int kStatusMissing = 17;      // argument holds missing values
inline constexpr int kStatusTooLarge = 18;     // whole number above 2147483647
inline constexpr int kStatusMessage = 100;     // a message explains the failure

// Message numbers (issued with group 178).
inline constexpr int kMsgScalarOrVector = 15;
inline constexpr int kMsgSingular = 178;
inline constexpr int kMsgDimension = 350;
inline constexpr int kMsgShape = 351;
inline constexpr int kMsgDisagree = 352;
inline constexpr int kMsgNotPositive = 353;
inline constexpr int kMsgNoCoefficients = 354;
inline constexpr int kMsgNotMultiple = 355;
inline constexpr int kMsgLagCount = 356;
inline constexpr int kMsgNotSquare = 357;
inline constexpr int kMsgOverflow = 359;
inline constexpr int kMsgNonstationary = 360;
inline constexpr int kMsgPureMaLag = 361;
inline constexpr int kMsgNoDimension = 365;
inline constexpr int kMsgSeriesBound = 368;
inline constexpr int kMsgLoglikBound = 369;
inline constexpr int kMsgCancel = 371;
inline constexpr int kMsgZeroSeed = 380;             // a seed that leaves the generator at 0
inline constexpr int kMsgResultOverflow = 381;       // a promised number is not finite
inline constexpr int kMsgConditionalOverflow = 382;  // VARMALIK method 1 diverged

// 2^-26.5: symmetry, positive definiteness, unit-circle test, determinant floor.
inline constexpr double kCloseTol = 1.053671212772351e-08;
// 2^506: series screening and overflow notes.
inline constexpr double kSeriesBound = 1.3407807929942597e152;
// The largest double below 2^512: divergence limit.
inline constexpr double kDivergenceLimit = 1.3407807929942596e154;

// The host's missing value.
inline double missing_value() { return std::numeric_limits<double>::quiet_NaN(); }

// A missing value is a double whose eleven exponent bits are all ones.
inline bool is_missing(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return (bits & 0x7FF0000000000000ULL) == 0x7FF0000000000000ULL;
}

inline bool any_missing(const double* x, std::int64_t n) {
  for (std::int64_t i = 0; i < n; ++i)
    if (is_missing(x[i])) return true;
  return false;
}

}  // namespace mvtsa
