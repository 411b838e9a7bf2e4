// FARMAFIT's records, parameter names, bounds and the objective the
// optimizer calls back.
//
// Parameter vector (m doubles): d, the AR coefficients in the order of the
// sorted AR lags, the MA coefficients likewise, then sigma^2 for the exact
// method only.
#pragma once

#include <cstdint>

#include "module/farma/farma_model.hpp"
#include "module/farma/farmafit_start.hpp"

namespace mvtsa {

// d within +-(1/2 - 2^-26.5) for the exact method; every other parameter
// within the largest finite doubles.
inline constexpr double kFarmafitDBound = kDBoundHalf;
inline constexpr double kFarmafitWideBound = 0x1.fffffffffffffp+1023;  // DBL_MAX
// The value reported to the optimizer for a failed evaluation.
inline constexpr double kFarmafitFailedValue = kDivergenceLimit;
// The optimizer's code for a run that could not start.
inline constexpr int kFarmafitOptimizerFailed = -10000000;

// A parameter name record: a 16-bit length and up to 32 characters, not
// terminated.
inline constexpr int kNameRecordBytes = 34;
inline constexpr int kNameRoom = 32;

// The fit's data record (context word 248).
struct FarmafitData {
  ArmaLags lags;
  int method = 0;      // kFarmaCss or kFarmaExact
  int option2 = 0;     // the truncated second option value
  bool gls_mean = false;  // exact method: the GLS mean of y profiled out
  const double* y = nullptr;
  std::int64_t n = 0;
};

// A start whose |d0| exceeds this is clamped to it (exact method).
inline constexpr double kFarmafitStartDMax = 0.45;

// The fit's model record (context word 256).
struct FarmafitModel {
  int last_error = 0;   // non-zero code of the last failed farma_loglik
  int m = 0;            // parameters
  double* ar = nullptr; // P + 1 doubles, ar[0] = 1, ar[lag] = -phi
  double* ma = nullptr; // Q + 1 doubles, ma[0] = 1, ma[lag] = -theta
  double* work = nullptr;  // farma_loglik_gradient's work space
  // The optimizer is handed the gradient of the objective; grad holds the
  // kernel's 1 + P + Q derivatives in the polynomial coefficients.
  bool use_gradient = false;
  double* grad = nullptr;
  // The profiled variance of the last successful evaluation, and the best
  // (highest) log-likelihood of the run with its point's variance.
  double sigma2 = 0.0;
  bool have_best = false;
  double best_loglik = 0.0;
  double best_sigma2 = 0.0;
  double best_mean = 0.0;  // the GLS mean at the best point (gls_mean)
  // One remembered evaluation (m doubles at cache_x): the optimizer's first
  // call at the start the fit has already evaluated is answered from it.
  double* cache_x = nullptr;
  bool cache_valid = false;
  double cache_loglik = 0.0;
  double cache_sigma2 = 0.0;
  double* cache_grad = nullptr;  // m doubles: dL/dx there (use_gradient)
  int evaluations = 0;  // farma_loglik calls
};

// Writes the m name records: "D", "AR<lag>", "MA<lag>", "SIGMA" (exact).
void farmafit_names(const ArmaLags& lags, bool exact, unsigned char* records);

// Lower bounds then upper bounds, 2m doubles (exact method).
void farmafit_bounds(int m, double* bounds);

// The log-likelihood at the parameter vector x with sigma^2 at its optimum
// given (d, phi, theta): 0 with *loglik (and model.sigma2), or the non-zero
// code of farma_loglik (kept as the model's last error).
//   exact: farma_loglik with sigma^2 = 1 gives ln det R and q = y' R^-1 y;
//     sigma^2 = q / n and L = -(n ln sigma^2 + n + ln det R) / 2 (the SIGMA
//     parameter is not read); with gls_mean, q = (y - mu)' R^-1 (y - mu) at
//     the GLS mean mu = (1' R^-1 y) / (1' R^-1 1), profiled exactly;
//   conditional: L = -(n - m)/2 ln(S / (n - m)) from farma_loglik, m the
//     larger of the AR and MA orders; sigma^2 = S / (n - m) = exp(-2L / (n - m)).
// Each success updates the run's best point.  With grad (m doubles) also
// dL/dx, sigma^2 profiled (so the derivative of the SIGMA parameter is 0):
//   exact: dL/dx = -(n / q dq/dx + d ln det R / dx) / 2;
//   conditional: the kernel's dL/dx (farma_gradient.hpp);
// the AR and MA parameters are phi_j = -a_j and theta_j = -theta*_j.
int farmafit_objective(const FarmafitData& data, FarmafitModel& model, const double* x,
                       double* loglik, double* grad = nullptr);

// The callback handed to the optimizer: -L, or a failed evaluation; with
// the model's use_gradient, -dL/dx where the optimizer asks for it.
int farmafit_callback(void* args);

// Newton's method on the profiled log-likelihood from the optimizer's
// estimate, so that the estimate is the maximum to about 1e-8 and not only
// to the optimizer's stopping rule: each step solves -H dx = g with the
// gradient g and Hessian H of the objective over (d, phi, theta) by central
// differences (module/fit/hessian.hpp, one step size kPolishStep), and is
// taken only when -H is positive definite, every |dx_i| stays below
// kPolishMaxMove max(1, |x_i|), d stays inside its bound and the
// log-likelihood does not fall by more than its rounding (kPolishLoss
// relative); at most kPolishSteps steps.  On return x
// holds the refined point (SIGMA, the exact method's last parameter, held),
// *loglik its value, and the model record (sigma2, the GLS mean in
// model.work[3]) is that of x.  Returns the steps taken, or -1 when x itself
// could not be evaluated.
inline constexpr int kPolishSteps = 3;
inline constexpr double kPolishStep = 0x1p-12;
inline constexpr double kPolishMaxMove = 0x1p-6;
inline constexpr double kPolishLoss = 0x1p-36;  // 1.5e-11
std::uint64_t farmafit_polish_work_size(int m);
int farmafit_polish(const FarmafitData& data, FarmafitModel& model, double* x, double* loglik,
                    double* work);

// FARMAFIT's call (kZero: a zero-mean model) and FARMAFITMEAN's (kEstimate:
// the mean estimated with the model, a fifth output).  With the mean
// estimated the fit runs on y less its sample mean ybar, so that y and
// y + c give the same fit, and the mean is ybar plus, for the exact method,
// the GLS mean of the centred series profiled in the objective; the
// conditional method keeps ybar (the sample mean removed first).
enum class FarmafitMean { kZero, kEstimate };
int farmafit_call(void** args, const std::int32_t* given, FarmafitMean mean);

}  // namespace mvtsa
