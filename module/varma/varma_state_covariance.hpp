// P(1), the stationary covariance of the Kalman filter's state
// (varma_kalman.hpp), from the model's autocovariances: O(f^2) beyond the
// autocovariances themselves, where the Lyapunov equation costs O(f^3).
//
// Model (mean zero, k variables):
//   Y(t) - sum_l Phi_l Y(t-l) = e(t) - sum_j Theta_j e(t-j),   e(t) ~ N(0, Sigma)
// State of the filter's form, m blocks of k (f = k m): block i holds
// Y(t+i|t), the prediction of Y(t+i) from the infinite past up to t (block 0
// is Y(t) itself).  The error of that prediction is sum_{l<i} Psi_l e(t+i-l)
// and is orthogonal to it, so
//   P_ij = Gamma(j-i) - sum_{l<i} Psi_l Sigma Psi_{l+j-i}'        (i <= j)
// with Gamma(h) = E[Y(t) Y(t+h)'].  With Q_ij = Psi_i Sigma Psi_j', the
// blocks of the state noise Q = R Sigma R', that is the recursion along the
// block diagonals
//   P_0j = Gamma(j),   P_{i+1,j+1} = P_ij - Q_ij,
// which is P = T P T' + Q read off the identity blocks of T (the AR blocks
// of T's last block row hold because Gamma solves the Yule-Walker
// equations).  A pure moving average needs no autocovariances: T is a
// shift, and P = sum_n T^n Q T'^n is summed from the last block,
//   P_{m-1,j} = Q_{m-1,j},   P_ij = Q_ij + P_{i+1,j+1}.
#pragma once

#include <cstdint>

namespace mvtsa {

// The model as the filter holds it: compact k x k blocks at their lags
// (ascending), the innovation covariance packed, m = max(pmax, qmax + 1).
struct VarmaStateModel {
  int k = 0;
  int m = 0;
  const double* ar = nullptr;
  const int* ar_lags = nullptr;
  int ar_count = 0;
  const double* ma = nullptr;
  const int* ma_lags = nullptr;
  int ma_count = 0;
  const double* sigma_packed = nullptr;
};

// The lags of the model's non-zero blocks (AR and MA, those in 1 .. m)
// reduced by their gcd g: AR lags up to p_reduced g, MA lags up to
// q_reduced g.  Each of the g interleaved series Y(s), Y(s+g), ... is then a
// VARMA(p_reduced, q_reduced) process of its own, independent of the others.
// A model without a non-zero block has g = 1 and both orders 0.
struct ReducedLags {
  int g = 1;
  int p_reduced = 0;
  int q_reduced = 0;
};
ReducedLags reduced_lags(const VarmaStateModel& s);

// Whether varma_state_covariance is the cheaper route to P(1) than the
// Lyapunov equation (kalman_initial_covariance) for this model.  The
// autocovariances solve a dense system of order about n = k^2 p_reduced / 2
// (varma_autocov: about n^3 multiplications and 3.5 n^2 doubles), the
// Lyapunov equation a Schur form of order f = k m (about 30 f^3
// multiplications and 7 f^2 doubles with the dense transition).  The
// autocovariances are taken while n <= 1.5 f, that is k p_reduced <=
// kAutocovRouteOrder m: then they cost at most a ninth of the time and at
// most 8 f^2 doubles.  Pure moving averages always take them.
bool state_covariance_by_autocov(const VarmaStateModel& s);
inline constexpr int kAutocovRouteOrder = 3;

// Doubles of work varma_state_covariance needs for k variables, AR lags up
// to pmax and MA lags up to qmax (UINT64_MAX when that cannot be
// represented, or the state dimension k max(pmax, qmax + 1) is above 2^26).
std::uint64_t varma_state_covariance_work(int k, int pmax, int qmax);

// P(1) (f x f, row-major) of the model s from its state noise Q (f x f,
// symmetric, Q = R Sigma R' as the filter builds it), by the recursions
// above on the g interleaved series of reduced_lags (Gamma(h) = 0 unless g
// divides h; the autocovariances of the reduced model by
// varma_autocov_work), symmetrised.  The outcome and the fallback are those
// of kalman_initial_covariance: kInitialSingular when the autocovariances'
// system is singular (varma_autocov_work's status), kInitialIndefinite when
// P is not finite or the smallest eigenvalue of the balanced P (scaled by
// the powers of two nearest the standard deviations sqrt(Sigma_jj)) is
// below -kFilterTol times the largest in magnitude; either way P is the
// diffuse start, diagonal with kFallbackVariance Sigma_jj for each state
// element of variable j.  The eigenvalues are those of the g classes of
// blocks i = r, r + g, ... (P holds no covariance between two classes),
// O(f^3 / g^2) operations.
// work: varma_state_covariance_work(k, pmax, qmax) doubles.  Returns the outcome.
int varma_state_covariance(const VarmaStateModel& s, const double* Q, double* P, double* work);

// The balance of the P(1) equations: d_i, the power of two nearest the
// standard deviation sqrt(Q_jj) of state element i's variable j = i mod k
// (Q's first block is Sigma; 1 where Q_jj is not positive and finite).
void kalman_balance_scales(std::int64_t f, int k, const double* Q, double* d);

// The diffuse start: P (f x f) diagonal with kFallbackVariance Q_jj for each
// state element of variable j = i mod k (kFallbackVariance where Q_jj is not
// positive and finite), so that it follows the units of the data.
void kalman_fallback_covariance(std::int64_t f, int k, const double* Q, double* P);

}  // namespace mvtsa
