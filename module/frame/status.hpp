// Status codes, message numbers and the missing-value test of the module;
// the shared tolerances come with them from tolerances.hpp.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>

#include "module/frame/tolerances.hpp"

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

// The largest count of the host's interfaces (rows, columns, whole-number
// scalars): 2^31 - 1.
inline constexpr std::int64_t kMaxCount = 2147483647;

// Message numbers (issued with group 178), ascending.  The host's catalogue
// holds the text of each; an entry point issues one with issue_message (a
// note) or fail_message (the call fails with status 100).
inline constexpr int kMsgScalarOrVector = 15;        // a matrix where a scalar or vector is needed
inline constexpr int kMsgNoRoots = 88;               // AR polynomial, zero leading coefficient
inline constexpr int kMsgRootsGaveUp = 89;           // the root finder stopped after {1} roots
inline constexpr int kMsgOptimizationFailed = 143;   // the optimizer could not run
inline constexpr int kMsgSingular = 178;             // a model covariance matrix is singular
inline constexpr int kMsgTooFewObservations = 248;   // series too short for the model
inline constexpr int kMsgGammaFailed = 315;          // a gamma function value failed for this d
inline constexpr int kMsgSimOverflow = 316;          // an ARFIMA simulation overflowed
inline constexpr int kMsgDimension = 350;
inline constexpr int kMsgShape = 351;
inline constexpr int kMsgDisagree = 352;
inline constexpr int kMsgNotPositive = 353;
inline constexpr int kMsgNoCoefficients = 354;
inline constexpr int kMsgNotMultiple = 355;
inline constexpr int kMsgLagCount = 356;
inline constexpr int kMsgNotSquare = 357;
inline constexpr int kMsgSimTooShort = 358;          // series not longer than the AR order
inline constexpr int kMsgOverflow = 359;
inline constexpr int kMsgNonstationary = 360;
inline constexpr int kMsgPureMaLag = 361;
inline constexpr int kMsgNoDimension = 365;
inline constexpr int kMsgSeriesBound = 368;
inline constexpr int kMsgLoglikBound = 369;
inline constexpr int kMsgCancel = 371;
inline constexpr int kMsgDRange = 372;               // d outside its permitted range
inline constexpr int kMsgRepeatedRoots = 373;        // AR roots not distinct
inline constexpr int kMsgUcmNote = 376;              // UCMSIM's note on what it simulates
inline constexpr int kMsgZeroSeed = 380;             // a seed that leaves the generator at 0
inline constexpr int kMsgResultOverflow = 381;       // a promised number is not finite
inline constexpr int kMsgConditionalOverflow = 382;  // VARMALIK method 1 diverged
inline constexpr int kMsgNonstationaryRoot = 390;    // ARFIMA AR root on or inside the circle
inline constexpr int kMsgTooManyCoefficients = 395;  // VARMAFIT: fewer rows than coefficients
inline constexpr int kMsgNoCompleteRow = 396;        // VARMAFIT: no complete row in the series
inline constexpr int kMsgSecondStartWon = 397;       // FARMAFIT: the second start fitted better
inline constexpr int kMsgCancelled = 398;            // the caller cancelled the call

// Failure codes of the ARFIMA kernels.  Each is the number of the message
// that reports it, so that an entry point passes the code to fail_message.
// kStatusGammaFailed: a gamma evaluation or a likelihood pivot failed;
// kStatusSimOverflow: a simulated value reached 2^512; kStatusNonstationary:
// an AR root on or inside the unit circle (farma_root_check), or the ARMA
// system gave gamma(0) < 0 (arma_autocov).
inline constexpr int kStatusGammaFailed = kMsgGammaFailed;
inline constexpr int kStatusSimOverflow = kMsgSimOverflow;
inline constexpr int kStatusNonstationary = kMsgNonstationaryRoot;


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
