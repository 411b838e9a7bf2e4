// Sample auto- and cross-covariances of a T x k series, in the layout of the
// model's covariances: the k x k blocks C(0) .. C(L) stacked, row-major,
//   C(h)[i][j] = (1/T) sum_{t=1}^{T-h} (y_t,i - m_i)(y_{t+h},j - m_j),
// the estimate of Gamma(h) = E[y_t y_{t+h}'] with the sample mean m and the
// divisor T (so that the sequence is positive semi-definite, as the sample
// autocovariance function must be for the Yule-Walker and partial
// autocorrelation computations built on it).
#pragma once

#include <cstdint>

namespace mvtsa {

// y is T x k row-major without missing values, 1 <= L < T.  `cov` receives
// (L+1)*k*k doubles.  `mean` (k doubles) receives the sample mean; `work`
// holds T*k doubles (the centred series).
// Returns false when the caller cancelled the call (cov is then partly
// filled).  Cost: O(T k^2 (L+1)).
bool sample_cov(const double* y, std::int64_t T, int k, std::int64_t L, double* mean, double* cov,
                double* work);

// Correlations from the covariances of sample_cov:
//   R(h)[i][j] = C(h)[i][j] / sqrt(C(0)[i][i] C(0)[j][j]);
// a variable of zero sample variance has correlations 0 (1 with itself at lag 0).
void sample_corr(const double* cov, int k, std::int64_t L, double* corr);

}  // namespace mvtsa
