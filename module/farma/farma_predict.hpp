// Forecasts and one-step innovations of an ARFIMA(p, d, q) model
//   phi(B) (1 - B)^d (y_t - mu) = theta(B) eps_t,  var(eps_t) = sigma^2,
// |d| < 1/2 (d = 0 is the ARMA model), from the Durbin-Levinson pass of the
// exact likelihood (toeplitz_filter.hpp) over the model's autocovariances.
//
// Forecasts.  With s_t = y_t - mu (t < n) and the prediction-error
// decomposition s_t = sum_{j=1..t} phi_(t,j) s_(t-j) + a_t (a_t the
// innovations, var v_t), the best linear predictor of s_(n-1+k) from
// s_0..s_(n-1) is the same recursion run on past the end with each unknown
// value replaced by its prediction (the projections are nested):
//   shat_t = sum_{j=1..t} phi_(t,j) shat_(t-j),  shat_t = s_t for t < n,
// and the errors f_i = s_(n+i) - shat_(n+i) (i = 0..h-1) follow
//   f_i = a_(n+i) + sum_{j<i} phi_(n+i,i-j) f_j,
// so f = B a with B unit lower triangular,
//   B_il = sum_{j=l..i-1} phi_(n+i,i-j) B_jl  (l < i),  B_ii = 1,
// and the mean squared error is mse_i = sum_{l<=i} B_il^2 v_(n+l).
// O((n + h)^2 + h^3 / 6) operations; memory O(n + h^2 / 2) (B's rows).
// Tested (tests/farma/farma_predict_test.cpp) against the dense solve with
// the (n + h) x (n + h) Toeplitz matrix to 1e-9 and, for d = 0, against a
// Kalman filter on the ARMA state space.
#pragma once

#include <cstdint>

namespace mvtsa {

// Doubles of work space for farma_forecast (64-bit; a size no host can give
// makes the allocation fail).
std::uint64_t farma_forecast_work_size(std::int64_t n, std::int64_t h, int p, int q);

// forecast[0..h) = mu + shat_(n..n+h-1), mse[0..h) as above, for the model
// (d, ar, ma, sigma2) with ar: a_0 = 1, a_j = -phi_j (p + 1 values) and ma:
// theta*_0 = 1, theta*_j = -theta_j (q + 1 values).  n >= 1, h >= 1.
// Returns 0 or the code of farma_model_gamma or of the pass (178, 315, 398).
int farma_forecast(double* work, const double* y, std::int64_t n, double mu, std::int64_t h,
                   double d, int p, int q, const double* ar, const double* ma, double sigma2,
                   double* forecast, double* mse);

// Doubles of work space for farma_residuals.
std::uint64_t farma_residuals_work_size(std::int64_t n, int p, int q, int method);

// The standardised one-step innovations resid[t] and their variances var[t]
// (t = 0..n-1) of s = y - mu:
//   kFarmaExact: a_t / sqrt(v_t) and v_t of the Durbin-Levinson pass, so that
//     sum resid^2 + sum ln var = -2 (the exact log-likelihood of FARMALIK);
//   kFarmaCss: e_t / sqrt(sigma2) and sigma2, e_t the conditional method's filter
//     (farma_css_residuals; the conditional likelihood sums t >= max(p, q)).
// Returns 0 or the failing code.
int farma_residuals(double* work, const double* y, std::int64_t n, double mu, double d, int p,
                    int q, const double* ar, const double* ma, double sigma2, int method,
                    double* resid, double* var);

}  // namespace mvtsa
