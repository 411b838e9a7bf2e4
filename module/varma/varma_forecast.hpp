// h-step forecasts of a VARMA model and their mean squared error matrices,
// from the Kalman filter run over the whole series (varma_kalman.hpp).
//
// Model (k variables, mean mu):
//   Y(t) - mu - sum_l Phi_l (Y(t-l) - mu) = e(t) - sum_j Theta_j e(t-j)
//
// After the update with the last row the filter holds a(T|T) and P(T|T),
// the state's mean and covariance given every row observed (a missing row
// adds nothing, as in the likelihood).  The forecasts are the predictions
//   a(T+j) = T a(T+j-1),   P(T+j) = T P(T+j-1) T' + Q,   j = 1 .. h
// (a(T|T), P(T|T) at j = 0), read through Z = [I 0 .. 0]:
//   forecast(j) = mu + Z a(T+j)   (k),    MSE(j) = Z P(T+j) Z'   (k x k),
// the best linear predictor of Y(T+j) from the series and its mean squared
// error, exact for the finite sample.  Measured: within 5.3e-16 of
// statsmodels' VARMAX get_forecast at the same parameters, relative to the
// largest value (tests/stats/varma_reference_test.cpp: a mean, missing rows,
// lag lists, a root of modulus 0.97), and within 1e-10 of the conditional
// moments of the stacked series (tests/varma/stats_kernels_test.cpp).
#pragma once

#include <cstdint>

#include "module/varma/varma_params.hpp"

namespace mvtsa {

// Doubles of work varma_forecast needs (UINT64_MAX when that cannot be
// represented).
std::uint64_t varma_forecast_work(int k, int pmax, int qmax);

// Forecasts of the T x k series (row major, the mean already subtracted;
// T = 0 forecasts from the stationary start) for j = 1 .. h:
// forecast (h x k) = mean (k values, null for 0) + Z a(T+j), and mse
// ((h k) x k, the k x k matrices stacked by horizon) = Z P(T+j) Z'.
// work: varma_forecast_work doubles.  Returns 0, or the filter's outcome
// (kKalmanDiverged, kKalmanCancelled; the host is asked every
// kCancelPollRows horizons too).
int varma_forecast(const VarmaParams& m, const double* series, std::int64_t T, std::int64_t h,
                   const double* mean, double* forecast, double* mse, double* work);

// Prediction intervals from forecasts and their MSE matrices: for horizon j
// and variable i, lower = forecast - z sqrt(MSE_ii), upper = forecast +
// z sqrt(MSE_ii); interval (h x 2k) holds the k lower bounds, then the k
// upper bounds, of each horizon.
void varma_forecast_interval(const double* forecast, const double* mse, std::int64_t h, int k,
                             double z, double* interval);

}  // namespace mvtsa
