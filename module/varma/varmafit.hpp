// VARMAFIT's parameter vector, its mapping to and from the model, and the
// objective the optimizer calls back.
//
// Parameter vector, n = k k (P + Q) + k (k + 1) / 2 doubles:
//   k equation segments of k (P + Q) values; segment j holds row j of every
//   AR block (ascending lags, k values each), then row j of every MA block;
//   then the lower-triangular factor L of Sigma = L L', packed by rows.
#pragma once

#include <cstdint>

#include "module/frame/args.hpp"

namespace mvtsa {

// Pivot tolerance of the Cholesky factor in the vector: u.
inline constexpr double kVarmafitPivotTol = kRoundoffTol;

// A model with k (P + Q) coefficients per equation needs more complete rows
// than that beyond its largest lag: message 395 (kMsgTooManyCoefficients,
// inserts: coefficients per equation, rows available) otherwise.  A series
// without a complete row: message 396 (kMsgNoCompleteRow).

inline std::int64_t varmafit_parameter_count(std::int64_t k, std::int64_t P, std::int64_t Q) {
  return k * k * (P + Q) + k * (k + 1) / 2;
}

// vector -> model: the AR and MA blocks (P and Q compact k x k blocks) and the
// packed Sigma = L L' (element (i, j), i >= j, the dot product of rows i and
// j of L over columns 0..j).
void varmafit_vector_to_model(const double* x, int k, int P, int Q, double* ar, double* ma,
                              double* sigma_packed);

// model -> vector: the block rows into the segments and the Cholesky factor
// of the packed Sigma into the tail.  Returns 0, or row + 1 of the first row
// whose pivot is below 2^-53 in magnitude (the mapping fails).
int varmafit_model_to_vector(const double* ar, const double* ma, const double* sigma_packed,
                             int k, int P, int Q, double* x);

// The fit's data record (context word 248): the screened series and the lags.
struct VarmafitData {
  const double* series = nullptr;  // T x k, row major, missing values allowed
  std::int64_t T = 0;
  int k = 0;
  const int* ar_lags = nullptr;    // P ascending lags
  int P = 0;
  int pmax = 0;
  const int* ma_lags = nullptr;
  int Q = 0;
  int qmax = 0;
};

// The fit's model record (context word 256): the model of the last trial
// point and its likelihood (log-likelihood, D, S), and the filter's work
// space (varmafit_kalman_work_size doubles, taken once per fit).
struct VarmafitModel {
  double* ar = nullptr;
  double* ma = nullptr;
  double* sigma_packed = nullptr;
  double* filter_work = nullptr;
  double loglik[3] = {0.0, 0.0, 0.0};
  // The gradient (varma_kalman_gradient.hpp): its work
  // (varmafit_gradient_work_size doubles) when the objective offers it,
  // else null.
  double* gradient_work = nullptr;
};

// Doubles of work for the objective's gradient: the backward pass's
// (kalman_gradient_work), its derivatives in the blocks and Sigma; 0 when
// that is above kVarmafitGradientWorkCap or cannot be represented (the fit
// then runs on values, the optimizer differencing).
inline constexpr std::uint64_t kVarmafitGradientWorkCap = std::uint64_t(1) << 24;  // 128 MiB
std::uint64_t varmafit_gradient_work_size(int k, int P, int Q, int pmax, int qmax,
                                          std::int64_t T);

// Complete rows of the T x k series (no missing value, no element above
// 2^512 / 100 in magnitude): the rows the likelihood uses.
std::int64_t varmafit_complete_rows(const double* series, std::int64_t T, int k);

// The fit runs in standard units: column j of the series divided by its
// root mean square s_j over the complete rows (1 where that is 0 or not
// finite), so that nothing the optimizer tests -- the objective's size, its
// steps, its stopping rules -- depends on the units of the data, and the
// estimates carried back to the data's units by varmafit_restore_units.
// Missing values stay missing.  scale: k doubles, receives s.
void varmafit_standardize(double* series, std::int64_t T, int k, double* scale);

// The model fitted to the standardized series in the units of the data:
// Phi_b(i, j) and Theta_b(i, j) times s_i / s_j, Sigma(i, j) times s_i s_j.
void varmafit_restore_units(const double* scale, int k, int P, int Q, double* ar, double* ma,
                            double* sigma_packed);

// The starting point: the AR blocks by least squares of Y(t) on Y(t - l),
// l in the AR lags, over the complete stretches of the series; MA blocks 0;
// Sigma the mean outer product of the residuals.  Without AR lags, or when
// the regression has fewer complete rows than 2 k P or a singular cross-product
// matrix, the AR blocks stay 0 and Sigma is the mean outer product of the
// complete rows.  A Sigma that is not positive definite becomes I.  `work`
// holds varmafit_start_work_size doubles; ar, ma and sigma_packed are written.
std::uint64_t varmafit_start_work_size(int k, int P);
void varmafit_start(const VarmafitData& data, double* ar, double* ma, double* sigma_packed,
                    double* work);

// Typical sizes of the parameters for the optimizer: s_i / s_j for the
// coefficient of variable j in equation i (s the root mean square of the
// complete rows' columns), and sqrt(Sigma_ii) of the start for row i of L.
void varmafit_typical_sizes(const VarmafitData& data, const double* sigma_packed, double* typ);

// The objective callback handed to the optimizer through the bridge: -L at
// the point in the parameter vector, or a failed evaluation (the host's
// missing value reported).
int varmafit_objective(void* args);

// -L at the parameter vector x without the optimizer (the same steps as the
// callback): 0 with *value, or non-zero for a failed evaluation (message 178
// issued for a singular F(t), 369 for |L| above 2^512 / 100).  x gets its L part
// replaced by the Cholesky factor of the Sigma used.
//
// With grad (n doubles) and the model's gradient work, also the gradient of
// -L in the parameter vector as x held it on entry (for the L part,
// d(-L)/dL = -2 (dL/dSigma) L); *grad_given tells whether it was written
// (not where the filter started diffuse or floored an F: the optimizer then
// differences).
int varmafit_evaluate(const VarmafitData& data, VarmafitModel& model, double* x, double* value,
                      double* grad = nullptr, bool* grad_given = nullptr);

}  // namespace mvtsa
