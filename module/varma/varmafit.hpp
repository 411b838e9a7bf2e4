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

// A lag list of VARMAFIT or FARMAFIT (input i, given): no value 2,
// character 13, missing values 17, a dimension below 1 message 350, a
// matrix message 351 ("matrix", "vector"), an element below 1 (so also one
// in (0, 1), whose integer part names no lag) message 353, an element above
// 2147483647 status 18.  Fills *lags with the distinct integer lags
// ascending, *count and *order (the largest).
int fit_lag_list(const ArgList& in, int i, WorkBlock<int>* lags, int* count, int* order);

// Pivot tolerance of the Cholesky factor in the vector: 2^-53.
inline constexpr double kVarmafitPivotTol = 1.110223024625157e-16;

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
// point and its likelihood (log-likelihood, D, S).
struct VarmafitModel {
  double* ar = nullptr;
  double* ma = nullptr;
  double* sigma_packed = nullptr;
  double loglik[3] = {0.0, 0.0, 0.0};
  // A host error (a failed allocation) was raised in an evaluation: every
  // later evaluation fails at once and the fit ends with status 1.
  bool host_error = false;
};

// The objective callback handed to the optimizer through the bridge: -L at
// the point in the parameter vector, or a failed evaluation (the host's
// missing value reported).
int varmafit_objective(void* args);

// -L at the parameter vector x without the optimizer (the same steps as the
// callback): 0 with *value, or non-zero for a failed evaluation.  x gets its
// L part replaced by the Cholesky factor of the Sigma used.
int varmafit_evaluate(const VarmafitData& data, VarmafitModel& model, double* x, double* value);

}  // namespace mvtsa
