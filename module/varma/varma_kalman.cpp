// The Kalman filter of the VARMA model on its state-space form
// (varma_state_space.hpp).
//
// kalman_filter sets up the form and P(1) (varma_state_covariance from the
// autocovariances, or kalman_initial_covariance) in the caller's work and
// runs the filter steps (update, then prediction), handing each step's
// moments to a sink; the covariances of its last steps are kept in a
// CovarianceCycle (kalman_cycle.hpp), which finds where they repeat.
// varma_kalman_loglik's sink writes them to the utility files
// (varma_kalman_file.cpp); VARMAFIT's objective (varmafit_kalman) forms the
// likelihood (kalman_step_loglik) in the same pass.
#include "module/varma/varma_kalman.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/frame/host.hpp"
#include "module/frame/sizes.hpp"
#include "module/linalg/covariance.hpp"
#include "module/linalg/sweep_inverse.hpp"
#include "module/varma/kalman_cycle.hpp"
#include "module/varma/varma_state_covariance.hpp"
#include "module/varma/varma_state_space.hpp"

namespace mvtsa {

bool kalman_row_missing(const double* y, int k) {
  for (int i = 0; i < k; ++i)
    if (is_missing(y[i]) || std::fabs(y[i]) > kSeriesBound) return true;
  return false;
}

namespace {

// Threshold of the generalized inverse: b = 100 u max|diag F| when that
// maximum lies in (kTinyDiag, 1), else 100 u.
constexpr double kHundredRoundoff = kHundredRoundoffTol;
constexpr double kTinyDiag = kSqrtDblMin;

// Generalized inverse of the packed k x k matrix F by sweeping every pivot
// with tolerance 1e-10 |F_ii| (1e-10 itself when |F_ii| <= b), the pivots left
// over tried once more after the others; rows and columns of pivots never
// swept are zeroed.  Leaves the full inverse in g (k x k).
void generalized_inverse(double* Fp, int k, char* flags, double* work, double* tol, double* g) {
  double dmax = 0.0;
  for (int i = 0; i < k; ++i) dmax = std::max(dmax, std::fabs(Fp[packed_index(i, i)]));
  const double b = (dmax > kTinyDiag && dmax < 1.0) ? kHundredRoundoff * dmax : kHundredRoundoff;
  for (int i = 0; i < k; ++i) {
    const double d = std::fabs(Fp[packed_index(i, i)]);
    tol[i] = d > b ? kFilterTol * d : kFilterTol;
    work[i] = Fp[packed_index(i, i)];
  }
  for (int i = 0; i < k; ++i) flags[i] = '0';
  for (int i = 0; i < k; ++i) sweep_pivot(Fp, i, k, flags, work, tol[i]);
  for (int i = 0; i < k; ++i)
    if (flags[i] != '1') sweep_pivot(Fp, i, k, flags, work, tol[i]);
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < k; ++j)
      g[i * k + j] = (flags[i] == '1' && flags[j] == '1') ? Fp[packed_index(i, j)] : 0.0;
}

// Arrays of one filter step (k the observation dimension).
struct StepWork {
  double* K;    // f x k gain
  double* Fp;   // packed k x k
  double* G;    // k x k generalized inverse
  double* v;    // k
  double* work; // k
  double* tol;  // k
  char* flags;  // k
};

// a(t|t) = a + K v with the gain K and innovation v in w.
// Each element is a[r] + K[r][0] v[0] + K[r][1] v[1] + ..., added in that
// order, one column of K at a time.
void state_update(const StateSpace& s, const double* a, double* att, const StepWork& w) {
  const std::int64_t k = s.k, f = s.f;
  std::memcpy(att, a, sizeof(double) * std::size_t(f));
  for (std::int64_t c = 0; c < k; ++c) {
    const double vc = w.v[c];
    const double* kc = w.K + c;
    for (std::int64_t r = 0; r < f; ++r) att[r] += kc[r * k] * vc;
  }
}

// Update with the observation y (k values):
//   missing:  a(t|t) = a(t),  P(t|t) = P(t);
//   otherwise v = y - Z a (k),  F = Z P Z' (k x k, the top-left block of P),
//   K = P Z' F^-  (f x k),  a(t|t) = a + K v,  P(t|t) = P - K (Z P)  (f x f).
void filter_update(const StateSpace& s, const double* y, const double* a, const double* P,
                   double* att, double* Ptt, const StepWork& w) {
  const std::int64_t f = s.f;
  const int k = s.k;
  if (kalman_row_missing(y, k)) {
    std::memcpy(att, a, sizeof(double) * std::size_t(f));
    std::memcpy(Ptt, P, sizeof(double) * std::size_t(f * f));
    return;
  }
  for (int i = 0; i < k; ++i) w.v[i] = y[i] - a[i];
  for (int i = 0; i < k; ++i)
    for (int j = 0; j <= i; ++j) w.Fp[packed_index(i, j)] = P[std::int64_t(i) * f + j];
  generalized_inverse(w.Fp, k, w.flags, w.work, w.tol, w.G);
  // K = P Z' F^-: P Z' is the first k columns of P
  for (std::int64_t r = 0; r < f; ++r)
    for (int c = 0; c < k; ++c) {
      double acc = 0.0;
      for (int b = 0; b < k; ++b) acc += P[r * f + b] * w.G[std::int64_t(b) * k + c];
      w.K[r * k + c] = acc;
    }
  // With every pivot of F swept, the observed block is known exactly after
  // the update: the first k rows of K are F F^-1 = I, and the first k rows
  // and columns of P(t|t) are 0.  Written so, rather than as the roundings
  // of F F^-1 and P - F F^-1 P, no rounding noise is carried into the next
  // prediction, and the covariances settle into a repeating state as the
  // exact recursion does.
  bool all_swept = true;
  for (int i = 0; i < k; ++i) all_swept = all_swept && w.flags[i] == '1';
  if (all_swept)
    for (int r = 0; r < k; ++r)
      for (int c = 0; c < k; ++c) w.K[std::int64_t(r) * k + c] = r == c ? 1.0 : 0.0;
  state_update(s, a, att, w);
  // the lower triangle, each element P_rc - K_r0 P_0c - K_r1 P_1c - ... in
  // that order, one column of K at a time
  const std::int64_t known = all_swept ? k : 0;
  for (std::int64_t r = 0; r < f; ++r) {
    double* out = Ptt + r * f;
    const std::int64_t zeros = std::min(known, r + 1);
    std::fill(out, out + zeros, 0.0);
    if (zeros > r) continue;
    std::memcpy(out + zeros, P + r * f + zeros, sizeof(double) * std::size_t(r + 1 - zeros));
    for (int b = 0; b < k; ++b) {
      const double kb = w.K[r * k + b];
      const double* pb = P + std::int64_t(b) * f;
      for (std::int64_t c = zeros; c <= r; ++c) out[c] -= kb * pb[c];
    }
  }
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t c = r + 1; c < f; ++c) Ptt[r * f + c] = Ptt[c * f + r];
}

