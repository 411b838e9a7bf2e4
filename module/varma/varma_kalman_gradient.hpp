// The gradient of the Kalman-filter log-likelihood of a VARMA model
// (varma_kalman.hpp) with respect to its AR blocks, MA blocks and Sigma, by
// the adjoint (smoothing) recursions of the state-space score (Engle and
// Watson 1981; Koopman and Shephard 1992): one forward pass of the filter
// that keeps what the backward pass reads, and one backward pass whose cost
// does not grow with the number of parameters.
//
// Model and form as in varma_state_space.hpp:
//   state(t+1) = T state(t) + R e(t+1),  Y(t) = Z state(t),  Q = R Sigma R'.
// With the innovation v(t) = y(t) - Z a(t), F(t) = Z P(t) Z', the gain
// K(t) = P(t) Z' F(t)^-1 and A(t) = I - K(t) Z, the backward pass runs
//   r(t-1) = Z' F^-1 v + A' T' r(t),   N(t-1) = Z' F^-1 Z + A' T' N(t) T A
// from r = 0, N = 0 after the last row (a missing row: r(t-1) = T' r(t),
// N(t-1) = T' N(t) T).  r and W = (r r' - N) / 2 are the derivatives of the
// log-likelihood of the rows after t in the predicted moments a(t+1), P(t+1)
// (dL = r' da + tr(W dP) for symmetric dP), so that through
// a(t+1) = T a(t|t) and P(t+1) = T P(t|t) T' + Q
//   dL/dT = sum_t r a(t|t)' + 2 W T P(t|t),     dL/dQ = sum_t W.
// P(1), the stationary solution of P = T P T' + Q, adds with W(0) from the
// last step back the solution M of the adjoint equation M = T' M T + W(0)
// (one Lyapunov solve, whatever the number of parameters):
//   dL/dQ += M,   dL/dT += 2 M T P(1).
// The chain to the parameters: Phi_l sits at block (m-1, m-l) of T;
// R = [Psi_0; ...] with Psi_j = sum_l Phi_l Psi_{j-l} - Theta_j, so
// dL/dR = 2 (dL/dQ) R Sigma is carried back through that recursion;
// dL/dSigma = R' (dL/dQ) R.
//
// Where the covariances repeat (KalmanSink's same_as), the forward pass
// keeps one copy of the moments per distinct P.  N(t-1) depends on N(t) and
// the moments of step t alone; where the filter's covariances cycle, N
// contracts onto a cycle of the same period, and once it repeats within 16
// units of roundoff (its last bits need not settle) it is not formed again:
// only r is carried back, and the terms that need N are summed per phase of
// the cycle and taken once.  Measured (bench/varma_gradient.cpp, k = 2 and
// 3, VAR(2), VARMA(1,1), VARMA(2,1), T = 200 and 1000): value and gradient
// cost 2.4 to 3.0 times the value alone, where differences cost n + 1
// values for n = 11 to 33 parameters.
#pragma once

#include <cstdint>

namespace mvtsa {

// Derivatives of the log-likelihood (out[0] of varma_kalman_loglik_gradient).
struct KalmanGradient {
  double* ar = nullptr;     // ar_count compact k x k blocks, dL/dPhi
  double* ma = nullptr;     // ma_count blocks, dL/dTheta
  double* sigma = nullptr;  // k x k, symmetric: dL = tr(sigma dSigma)
  // false where the value was computed but no gradient: P(1) is the diffuse
  // fallback (not the stationary covariance), or an observed row's F was
  // floored (kalman_step_loglik); the arrays are then not filled.
  bool given = false;
};

// Terms of the gradient a test may leave out, to show that its check
// catches each (0 in every other use).
enum KalmanGradientOmit : unsigned {
  kOmitInitialTerm = 1,  // the dependence of P(1) on the parameters
  kOmitGainTerm = 2,     // A = I - K Z taken as I in the backward recursions
  kOmitStateTerm = 4,    // r a(t|t)' in dL/dT
};

// Doubles of work varma_kalman_loglik_gradient needs beside the filter's
// (kalman_filter_work) for T rows; UINT64_MAX when that cannot be
// represented.
std::uint64_t kalman_gradient_work(int k, int pmax, int qmax, std::int64_t T);

// The log-likelihood of varmafit_kalman_loglik (out[0] = -(D + S) / 2,
// out[1] = D, out[2] = S, the same bits) and its gradient into *grad.
// filter_work: kalman_filter_work(k, pmax, qmax) doubles; grad_work:
// kalman_gradient_work(k, pmax, qmax, T) doubles.  Returns what
// varmafit_kalman_loglik returns.
int varma_kalman_loglik_gradient(double out[3], KalmanGradient* grad, const double* series,
                                 std::int64_t T, int k, const double* ar, int ar_count, int pmax,
                                 const int* ar_lags, const double* ma, int ma_count, int qmax,
                                 const int* ma_lags, const double* sigma_packed,
                                 double* filter_work, double* grad_work, unsigned omit = 0);

}  // namespace mvtsa
