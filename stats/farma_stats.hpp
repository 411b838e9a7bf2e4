// What the ARFIMA entries of the statistics module share (FARMAFCST,
// FARMARES, FARMAINFO): their message numbers and the reading of the model
// arguments series, d, phi, theta, sigma, p, q, which come first in each, in
// that order and with FARMALIK's rules, except that d = 0 (the ARMA model)
// is allowed.
#pragma once

#include <cstdint>

#include "module/farma/farma_model.hpp"
#include "module/frame/args.hpp"

namespace mvtsa {

// Messages 400-409 (texts in host/messages.cpp).
inline constexpr int kMsgFarmaShortSeries = 400;     // the series is not longer than the largest lag
inline constexpr int kMsgFarmaDRange = 401;          // d outside the method's range
inline constexpr int kMsgFarmaNotStationary = 402;   // an AR root on or inside the unit circle
inline constexpr int kMsgFarmaLaglessCoefficient = 403;  // a coefficient without a lag
inline constexpr int kMsgFarmaNotNegativeDefinite = 404;  // note: no covariance
inline constexpr int kMsgFarmaNearBound = 405;       // note: d at its bound, no covariance

// The argument slots the three share.
enum FarmaStatsSlot : int {
  kFsSeries = 0, kFsD = 1, kFsPhi = 2, kFsTheta = 3, kFsSigma = 4, kFsArLags = 5, kFsMaLags = 6
};

struct FarmaStatsModel {
  const double* y = nullptr;  // the series as given (n values)
  std::int64_t n = 0;
  FarmaModel model;           // d, sigma^2, 1 - phi_1 B - ..., 1 - theta_1 B - ...
  MatrixArg phi, theta;       // the coefficients as given
  int np = 0, nq = 0;
  std::int64_t P = 0, Q = 0;  // the largest AR and MA lags the arguments name
};

// series (a vector without missing values), d (a scalar; its range waits
// for the method: farma_stats_check_d), phi, theta, sigma^2 (> 0; 1 when
// omitted), the lag lists and the polynomials, each as FARMALIK checks it;
// then message 400 (naming the series) unless n > max(P, Q).
int farma_stats_model(const ArgList& in, FarmaStatsModel* out);

// |d| below 1/2 - 2^-26.5 for the exact method, below 1 - 2^-26.5 for the
// conditional one (d = 0 allowed); else message 401 naming d.
int farma_stats_check_d(const ArgList& in, double d, int method);

// opt read as FARMALIK reads it: omitted 0; a scalar in [0, 1] (status 11
// outside); the exact method when its truncation is 1.
int farma_stats_method(const ArgList& in, int slot, int* method);

// mean: a scalar, 0 when omitted.
int farma_stats_mean(const ArgList& in, int slot, double* mean);

// The lag of each given coefficient (FARMALIK's rule: the k-th coefficient
// at the k-th smallest listed lag, or the coefficients in order at lags
// 1..P when the list names P distinct lags), into lags[0..count); message
// 403 naming the list when a coefficient has none (a repeated or fractional
// lag).  *order: the largest.
int farma_stats_coefficient_lags(const ArgList& in, int lag_slot, int count, const char* which,
                                 WorkBlock<int>* lags, int* order);

// A kernel's failure as the call's: 390 (an AR root on or inside the unit
// circle) as message 402 naming phi, any other code as its own message.
int farma_stats_failure(const ArgList& in, int code);

}  // namespace mvtsa