// Whether an element of y (n) is a NaN or at least kDivergenceLimit in
// magnitude.  On the bits: |y| >= the limit (or NaN) exactly when the bits
// of |y|, as an unsigned integer u, are at least those of the limit, b,
// that is when u + 2^63 - b has its top bit set; the sums are or-ed.
bool reaches_divergence_limit(const double* y, std::int64_t n) {
  std::uint64_t limit;
  std::memcpy(&limit, &kDivergenceLimit, sizeof limit);
  const std::uint64_t top = std::uint64_t(1) << 63, bias = top - limit;
  std::uint64_t any = 0;
  for (std::int64_t c = 0; c < n; ++c) {
    std::uint64_t u;
    std::memcpy(&u, y + c, sizeof u);
    any |= (u & (top - 1)) + bias;
  }
  return (any & top) != 0;
}

// Prediction: a(t+1) = T a(t|t);  P(t+1) = T P(t|t) T' + Q, in one pass
// over the rows of P(t+1): with X = T P(t|t) (its last k rows in xl, k x f),
//   P(t+1) row r = (X row r) T' + Q row r          (1 x f)
// and X row r = P(t|t) row r + k above the last block.  False when the
// largest absolute element of P(t+1) reaches the divergence limit (a NaN
// anywhere counts as reaching it).
bool filter_predict(const StateSpace& s, const double* att, const double* Ptt, double* a,
                    double* P, double* xl) {
  const std::int64_t f = s.f, k = s.k, n = (s.m - 1) * k;
  transition_vec(s, att, a);
  transition_last_rows(s, Ptt, xl);
  bool bad = false;
  for (std::int64_t r = 0; r < f; ++r) {
    const double* x = r < n ? Ptt + (r + k) * f : xl + (r - n) * f;
    const double* q = s.Q + r * f;
    double* y = P + r * f;
    for (std::int64_t c = 0; c < n; ++c) y[c] = x[c + k] + q[c];
    transition_last_cols(s, x, y + n);
    for (std::int64_t c = n; c < f; ++c) y[c] += q[c];
    bad = bad || reaches_divergence_limit(y, f);
  }
  return !bad;
}

// Work of kalman_filter, in doubles, in this order.
struct FilterLayout {
  std::uint64_t R, Q, rs, a, att, X, Fp, G, v, work, tol, flags, Tm, init, P_ring, Ptt_ring,
      K_ring, total;
};

// Largest state dimension the work size is computed for: f^2 stays below
// 2^52, so the sum of the layout cannot overflow.
constexpr std::uint64_t kMaxStateDim = std::uint64_t(1) << 26;

