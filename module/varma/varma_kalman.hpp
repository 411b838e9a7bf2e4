// Exact Gaussian log-likelihood of a VARMA model by the Kalman filter on a
// state-space form, and the stationary initial covariance of that filter.
//
// Model (mean zero, k variables):
//   Y(t) - sum_l Phi_l Y(t-l) = e(t) - sum_j Theta_j e(t-j),   e(t) ~ N(0, Sigma)
#pragma once

#include <cstdint>

namespace mvtsa {

// Pivot tolerance of the state-space filter: the stationary-covariance
// solve, the generalized inverse of F and the eigenvalue check of P(1).
inline constexpr double kFilterTol = 1e-10;
// Diagonal of P(1), in units of each variable's innovation variance, when
// the stationary covariance cannot be found.
inline constexpr double kFallbackVariance = 1e6;

// Outcomes of kalman_initial_covariance.
enum InitialCovariance : int {
  kInitialStationary = 0,  // P(1) is the stationary covariance
  kInitialSingular = 1,    // P = T P T' + Q is singular at kFilterTol: the fallback
  kInitialIndefinite = 2,  // its solution has a negative eigenvalue: the fallback
};

// Doubles of work area kalman_initial_covariance needs for state dimension
// f (UINT64_MAX when that cannot be represented).
std::uint64_t kalman_initial_covariance_work(std::int64_t f);

// P(1) for the transition T and the state noise covariance Q (row-major
// f x f each; Q symmetric): the solution of P = T P T' + Q, symmetrised,
// from discrete_lyapunov (Bartels-Stewart on the real Schur form of T, with
// pivot tolerance kFilterTol on its block systems), in O(f^3) operations and
// O(f^2) memory.  When that equation is singular at the tolerance (or T has
// no computable Schur form, as when it holds NaN), or the smallest eigenvalue
// of the solution (symmetric_eigenvalues) is below -kFilterTol times the
// largest in magnitude, or the solution is not finite, the fallback: P(1)
// diagonal with 1e6 Sigma_jj for each state element of variable j (Sigma_jj
// = Q_jj, j < k, the first block of Q; 1e6 where that is not positive), a
// diffuse start in the units of the data.
// Measured (tests/varma/initial_covariance_test.cpp): within 2e-12
// relative of 60-digit solutions for simple roots up to 1 - 1e-6 in modulus,
// where the dense solve of (I - T (x) T) vec P = vec Q by LU that it replaces
// is off by up to 1.7e-9; the two agree to 1e-10 where the dense one is
// accurate, and on every fallback.
// work: kalman_initial_covariance_work(f) doubles.  Returns the outcome.
int kalman_initial_covariance(std::int64_t f, int k, const double* T, const double* Q, double* P,
                              double* work);

// ---- The filter in work space the caller gives: nothing is allocated and no
// utility file is used; only the sweeps of F go through the host's sweep
// operation.

// Outcomes of kalman_filter and kalman_step_loglik besides 0 and the
// statuses a sink returns (which are passed on).
enum KalmanOutcome : int {
  kKalmanDiverged = -1,  // P(t+1) reached kDivergenceLimit in magnitude, or holds a NaN
  kKalmanSingular = -2,  // F(t) could not be inverted (sweep_inverse left a pivot)
  kKalmanCancelled = -3, // the caller cancelled the call (cancel_requested)
};

// A row of k values is missing to the filter when any element is missing
// or above kSeriesBound (2^512 / 100) in magnitude.
bool kalman_row_missing(const double* y, int k);

// Rows the filter runs between two questions to the host whether the call
// has been cancelled.
inline constexpr std::int64_t kCancelPollRows = 64;

// Steps of covariances the filter keeps to find a repeating steady state or
// cycle; the likelihood keeps as many factorisations of F.
inline constexpr std::int64_t kFilterRing = 4;

// What kalman_filter hands on at each step t = 0 .. T-1 (0-based rows); a
// non-zero return stops the filter with that status.
class KalmanSink {
 public:
  // a(t), P(t): the moments of row t predicted from the rows before it
  // (t = 0: a(1) = 0 and P(1), handed on also when T = 0).  same_as >= 0:
  // P equals, to the last bit, the P handed on at that step, one of the last
  // kFilterRing steps handed on without same_as (the filter repeats a
  // steady state or a short cycle), so whatever the sink derived from that P
  // alone still holds.  Otherwise -1.
  virtual int predicted(std::int64_t t, const double* a, const double* P,
                        std::int64_t same_as) = 0;
  // a(t|t), P(t|t): the moments after the update with row t.
  virtual int filtered(std::int64_t t, const double* att, const double* Ptt) = 0;
  // The outcome of P(1) (InitialCovariance), before the first step.
  virtual void initial(int outcome) { (void)outcome; }

