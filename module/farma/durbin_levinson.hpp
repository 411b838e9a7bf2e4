// The Durbin-Levinson recursion (Levinson 1947, Durbin 1960; Brockwell and
// Davis, Time Series: Theory and Methods, section 5.2) on the
// autocovariances gamma(0..n-1) of a stationary series s_0..s_(n-1): the
// coefficients phi_(t,1..t) of the best linear predictor of s_t from
// s_0..s_(t-1) and its error variance v_t,
//   phi_(t,t) = (gamma(t) - sum_{j=1..t-1} phi_(t-1,j) gamma(t-j)) / v_(t-1),
//   phi_(t,j) = phi_(t-1,j) - phi_(t,t) phi_(t-1,t-j)      (j = 1..t-1),
//   v_0 = gamma(0),  v_t = v_(t-1) (1 - phi_(t,t)^2).
// With Sigma = [gamma(|i - j|)] = L L', v_t is the t-th pivot of the
// factorisation (L_tt^2 = v_t, the value that sweeping pivots 0..t-1 leaves
// on the diagonal at t) and row t of L^-1 is (-phi_(t,t), ..., -phi_(t,1), 1)
// / sqrt(v_t).  So
//   ln det Sigma = sum_t ln v_t,   y' Sigma^-1 y = sum_t e_t^2 / v_t,
//   e_t = y_t - sum_{j=1..t} phi_(t,j) y_(t-j),
// and x = L z is x_t = sum_{j=1..t} phi_(t,j) x_(t-j) + sqrt(v_t) z_t:
// O(n^2) operations (about 1.5 n^2 multiply-adds) in O(n) memory.
//
// The caller runs the recursion one order at a time, choosing phi_(t,t)
// (its pivot rules are its own): levinson_step raises the predictor from
// order m to m + 1 and returns, from the same pass over the coefficients,
// the two inner products the next order needs.  The coefficients are kept
// once, reversed (phi_(t,t) first), so that both inner products run forwards
// over contiguous arrays; the update, which pairs phi_(t,j) with
// phi_(t,t+1-j), runs from both ends of the same array.
#pragma once

#include <cstdint>

namespace mvtsa {

// Doubles of work space for a recursion over n values: the coefficients.
inline std::int64_t levinson_work_size(std::int64_t n) { return n; }

// The inner products of the predictor of order m + 1 with the series and
// with the autocovariances:
//   pred = sum_{j=1..m+1} phi_(m+1,j) s_(m+1-j)      (the prediction of s_(m+1)),
//   conv = sum_{j=1..m+1} phi_(m+1,j) gamma(m+2-j)   (gamma(m+2) - conv is the
//          numerator of phi_(m+2,m+2)).
struct LevinsonSums {
  double pred = 0.0;
  double conv = 0.0;
};

// Raises the predictor held in work (levinson_work_size(n) doubles, whose
// content the caller leaves alone between steps) from order m to order
// m + 1 < n with phi_(m+1,m+1) = kappa; the first step has m = 0.  Reads
// s_0..s_m and gamma(1..m+1).  Rounding follows a fixed order of
// operations: the partial sums are fixed by position, not left to the
// compiler.
LevinsonSums levinson_step(double* work, std::int64_t n, std::int64_t m, double kappa,
                           const double* s, const double* gamma);

}  // namespace mvtsa