FilterLayout filter_layout(std::uint64_t k, std::uint64_t f, std::uint64_t init) {
  const std::uint64_t ff = f * f, fk = f * k;
  FilterLayout l{};
  WorkOffsets at(0);
  l.R = at.take(fk);
  l.Q = at.take(ff);
  l.rs = at.take(fk);
  l.a = at.take(f);
  l.att = at.take(f);
  l.X = at.take(fk);
  l.Fp = at.take(k * (k + 1) / 2);
  l.G = at.take(k * k);
  l.v = at.take(k);
  l.work = at.take(k);
  l.tol = at.take(k);
  l.flags = at.take(k / sizeof(double) + 1);  // k characters
  l.Tm = at.take(ff);
  l.init = at.take(init);
  l.P_ring = at.take(CovarianceCycle::kPredictedSlots * ff);
  l.Ptt_ring = at.take(kFilterRing * ff);
  l.K_ring = at.take(kFilterRing * fk);
  l.total = at.end();
  return l;
}

// The state dimension f = k max(pmax, qmax + 1), or 0 when the sizes cannot
// describe a filter this code can hold.
std::uint64_t state_dim(int k, int pmax, int qmax) {
  if (k < 1 || pmax < 0 || qmax < 0) return 0;
  const std::uint64_t f = std::uint64_t(k) * std::uint64_t(std::max(pmax, qmax + 1));
  return f > kMaxStateDim ? 0 : f;
}

}  // namespace

namespace {

// Doubles of work for P(1) by either route (state_covariance_by_autocov),
// or by the autocovariances alone when they are taken for every model of
// these sizes (k pmax <= kAutocovRouteOrder m).
std::uint64_t initial_work(int k, int pmax, int qmax, std::uint64_t f) {
  const std::uint64_t by_autocov = varma_state_covariance_work(k, pmax, qmax);
  const std::int64_t m = std::max(pmax, qmax + 1);
  if (std::int64_t(k) * pmax <= kAutocovRouteOrder * m) return by_autocov;
  const std::uint64_t by_lyapunov = kalman_initial_covariance_work(std::int64_t(f));
  if (by_autocov == UINT64_MAX || by_lyapunov == UINT64_MAX) return UINT64_MAX;
  return std::max(by_autocov, by_lyapunov);
}

}  // namespace

std::uint64_t kalman_filter_work(int k, int pmax, int qmax) {
  const std::uint64_t f = state_dim(k, pmax, qmax);
  if (f == 0) return UINT64_MAX;
  const std::uint64_t init = initial_work(k, pmax, qmax, f);
  if (init == UINT64_MAX) return UINT64_MAX;
  return filter_layout(std::uint64_t(k), f, init).total;
}

