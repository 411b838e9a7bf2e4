// Dense BFGS quasi-Newton minimisation with simple bounds, for objectives
// that may fail to evaluate at some points and whose parameters may differ
// in scale by orders of magnitude.  The method is that of Nocedal and
// Wright, Numerical Optimization (2nd ed., 2006): the BFGS update of the
// inverse Hessian (section 6.1, eq. 6.17), the rescaling of the first
// approximation by s'y / y'y (eq. 6.20, here in the metric D), a
// backtracking line search with the Armijo condition and safeguarded
// quadratic interpolation (sections 3.1 and 3.5), and bounds by projection
// onto the box (the gradient projection idea of section 16.7, without its
// Cauchy point).  Differences follow section 8.1: forward steps sqrt(eps),
// central steps eps^(1/3), scaled by the size of each parameter.
//
// Scale.  Each parameter has a typical size s_i: the magnitude of its start,
// or 1 for a start of 0 (see BfgsOptions::typical).  Difference steps,
// the first step and the stopping rule are measured in these units, so that
// a problem and the same problem with rescaled parameters take the same path.
//
// Gradient.  Forward differences g_i = (f(x + h_i e_i) - f(x)) / h_i with
// h_i = sqrt(eps) max(|x_i|, s_i) (the backward side at an upper bound or
// where the forward probe fails).  When a line search along a forward
// gradient makes no progress or only a vanishing decrease, or when a forward
// gradient passes the stopping rule, the gradient is taken again by central differences,
// h_i = eps^(1/3) max(|x_i|, s_i), and stays central for the rest of the
// run: the forward error O(h f'') then matters against the gradient.
// A parameter whose bounds coincide is fixed and never probed.
//
// Hessian.  The inverse Hessian approximation starts as H0 = c D with
// D = diag(s_i^2) and c chosen from the first gradient so that the first
// step moves no free parameter by more than a tenth of its typical size;
// after the first accepted step it is rescaled to (s'y / y'D y) D and then
// gets the BFGS update
//   H+ = (I - rho s y') H (I - rho y s') + rho s s',   rho = 1 / s'y
// when s'y > 0.  Bounds are handled by projection: the start is clamped into
// the box, a parameter on a bound whose gradient pushes outward is held for
// the iteration, trial points are clamped, and s and y are zeroed on held
// parameters before the update.  The line search backtracks from step 1
// along the clamped path with the Armijo condition, by safeguarded quadratic
// interpolation (the new step within [0.1, 0.5] of the last), halving after
// a failed evaluation.
//
// Gradients given by the objective.  With BfgsOptions::eval_gradient the
// optimizer asks for the gradient at the start and at every line-search
// trial point (a trial is accepted far more often than not) and takes no
// differences; the stopping rule counts the run as central from the start.
// Where the objective gives a value without a gradient (or one with an
// entry that is not finite, fixed parameters aside) the gradient at that
// point is taken by central differences.  Without eval_gradient nothing
// changes: the same evaluations, bit for bit, as an objective of values.
//
// Stopping.  Converged when the relative projected gradient
//   max over free i of |g_i| max(|x_i|, s_i) / max(|f|, 1)
// is at most gtol, or when the relative decrease of f is at most ftol on
// three iterations running with central differences.  With given
// gradients also when, once curvature has been learnt, the decrease that
// the quasi-Newton step predicts, -g'd / 2 (the Newton decrement of Nocedal
// and Wright's section 3.3 for H), is at most decrement_tol max(|f|, 1):
// near the optimum of a long series the gradient test can ask for digits
// that f itself does not carry (a log-likelihood of 90 summed over 10^4
// terms), and the line search then creeps by steps of a few ulps of f.  No point is
// evaluated twice: the value at the current point is carried from the line
// search, a backtracking step that lands exactly on the previous iterate
// takes its value, and the run's result is the best point evaluated, handed
// back without evaluating it again.
#pragma once

#include <cstdint>

namespace nlbrg {

// 0 with *f set, or non-zero for a failed evaluation.
using EvalFn = int (*)(void* user, const double* x, double* f);
// 0 with *f and, where *given is set true, g (n values) the gradient of f;
// non-zero for a failed evaluation.
using EvalGradFn = int (*)(void* user, const double* x, double* f, double* g, bool* given);

struct BfgsOptions {
  std::int64_t max_iterations = 500;
  double gtol = 1e-7;   // relative projected gradient
  double ftol = 1e-12;  // (f_old - f_new) <= ftol * max(1, |f_old|), three times running
  double max_relative_step = 10.0;  // max_i |d_i| / max(|x_i|, s_i) of a trial step
  // Typical sizes s_i (n values, each > 0), or null: |x0_i|, or 1 where x0_i = 0.
  const double* typical = nullptr;
  // An evaluation that also returns the gradient, or null: values only.
  EvalGradFn eval_gradient = nullptr;
  // With eval_gradient: -g'd / 2 <= decrement_tol max(1, |f|) stops the run.
  double decrement_tol = 1e-12;
};

struct BfgsStats {
  std::int64_t iterations = 0;
  std::int64_t evaluations = 0;
  std::int64_t failed = 0;
  std::int64_t gradient_evaluations = 0;  // evaluations spent on differences
  std::int64_t analytic = 0;              // evaluations that gave a gradient
  bool central = false;                   // the run ended with central differences
  double f = 0.0;
};

// Doubles of work space for n parameters (64-bit; n * n + 15 n).
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
