// The observed information of an ARFIMA(p, d, q) model at given parameters:
// the Hessian of the log-likelihood in x = (d, phi at the AR lags, theta at
// the MA lags, sigma^2) for the model
//   phi(B) (1 - B)^d (y_t - mu) = theta(B) eps_t,  var(eps_t) = sigma^2.
//
// With R the model's covariance for sigma^2 = 1 the log-likelihoods are
//   exact:       L = -(n ln sigma^2 + q(theta) / sigma^2 + ln det R(theta)) / 2,
//                q = (y - mu)' R^-1 (y - mu)   (FARMALIK's exact value at sigma^2);
//   conditional: L = -((n - m) ln sigma^2 + S(theta) / sigma^2) / 2,
//                S = sum_{t>=m} e_t^2, m the largest AR or MA lag (the
//                Gaussian likelihood whose maximum over sigma^2 is FARMALIK's
//                conditional value less (n - m) / 2),
// theta = (d, phi, theta) here.  q (or S) and ln det R are differenced
// together in theta (module/fit/hessian.hpp), and the sigma^2 row follows in
// closed form:
//   L_tt' = -(q_tt' / sigma^2 + (ln det R)_tt') / 2,
//   L_t,sigma^2 = q_t / (2 sigma^4),
//   L_sigma^2,sigma^2 = N / (2 sigma^4) - q / sigma^6   (N = n or n - m).
#pragma once

#include <cstdint>

namespace mvtsa {

// The model's lags and the series.
struct FarmaInfoModel {
  const double* y = nullptr;
  std::int64_t n = 0;
  double mu = 0.0;
  const int* ar_lags = nullptr;  // na lags, ascending, distinct, the largest P
  int na = 0;
  int P = 0;
  const int* ma_lags = nullptr;
  int nm = 0;
  int Q = 0;
  int method = 1;  // kFarmaExact or kFarmaCss
};

// Outcomes besides the likelihood's own failure codes.
enum FarmaInfoNote : int {
  kInfoInterior = 0,    // an interior point
  kInfoNearBound = 1,   // d next to its bound: held, its row and column missing
};

// The step of d, phi and theta at the first try (times max(1, |x_i|) for the
// ARMA coefficients); halved on each retry after a failed evaluation (a step
// across the stationarity boundary), at most kInfoStepRetries times.
inline constexpr double kInfoStep = 0x1p-6;
inline constexpr int kInfoStepRetries = 6;
// d's step is cut to half its distance from its bound (1/2 - 2^-26.5 exact,
// 1 - 2^-26.5 conditional).  Where that is below this, d is at its bound for
// the differences: it is held, the others are differenced around it, and
// its row and column of the Hessian are missing (kInfoNearBound).
inline constexpr double kInfoMinDStep = 0x1p-12;

// Doubles of work space for farma_information.
std::uint64_t farma_info_work_size(const FarmaInfoModel& model);

// hess (m x m, row-major, m = 2 + na + nm) at x (m values, x[m-1] = sigma^2 >
// 0).  Returns 0 with *note set (with kInfoNearBound d's row and column are
// missing values), or the code of the likelihood at x or at every step
// tried (390, 373, 315, 178, 398).
int farma_information(const FarmaInfoModel& model, const double* x, double* hess, double* work,
                      int* note);

}  // namespace mvtsa