namespace {

// The filter's arrays in the caller's work (filter_layout), the rings of
// covariances in a CovarianceCycle.
struct FilterArrays {
  int initial = kInitialStationary;  // the outcome of P(1)
  double* a = nullptr;    // a(t), f
  double* att = nullptr;  // a(t|t), f
  double* X = nullptr;    // k x f: the last rows of T P(t|t)
  CovarianceCycle cycle;
  StepWork w{};
};

// The state-space form in s (k, m, f and the AR blocks set), a(1) = 0 and
// P(1) in the slot of step 0, by the cheaper exact route: the
// autocovariances, or the Lyapunov equation on the dense transition.
FilterArrays filter_setup(StateSpace* s, int pmax, int qmax, const double* ma, int ma_count,
                          const int* ma_lags, const double* sigma_packed, double* work) {
  const std::int64_t f = s->f, k = s->k;
  const FilterLayout l = filter_layout(std::uint64_t(k), std::uint64_t(f),
                                       initial_work(s->k, pmax, qmax, std::uint64_t(f)));
  s->R = work + l.R;
  s->Q = work + l.Q;
  FilterArrays A;
  A.a = work + l.a;
  A.att = work + l.att;
  A.X = work + l.X;
  A.cycle = CovarianceCycle(f, k, work + l.P_ring, work + l.Ptt_ring, work + l.K_ring);
  A.w.Fp = work + l.Fp;
  A.w.G = work + l.G;
  A.w.v = work + l.v;
  A.w.work = work + l.work;
  A.w.tol = work + l.tol;
  A.w.flags = reinterpret_cast<char*>(work + l.flags);
  // build_noise accumulates into R, and a(1) = 0
  std::memset(s->R, 0, sizeof(double) * std::size_t(f * k));
  std::memset(A.a, 0, sizeof(double) * std::size_t(f));
  build_noise(s, ma, ma_count, ma_lags, sigma_packed, work + l.rs);
  const VarmaStateModel model{s->k, s->m, s->ar, s->ar_lags, s->ar_count,
                              ma,    ma_lags, ma_count, sigma_packed};
  double* P = A.cycle.P_of(0);
  // The dense transition also serves the forecasts after the filter
  // (kalman_filter_system), whichever route gives P(1).
  dense_transition(*s, work + l.Tm);
  if (state_covariance_by_autocov(model))
    A.initial = varma_state_covariance(model, s->Q, P, work + l.init);
  else
    A.initial = kalman_initial_covariance(f, s->k, work + l.Tm, s->Q, P, work + l.init);
  return A;
}

// Step t while the covariances repeat: the update of the state with the gain
// kept for its phase, and the prediction of the state alone.
int repeated_step(const StateSpace& s, const FilterArrays& A, const double* y, std::int64_t t,
                  std::int64_t T, KalmanSink* sink) {
  const CovarianceCycle& c = A.cycle;
  const std::int64_t j = c.phase(t);
  for (int i = 0; i < s.k; ++i) A.w.v[i] = y[i] - A.a[i];
  StepWork kept = A.w;
  kept.K = c.K_of(j);
  state_update(s, A.a, A.att, kept);
  if (int st = sink->filtered(t, A.att, c.Ptt_of(j))) return st;
  if (t == T - 1) return kStatusOk;
  transition_vec(s, A.att, A.a);
  return sink->predicted(t + 1, A.a, c.P_of(c.phase(t + 1)), c.phase(t + 1));
}

// Step t of the full recursion from P(t) in its slot: the update, and
// except after the last row the prediction into the slot of t + 1, compared
// with the P kept for the run of complete rows before it.
int full_step(const StateSpace& s, FilterArrays& A, const double* y, bool complete,
              std::int64_t t, std::int64_t T, KalmanSink* sink, bool reuse_repeats) {
  CovarianceCycle& c = A.cycle;
  double* Ptt = c.Ptt_of(t);
  A.w.K = c.K_of(t);
  filter_update(s, y, A.a, c.P_of(t), A.att, Ptt, A.w);
  if (int st = sink->filtered(t, A.att, Ptt)) return st;
  if (t == T - 1) return kStatusOk;  // the last observation is updated, not predicted
  c.count_row(complete);
  double* next = c.P_of(t + 1);
  if (!filter_predict(s, A.att, Ptt, A.a, next, A.X)) return kKalmanDiverged;
  const std::int64_t same = reuse_repeats ? c.match(t + 1) : -1;
  return sink->predicted(t + 1, A.a, next, same);
}

}  // namespace

void kalman_filter_system(const double* work, int k, int pmax, int qmax, const double** T,
                          const double** Q) {
  const std::int64_t f = std::int64_t(k) * std::max(pmax, qmax + 1);
  const FilterLayout l = filter_layout(std::uint64_t(k), std::uint64_t(f),
                                       initial_work(k, pmax, qmax, std::uint64_t(f)));
  *T = work + l.Tm;
  *Q = work + l.Q;
}

const double* kalman_filter_noise(const double* work, int k, int pmax, int qmax) {
  const std::int64_t f = std::int64_t(k) * std::max(pmax, qmax + 1);
  const FilterLayout l = filter_layout(std::uint64_t(k), std::uint64_t(f),
                                       initial_work(k, pmax, qmax, std::uint64_t(f)));
  return work + l.R;
}

int kalman_filter(const double* series, std::int64_t T, int k, const double* ar, int ar_count,
                  int pmax, const int* ar_lags, const double* ma, int ma_count, int qmax,
                  const int* ma_lags, const double* sigma_packed, double* work, KalmanSink* sink,
                  bool reuse_repeats) {
  StateSpace s;
  s.k = k;
  s.m = std::max(pmax, qmax + 1);
  s.f = std::int64_t(k) * s.m;
  s.ar = ar;
  s.ar_lags = ar_lags;
  s.ar_count = ar_count;
  FilterArrays A = filter_setup(&s, pmax, qmax, ma, ma_count, ma_lags, sigma_packed, work);
  sink->initial(A.initial);
  if (int st = sink->predicted(0, A.a, A.cycle.P_of(0), -1)) return st;
  for (std::int64_t t = 0; t < T; ++t) {
    if (t % kCancelPollRows == kCancelPollRows - 1 && cancel_requested()) return kKalmanCancelled;
    const double* y = series + t * k;
    const bool complete = !kalman_row_missing(y, k);
    // a row that is not complete ends a cycle: the full recursion resumes from P(t)
    if (A.cycle.repeating() && !complete) A.cycle.end(t);
    const int st = A.cycle.repeating() ? repeated_step(s, A, y, t, T, sink)
                                       : full_step(s, A, y, complete, t, T, sink, reuse_repeats);
    if (st != kStatusOk) return st;
  }
  return kStatusOk;
}

}  // namespace mvtsa
