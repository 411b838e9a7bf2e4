// Second derivatives by differences, shared by the observed information of
// both families: the gradient and the Hessian of a function of m parameters
// by central differences refined with Richardson's extrapolation, and the
// covariance of the estimates as the inverse of minus the Hessian.
//
// Differences (step h_i along parameter i, e_i its unit vector, f_0 = f(x),
// f_i^+- = f(x +- h_i e_i), f_ij^+- = f(x +- (h_i e_i + h_j e_j))):
//   g_i(h)  = (f_i^+ - f_i^-) / (2 h_i),
//   H_ii(h) = (f_i^+ - 2 f_0 + f_i^-) / h_i^2,
//   H_ij(h) = (f_ij^+ + f_ij^- - f_i^+ - f_i^- - f_j^+ - f_j^- + 2 f_0) / (2 h_i h_j),
// each symmetric in h, so that its error is c_1 h^2 + c_2 h^4 + ...; m (m + 1)
// evaluations per step size.  Richardson's extrapolation over the steps
// h, h/2, ..., h/2^(L-1) (ratio 2) removes the terms h^2 .. h^(2L-2):
//   T(l, 0) = D(h / 2^l),
//   T(l, j) = T(l, j-1) + (T(l, j-1) - T(l-1, j-1)) / (4^j - 1),
// and the result is T(L-1, L-1).  Tested (tests/fit/hessian_test.cpp) on
// functions with known derivatives: with L = 3 and h = 2^-5 the Hessian of
// smooth functions of unit scale agrees to 1e-9 relative.
#pragma once

#include <cstdint>

namespace mvtsa {

// A function of m parameters with k values (several functions of the same
// points differenced together): 0 with values[0..k) filled, or a non-zero
// code, which stops the differences and is returned as it is.
using DifferenceFunction = int (*)(void* context, const double* x, double* values);

struct DifferenceProblem {
  DifferenceFunction f = nullptr;
  void* context = nullptr;
  int m = 0;  // parameters
  int k = 1;  // values per point
};

// Step sizes h, h/2, h/4: enough for likelihoods whose values carry a
// relative error of 1e-12 or more, where smaller steps gain nothing.
inline constexpr int kRichardsonLevels = 3;

// Doubles of work space hessian_by_differences needs.
std::int64_t hessian_work_size(int m, int k, int levels);

// Evaluates the problem's function at x and around it with the steps step[i]
// (positive; x +- step[i] e_i and the pairs must be points where f can be
// evaluated) at `levels` sizes and writes
//   value: k values f(x),
//   grad:  k x m (value r's gradient in grad[r m .. r m + m)),
//   hess:  k blocks of m x m (value r's Hessian, row-major, symmetric).
// grad may be null.  Returns 0 or the first non-zero code of f.
int hessian_by_differences(const DifferenceProblem& problem, const double* x, const double* step,
                           int levels, double* value, double* grad, double* hess, double* work);

// Doubles of work space information_covariance needs.
inline std::int64_t information_work_size(int m) {
  return std::int64_t(m) * (std::int64_t(m) + 1) / 2;
}

// cov = (-hess)^-1 (m x m, row-major) when -hess is positive definite: each
// Cholesky pivot of -hess above 2^-26.5 times its diagonal element (a test
// that does not depend on the units of the parameters).  Returns 0, or 1 when
// -hess is not positive definite (cov is then left alone).
int information_covariance(const double* hess, int m, double* cov, double* work);

}  // namespace mvtsa