 protected:
  ~KalmanSink() = default;
};

// Doubles of work kalman_filter needs for k variables and m = max(pmax,
// qmax + 1) blocks (UINT64_MAX when that cannot be represented).
std::uint64_t kalman_filter_work(int k, int pmax, int qmax);

// The Kalman filter of the model below on the T x k series, in `work`
// (kalman_filter_work doubles; its contents on entry do not matter):
// R, Q = R Sigma R' and T from the blocks, P(1) by the cheaper of two exact
// routes (state_covariance_by_autocov): from the autocovariances
// (varma_state_covariance) or by kalman_initial_covariance; a(1) = 0, then
// for each row the update (a missing row, kalman_row_missing, leaves the
// moments as they are; otherwise
// the gain through the generalized inverse of F = Z P Z' by sweeping with
// tolerance kFilterTol) and, except after the last row, the prediction
// a(t+1) = T a(t|t), P(t+1) = T P(t|t) T' + Q.  P(t|t), the gain and P(t+1)
// depend on P(t) alone: once updates with complete rows give back P(t+1)
// equal to P(t+1-L) to the last bit (L <= kFilterRing), the covariances
// repeat with period L while the rows stay complete, and only the state is
// carried forward (a pure VAR reaches this within a few rows of p).  The
// results are those of the full recursion, bit for bit (reuse_repeats false
// runs the full recursion throughout, the reference).  Every kCancelPollRows
// rows it asks the host whether the call has been cancelled.  ar_lags and
// ma_lags are required.  Returns 0, kKalmanDiverged, kKalmanCancelled, or the
// first non-zero status of the sink.
int kalman_filter(const double* series, std::int64_t T, int k, const double* ar, int ar_count,
                  int pmax, const int* ar_lags, const double* ma, int ma_count, int qmax,
                  const int* ma_lags, const double* sigma_packed, double* work, KalmanSink* sink,
                  bool reuse_repeats = true);

// The system kalman_filter built in `work` for the same k, pmax and qmax:
// the dense f x f transition T and the state noise covariance Q = R Sigma R'
// (f x f), valid after the call (forecasts go on from them).
void kalman_filter_system(const double* work, int k, int pmax, int qmax, const double** T,
                          const double** Q);

// R = [Psi_0; ...; Psi_{m-1}] (f x k), the MA(infinity) weights of the
// state noise, as kalman_filter built it in `work`, valid after the call.
const double* kalman_filter_noise(const double* work, int k, int pmax, int qmax);

// How the terms of one F are formed (kalman_step_loglik).
enum KalmanFactor : int {
  kFactorInverse = 0,  // every relative pivot of F passed: F^-1 and log det F
  kFactorFloored = 1,  // floored_ldl's factors of F with pivots raised
  kFactorFailed = 2,   // F has a negative or undefined diagonal element
};

// The sums of the likelihood over the steps so far (kalman_step_loglik).
struct KalmanSums {
  double D = 0.0;      // sum of the log-determinants of the (floored) F(t)
  double S = 0.0;      // sum of the quadratic forms
  int det_status = 0;  // lu_solve's status for the last det F(t) of an observed row
  // lu_solve's status, the log-determinant added to D and how the factors in
  // the scratch were formed, of step j, in slot j mod kFilterRing.
  double log_dets[kFilterRing] = {};
  int det_statuses[kFilterRing] = {};
  int factors[kFilterRing] = {};
};

// Doubles of scratch kalman_step_loglik needs for k variables.
std::uint64_t kalman_step_work(int k);

// Adds the terms of row y (k values) from its predicted moments a (f) and P
// (f x f), F = the top-left k x k block of P, v = y - a[0:k].  The floor on
// near-singular F is scale-free: when sweep_inverse sweeps every pivot of F
// (each conditional variance at least 2^-26.5 times its variance),
//   D += log det F,   S += v' F^-1 v;
// otherwise F is replaced by the covariance whose conditional variances are
// raised to 2^-26.5 times the variances (floored_ldl; a variable of zero
// variance is left out), and D and S take its log-determinant and quadratic
// form.  Both stay finite as F nears singularity, and a change of units
// changes D by the log-determinant of the change and leaves S as it is.  A
// missing row adds nothing: the likelihood is that of the rows observed.
// Returns 0, or kKalmanSingular when an observed row's F has a negative or
// undefined diagonal element.
// scratch: kalman_step_work(k) doubles, kept with sums from call to call.
// step: the row's index.  same_as >= 0: P is the P of that earlier step
// (KalmanSink::predicted), whose determinant and factors of F are reused;
// -1 computes them.
int kalman_step_loglik(const double* y, const double* a, const double* P, int k, std::int64_t f,
                       double* scratch, KalmanSums* sums, std::int64_t step,
                       std::int64_t same_as);

// log-likelihood of the k-variate VARMA model for the T x k series (row
// major; a row holding a missing value, or an element above kSeriesBound =
// 2^512 / 100 in magnitude, is treated as missing) by the Kalman filter.
//
//   ar: ar_count compact k x k blocks, block i the coefficient at lag
//       ar_lags[i] (ascending, 1 .. pmax); ar_lags null means lags 1 .. ar_count.
//   ma: likewise with ma_count, qmax, ma_lags.
//   sigma_packed: the innovation covariance, packed lower triangle.
//
// Fills *loglik = -(D + S)/2, *logdet = D (sum of log det F(t)) and
// *quad = S (sum of v(t)' F(t)^-1 v(t)) over the rows observed, F(t) floored
// as kalman_step_loglik says; the constant -(T k/2) log(2 pi) is not
// included.
//
// Runs kalman_filter with the predicted and filtered moments written to four
// utility files (varma_kalman_file.cpp), then sums kalman_step_loglik over
// the predicted moments read back.  Uses the host: a memory pool for the
// work, the utility files and the host's sweep operation.  Returns 0; 1
// after a host error (allocation); 100 after message 178 (a singular F(t)) or after
// error_code_report (a utility file operation failed), or without a message
// when the filter covariance diverges; otherwise the determinant status
// (lu_solve) of the last F(T), with the three values filled.  Sizes or
// pointers that cannot describe a model (k < 1, a negative count) give 11.
int varma_kalman_loglik(double* loglik, double* logdet, double* quad, const double* series,
                        std::int64_t T, int k, const double* ar, int ar_count, int pmax,
                        const int* ar_lags, const double* ma, int ma_count, int qmax,
                        const int* ma_lags, const double* sigma_packed);

}  // namespace mvtsa
