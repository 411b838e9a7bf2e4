// Dense BFGS quasi-Newton minimisation with simple bounds, for objectives
// that may fail to evaluate at some points.
//
// The inverse Hessian approximation H starts as the identity, is rescaled by
// s'y / y'y after the first accepted step, and gets the BFGS update
//   H+ = (I - rho s y') H (I - rho y s') + rho s s',   rho = 1 / s'y
// only when s'y > 0.  Bounds are handled by projection: the start is clamped
// into the box, a parameter on a bound whose gradient pushes outward is held
// for the iteration, trial points are clamped, and s and y are zeroed on held
// parameters before the update.  Gradients come from central differences
// (one-sided at a bound or where one side fails).  The line search backtracks
// from step 1 along the clamped path with the Armijo condition, halving after
// a failed evaluation too.  The result is the best point evaluated.
#pragma once

#include <cstdint>

namespace nlbrg {

// 0 with *f set, or non-zero for a failed evaluation.
using EvalFn = int (*)(void* user, const double* x, double* f);

struct BfgsOptions {
  std::int64_t max_iterations = 500;
  double gtol = 1e-8;           // largest free |g_i| <= gtol * max(1, |f|)
  double ftol = 1e-10;          // (f_old - f_new) <= ftol * max(1, |f_old|), twice running
  double max_relative_step = 10.0;  // max_i |d_i| / max(1, |x_i|) of a trial step
};

struct BfgsStats {
  std::int64_t iterations = 0;
  std::int64_t evaluations = 0;
  std::int64_t failed = 0;
  double f = 0.0;
};

// Doubles of work space for n parameters (64-bit; n * n + 12 n).
std::uint64_t bfgs_work_size(std::int64_t n);

// Minimises over the box [lower, upper] (either may be null: unbounded).
// x: start in, best point out.  Returns a result code of nlbrg_records.hpp
// (kConvergedGradient, kConvergedFunction, kNoProgress, kIterationLimit,
// kBadSetup or kStartFailed).  Deterministic: the same inputs give the same
// sequence of evaluations, bit for bit.
int bfgs_minimise(std::int64_t n, double* x, const double* lower, const double* upper,
                  EvalFn eval, void* user, const BfgsOptions& options, double* work,
                  BfgsStats* stats);

}  // namespace nlbrg
