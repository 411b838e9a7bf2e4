// The Hessian of a smooth function by central second differences refined by
// Richardson extrapolation, and the covariance matrix it gives at a maximum
// (the inverse of the observed information).  Pure routines: the caller
// supplies every array and the function to differentiate.
#pragma once

#include <cstdint>

namespace mvtsa {

// The function: *value = f(x) for the n-vector x; returns 0, or a non-zero
// status that ends richardson_hessian with that status (a point outside the
// function's domain, a failed evaluation, a cancelled call).
using HessianFunction = int (*)(void* context, const double* x, double* value);

// The most levels of the extrapolation: steps h, h/2, h/4, h/8.
inline constexpr int kMaxRichardsonLevels = 4;

// Doubles of work richardson_hessian needs for n parameters.
std::uint64_t richardson_hessian_work(std::int64_t n);

// H (n x n, row-major, symmetric) = the second derivatives of f at x, with
// step[i] > 0 the largest step of parameter i and `levels` (1 ..
// kMaxRichardsonLevels) the number of steps.  At each level l (steps
// h_i = step[i] / 2^l) the central differences
//   D_ii = (f(x + h_i e_i) - 2 f(x) + f(x - h_i e_i)) / h_i^2
//   D_ij = (f(x + h_i e_i + h_j e_j) - 2 f(x) + f(x - h_i e_i - h_j e_j)
//           - h_i^2 D_ii - h_j^2 D_jj) / (2 h_i h_j)
// are even in h with error c_2 h^2 + c_4 h^4 + ...; Richardson extrapolation
// over the levels (A <- (4^m A(h/2) - A(h)) / (4^m - 1), m = 1 .. L - 1)
// removes the terms up to h^(2L - 2).  f is called 1 + 2 n L + n (n - 1) L
// times (L = levels).  Returns 0 or the first non-zero status of f.
int richardson_hessian(std::int64_t n, const double* x, const double* step, int levels,
                       HessianFunction f, void* context, double* H, double* work);

// Outcomes of hessian_covariance.
enum HessianCovariance : int {
  kCovarianceOk = 0,
  kNotNegativeDefinite = 1,  // -H is not positive definite: no covariance
};

// Doubles of work hessian_covariance needs for n parameters.
std::uint64_t hessian_covariance_work(std::int64_t n);

// cov = (-H)^-1 for the n x n Hessian H at a maximum.  -H is scaled to
// correlation form C = S^-1 (-H) S^-1 (S the square roots of its diagonal)
// and factored C = L L' (Cholesky); -H counts as positive definite when every
// diagonal element is positive and every pivot of C exceeds 2^-26.5 (a
// conditional variance of at least that share, a test that does not depend
// on the units of the parameters).  Then cov = S^-1 L^-T L^-1 S^-1.
// Returns kCovarianceOk, or kNotNegativeDefinite with cov not written.
int hessian_covariance(std::int64_t n, const double* H, double* cov, double* work);

}  // namespace mvtsa
