// The VARMA likelihood by the Kalman filter.
//
// State-space form with m = max(pmax, qmax + 1) blocks of k, f = k m:
//   state(t+1) = T state(t) + R e(t+1),   Y(t) = Z state(t),   Z = [I 0 ... 0]
// The state holds Y(t) and its forecasts for the next m - 1 steps.  T has
// identity blocks on the block super-diagonal and Phi_l at block
// (m-1, m-l); R = [Psi_0; ...; Psi_{m-1}] holds the first m MA(infinity)
// weights; Q = R Sigma R'.
//
// kalman_filter sets up the form and P(1) (varma_state_covariance from the
// autocovariances, or kalman_initial_covariance) in the caller's work and
// runs the filter steps (update, then prediction), handing each step's
// moments to a sink.  varma_kalman_loglik's sink writes them to
// the utility files and the likelihood is formed from the predicted moments
// read back (kalman_step_loglik); VARMAFIT's objective (varmafit_kalman)
// forms the same sums in the same pass.
#include "module/varma/varma_kalman.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/frame/host.hpp"
#include "module/frame/pool.hpp"
#include "module/frame/utility_files.hpp"
#include "module/linalg/covariance.hpp"
#include "module/linalg/lu.hpp"
#include "module/linalg/lyapunov.hpp"
#include "module/linalg/sweep_inverse.hpp"
#include "module/linalg/symmetric_eigenvalues.hpp"
#include "module/varma/varma_state_covariance.hpp"

namespace mvtsa {
namespace {

// The least share of its variance a conditional variance of F keeps: 2^-26.5.
constexpr double kDetFloor = kCloseTol;
// Threshold of the generalized inverse: b = 100 u max|diag F| when that
// maximum lies in (kTinyDiag, 1), else 100 u.
constexpr double kHundredRoundoff = kHundredRoundoffTol;
constexpr double kTinyDiag = kSqrtDblMin;

// Utility files of one evaluation, in the order they are created.  The host
// contract has all four written although only the predicted moments are read.
enum FilterFile : int { kFilePredictedState, kFilePredictedCov, kFileFilteredState,
                        kFileFilteredCov };

// Steps of filter output buffered per utility-file write and read: at most
// 256, and no more than about 1 MiB of covariance matrices.
std::int64_t chunk_steps(std::int64_t ff) {
  return std::max<std::int64_t>(1, std::min<std::int64_t>(256, 131072 / ff));
}

// A row is missing when any element is missing or above the series bound.
bool row_missing(const double* y, int k) {
  for (int i = 0; i < k; ++i)
    if (is_missing(y[i]) || std::fabs(y[i]) > kSeriesBound) return true;
  return false;
}

// The model in the form the filter uses.
struct StateSpace {
  int k = 0;
  int m = 0;
  std::int64_t f = 0;
  const double* ar = nullptr;  // compact blocks
  const int* ar_lags = nullptr;
  int ar_count = 0;
  double* R = nullptr;  // f x k
  double* Q = nullptr;  // f x f
};

// X = T A for an f x f matrix A (row-major): the block rows shift up, the last
// block row is sum_l Phi_l (block row m-l of A).
void transition_rows(const StateSpace& s, const double* A, double* X) {
  const std::int64_t f = s.f, k = s.k, m = s.m;
  std::memcpy(X, A + k * f, sizeof(double) * std::size_t((m - 1) * k * f));
  double* last = X + (m - 1) * k * f;
  std::memset(last, 0, sizeof(double) * std::size_t(k * f));
  for (int i = 0; i < s.ar_count; ++i) {
    const std::int64_t l = s.ar_lags[i];
    if (l < 1 || l > m) continue;
    const double* phi = s.ar + std::int64_t(i) * k * k;
    const double* src = A + (m - l) * k * f;
    for (std::int64_t r = 0; r < k; ++r)
      for (std::int64_t c = 0; c < k; ++c) {
        const double g = phi[r * k + c];
        if (g == 0.0) continue;
        const double* sr = src + c * f;
        double* dr = last + r * f;
        for (std::int64_t j = 0; j < f; ++j) dr[j] += g * sr[j];
      }
  }
}

// Y = X T' for an f x f matrix X: for each row x, (T x')' -- the block
// columns shift left, the last block column is sum_l (block column m-l) Phi_l'.
void transition_cols(const StateSpace& s, const double* X, double* Y) {
  const std::int64_t f = s.f, k = s.k, m = s.m;
  for (std::int64_t r = 0; r < f; ++r) {
    const double* x = X + r * f;
    double* y = Y + r * f;
    std::memcpy(y, x + k, sizeof(double) * std::size_t((m - 1) * k));
    double* last = y + (m - 1) * k;
    std::memset(last, 0, sizeof(double) * std::size_t(k));
    for (int i = 0; i < s.ar_count; ++i) {
      const std::int64_t l = s.ar_lags[i];
      if (l < 1 || l > m) continue;
      const double* phi = s.ar + std::int64_t(i) * k * k;
      const double* src = x + (m - l) * k;
      for (std::int64_t a = 0; a < k; ++a) {
        double acc = 0.0;
        for (std::int64_t b = 0; b < k; ++b) acc += phi[a * k + b] * src[b];
        last[a] += acc;
      }
    }
  }
}

// a' = T a for an f-vector.
void transition_vec(const StateSpace& s, const double* a, double* out) {
  const std::int64_t k = s.k, m = s.m;
  std::memcpy(out, a + k, sizeof(double) * std::size_t((m - 1) * k));
  double* last = out + (m - 1) * k;
  std::memset(last, 0, sizeof(double) * std::size_t(k));
  for (int i = 0; i < s.ar_count; ++i) {
    const std::int64_t l = s.ar_lags[i];
    if (l < 1 || l > m) continue;
    const double* phi = s.ar + std::int64_t(i) * k * k;
    const double* src = a + (m - l) * k;
    for (std::int64_t r = 0; r < k; ++r) {
      double acc = 0.0;
      for (std::int64_t c = 0; c < k; ++c) acc += phi[r * k + c] * src[c];
      last[r] += acc;
    }
  }
}

// R = [Psi_0; ...; Psi_{m-1}],  Psi_0 = I,
// Psi_j = sum_{AR lags l <= j} Phi_l Psi_{j-l} - Theta_j   (k x k each);
// Q = R Sigma R'  (f x f).  `rs` holds f k doubles of work.
void build_noise(StateSpace* s, const double* ma, int ma_count, const int* ma_lags,
                 const double* sigma_packed, double* rs) {
  const std::int64_t k = s->k, f = s->f, kk = k * k;
  double* R = s->R;
  for (std::int64_t i = 0; i < k; ++i) R[i * k + i] = 1.0;
  for (std::int64_t j = 1; j < s->m; ++j) {
    double* psi = R + j * kk;
    for (int i = 0; i < s->ar_count; ++i) {
      const std::int64_t l = s->ar_lags[i];
      if (l < 1 || l > j) continue;
      const double* phi = s->ar + std::int64_t(i) * kk;
      const double* prev = R + (j - l) * kk;
      for (std::int64_t r = 0; r < k; ++r)
        for (std::int64_t c = 0; c < k; ++c) {
          double acc = 0.0;
          for (std::int64_t b = 0; b < k; ++b) acc += phi[r * k + b] * prev[b * k + c];
          psi[r * k + c] += acc;
        }
    }
    for (int i = 0; i < ma_count; ++i)
      if (ma_lags[i] == j)
        for (std::int64_t e = 0; e < kk; ++e) psi[e] -= ma[std::int64_t(i) * kk + e];
  }
  // RS = R Sigma (f x k)
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t c = 0; c < k; ++c) {
      double acc = 0.0;
      for (std::int64_t b = 0; b < k; ++b) acc += R[r * k + b] * sigma_packed[packed_index(b, c)];
      rs[r * k + c] = acc;
    }
  // Q = RS R'
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t c = 0; c <= r; ++c) {
      double acc = 0.0;
      for (std::int64_t b = 0; b < k; ++b) acc += rs[r * k + b] * R[c * k + b];
      s->Q[r * f + c] = s->Q[c * f + r] = acc;
    }
}

// The dense f x f transition T: identity blocks on the block super-diagonal,
// the sum of the Phi_l at block (m-1, m-l).
void dense_transition(const StateSpace& s, double* Tm) {
  const std::int64_t f = s.f, k = s.k, m = s.m;
  std::memset(Tm, 0, sizeof(double) * std::size_t(f * f));
  for (std::int64_t i = 0; i + k < f; ++i) Tm[i * f + i + k] = 1.0;
  for (int i = 0; i < s.ar_count; ++i) {
    const std::int64_t l = s.ar_lags[i];
    if (l < 1 || l > m) continue;
    const double* phi = s.ar + std::int64_t(i) * k * k;
    double* block = Tm + (m - 1) * k * f + (m - l) * k;  // block (m-1, m-l)
    for (std::int64_t r = 0; r < k; ++r)
      for (std::int64_t c = 0; c < k; ++c) block[r * f + c] += phi[r * k + c];
  }
}

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
void state_update(const StateSpace& s, const double* a, double* att, const StepWork& w) {
  const int k = s.k;
  for (std::int64_t r = 0; r < s.f; ++r) {
    double acc = a[r];
    for (int c = 0; c < k; ++c) acc += w.K[r * k + c] * w.v[c];
    att[r] = acc;
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
  if (row_missing(y, k)) {
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
  const std::int64_t known = all_swept ? k : 0;
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t c = 0; c <= r; ++c) {
      if (c < known) {
        Ptt[r * f + c] = 0.0;
        continue;
      }
      double acc = P[r * f + c];
      for (int b = 0; b < k; ++b) acc -= w.K[r * k + b] * P[std::int64_t(b) * f + c];
      Ptt[r * f + c] = acc;
    }
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t c = r + 1; c < f; ++c) Ptt[r * f + c] = Ptt[c * f + r];
}

// Prediction: a(t+1) = T a(t|t);  P(t+1) = T P(t|t) T' + Q  (X: f x f work).
// False when the largest absolute element of P(t+1) reaches the divergence
// limit (a NaN anywhere counts as reaching it).
bool filter_predict(const StateSpace& s, const double* att, const double* Ptt, double* a,
                    double* P, double* X) {
  const std::int64_t ff = s.f * s.f;
  transition_vec(s, att, a);
  transition_rows(s, Ptt, X);
  transition_cols(s, X, P);
  double big = 0.0;
  bool nan = false;
  for (std::int64_t e = 0; e < ff; ++e) {
    P[e] += s.Q[e];
    const double x = std::fabs(P[e]);
    if (x > big)
      big = x;
    else if (x != x)
      nan = true;
  }
  return !nan && big < kDivergenceLimit;
}

// Work of kalman_filter, in doubles, in this order.
struct FilterLayout {
  std::uint64_t R, Q, rs, a, att, P, Ptt, X, K, Fp, G, v, work, tol, flags, Tm, init, P_ring,
      Ptt_ring, K_ring, total;
};

// Largest state dimension the work size is computed for: f^2 stays below
// 2^52, so the sum of the layout cannot overflow.
constexpr std::uint64_t kMaxStateDim = std::uint64_t(1) << 26;

FilterLayout filter_layout(std::uint64_t k, std::uint64_t f, std::uint64_t init) {
  const std::uint64_t ff = f * f, fk = f * k;
  FilterLayout l{};
  std::uint64_t at = 0;
  auto take = [&at](std::uint64_t n) {
    const std::uint64_t here = at;
    at += n;
    return here;
  };
  l.R = take(fk);
  l.Q = take(ff);
  l.rs = take(fk);
  l.a = take(f);
  l.att = take(f);
  l.P = take(ff);
  l.Ptt = take(ff);
  l.X = take(ff);
  l.K = take(fk);
  l.Fp = take(k * (k + 1) / 2);
  l.G = take(k * k);
  l.v = take(k);
  l.work = take(k);
  l.tol = take(k);
  l.flags = take(k / sizeof(double) + 1);  // k characters
  l.Tm = take(ff);
  l.init = take(init);
  l.P_ring = take(kFilterRing * ff);
  l.Ptt_ring = take(kFilterRing * ff);
  l.K_ring = take(kFilterRing * fk);
  l.total = at;
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

std::uint64_t kalman_initial_covariance_work(std::int64_t f) {
  const std::uint64_t solve = discrete_lyapunov_work(f);
  if (solve == UINT64_MAX) return UINT64_MAX;
  // afterwards: the packed solution, its eigenvalues and symmetric_eigenvalues' work
  const std::uint64_t check = std::uint64_t(packed_size(f)) + 10 * std::uint64_t(f);
  // before: the balanced T and Q, and the scales
  const std::uint64_t ff = std::uint64_t(f) * std::uint64_t(f);
  if (ff > (UINT64_MAX - solve) / 3) return UINT64_MAX;
  return std::max(solve, check) + 2 * ff + std::uint64_t(f);
}

int kalman_initial_covariance(std::int64_t f, int k, const double* T, const double* Q, double* P,
                              double* work) {
  // The equation is solved in balanced units: with D = diag(d_i), d_i the
  // power of two nearest the standard deviation sqrt(Q_jj) of state element
  // i's variable j (Q's first block is Sigma), P~ = D^-1 P D^-1 solves
  // P~ = T~ P~ T~' + Q~ for T~ = D^-1 T D and Q~ = D^-1 Q D^-1, and P = D P~ D.
  // The scaling is exact, so data in units near 1 give the same bits as the
  // equation itself, and data whose variables come in units far apart give
  // the transition the Schur solver sees in units near 1.
  const std::int64_t ff = f * f;
  double* Tb = work + std::max(discrete_lyapunov_work(f),
                               std::uint64_t(packed_size(f)) + 10 * std::uint64_t(f));
  double* Qb = Tb + ff;
  double* d = Qb + ff;
  kalman_balance_scales(f, k, Q, d);
  for (std::int64_t i = 0; i < f; ++i)
    for (std::int64_t j = 0; j < f; ++j) {
      Tb[i * f + j] = T[i * f + j] / d[i] * d[j];
      Qb[i * f + j] = Q[i * f + j] / d[i] / d[j];
    }
  int outcome = kInitialStationary;
  if (discrete_lyapunov(f, Tb, Qb, kFilterTol, P, work) != kLyapunovOk) {
    outcome = kInitialSingular;
  } else {
    bool finite = true;
    for (std::int64_t i = 0; i < f; ++i)
      for (std::int64_t j = 0; j <= i; ++j) {
        const double x = 0.5 * (P[i * f + j] + P[j * f + i]);
        P[i * f + j] = P[j * f + i] = x;
        finite = finite && std::isfinite(x);
      }
    // smallest eigenvalue >= -kFilterTol * largest magnitude, on a packed copy
    double* packed = work;
    double* eig = packed + packed_size(f);
    double* eig_work = eig + f;
    pack_symmetric(P, int(f), packed);
    const int st = finite ? symmetric_eigenvalues(int(f), packed, eig, eig_work) : kSymIncomplete;
    if (st != 0 && st != kSymBisection) {
      outcome = kInitialIndefinite;
    } else {
      const double lo = eig[f - 1], big = std::max(std::fabs(eig[0]), std::fabs(lo));
      if (!(lo >= -kFilterTol * big)) outcome = kInitialIndefinite;
    }
    for (std::int64_t i = 0; i < f; ++i)
      for (std::int64_t j = 0; j < f; ++j) P[i * f + j] *= d[i] * d[j];
  }
  if (outcome != kInitialStationary) kalman_fallback_covariance(f, k, Q, P);
  return outcome;
}

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
  const std::int64_t f = s.f;
  const FilterLayout l = filter_layout(std::uint64_t(k), std::uint64_t(f),
                                       initial_work(k, pmax, qmax, std::uint64_t(f)));
  s.R = work + l.R;
  s.Q = work + l.Q;
  double* a = work + l.a;
  double* att = work + l.att;
  double* P = work + l.P;
  double* Ptt = work + l.Ptt;
  double* X = work + l.X;
  StepWork w;
  w.K = work + l.K;
  w.Fp = work + l.Fp;
  w.G = work + l.G;
  w.v = work + l.v;
  w.work = work + l.work;
  w.tol = work + l.tol;
  w.flags = reinterpret_cast<char*>(work + l.flags);
  // build_noise accumulates into R, and a(1) = 0
  std::memset(s.R, 0, sizeof(double) * std::size_t(f * k));
  std::memset(a, 0, sizeof(double) * std::size_t(f));

  build_noise(&s, ma, ma_count, ma_lags, sigma_packed, work + l.rs);
  // P(1) by the cheaper exact route: the autocovariances, or the Lyapunov
  // equation on the dense transition
  const VarmaStateModel model{k, s.m, ar, ar_lags, ar_count, ma, ma_lags, ma_count, sigma_packed};
  if (state_covariance_by_autocov(model)) {
    (void)varma_state_covariance(model, s.Q, P, work + l.init);
  } else {
    double* Tm = work + l.Tm;
    dense_transition(s, Tm);
    (void)kalman_initial_covariance(f, s.k, Tm, s.Q, P, work + l.init);
  }
  const std::size_t P_bytes = sizeof(double) * std::size_t(f * f);
  const std::size_t K_bytes = sizeof(double) * std::size_t(f * k);
  // P(j), P(j|j) and the gain of step j, kept in slot j mod kFilterRing for
  // the last steps of the current run of complete rows.
  auto P_of = [&](std::int64_t j) { return work + l.P_ring + (j % kFilterRing) * f * f; };
  auto Ptt_of = [&](std::int64_t j) { return work + l.Ptt_ring + (j % kFilterRing) * f * f; };
  auto K_of = [&](std::int64_t j) { return work + l.K_ring + (j % kFilterRing) * f * k; };

  // The prediction P(t+1), the update P(t|t) and the gain depend on P(t)
  // alone.  When P(t+1) equals P(t+1-L) to the last bit and the L updates in
  // between used complete rows, the covariances repeat with period L for as
  // long as the rows stay complete (rounding settles into a fixed point or a
  // short cycle): step s then takes the moments kept for its phase, and only
  // the state is carried forward.
  std::int64_t run = 0;     // complete rows just before t whose moments are kept
  std::int64_t period = 0;  // L while repeating, else 0
  std::int64_t first = 0;   // the first step of the kept cycle
  auto phase = [&](std::int64_t t) { return first + (t - first) % period; };
  if (int st = sink->predicted(0, a, P, -1)) return st;
  for (std::int64_t t = 0; t < T; ++t) {
    if (t % kCancelPollRows == kCancelPollRows - 1 && cancel_requested()) return kKalmanCancelled;
    const double* y = series + t * k;
    const bool complete = !row_missing(y, k);
    if (period > 0 && !complete) {  // the cycle ends: the full recursion resumes from P(t)
      std::memcpy(P, P_of(phase(t)), P_bytes);
      period = 0;
    }
    const double* Ptt_now = Ptt;
    if (period > 0) {
      const std::int64_t j = phase(t);
      for (int i = 0; i < k; ++i) w.v[i] = y[i] - a[i];
      StepWork kept = w;
      kept.K = K_of(j);
      state_update(s, a, att, kept);
      Ptt_now = Ptt_of(j);
    } else {
      filter_update(s, y, a, P, att, Ptt, w);
    }
    if (int st = sink->filtered(t, att, Ptt_now)) return st;
    if (t == T - 1) break;  // the last observation is updated, not predicted
    if (period > 0) {
      transition_vec(s, att, a);
      const std::int64_t j = phase(t + 1);
      if (int st = sink->predicted(t + 1, a, P_of(j), j)) return st;
      continue;
    }
    if (complete) {
      std::memcpy(P_of(t), P, P_bytes);
      std::memcpy(Ptt_of(t), Ptt, P_bytes);
      std::memcpy(K_of(t), w.K, K_bytes);
      run = std::min<std::int64_t>(run + 1, kFilterRing);
    } else {
      run = 0;
    }
    if (!filter_predict(s, att, Ptt, a, P, X)) return kKalmanDiverged;
    std::int64_t same = -1;
    for (std::int64_t L = 1; reuse_repeats && L <= run && same < 0; ++L)
      if (std::memcmp(P, P_of(t + 1 - L), P_bytes) == 0) {
        same = t + 1 - L;
        period = L;
        first = same;
      }
    if (int st = sink->predicted(t + 1, a, P, same)) return st;
  }
  return 0;
}

std::uint64_t kalman_step_work(int k) {
  const std::uint64_t uk = std::uint64_t(k < 1 ? 1 : k);
  // F (k x k), kFilterRing packed factors, v, the sweep's work and k flag
  // characters
  return uk * uk + kFilterRing * (uk * (uk + 1) / 2) + 2 * uk + uk / sizeof(double) + 1;
}

int kalman_step_loglik(const double* y, const double* a, const double* P, int k, std::int64_t f,
                       double* scratch, KalmanSums* sums, std::int64_t step, std::int64_t same_as) {
  const std::int64_t kk = std::int64_t(k) * k;
  // The factors of F of step j live in slot j mod kFilterRing: those of the
  // step whose P this one repeats are read back, others are computed.
  const std::int64_t slot = (same_as >= 0 ? same_as : step) % kFilterRing;
  double* Fd = scratch;
  double* Fp = Fd + kk + slot * packed_size(k);
  double* v = Fd + kk + kFilterRing * packed_size(k);
  double* work = v + k;
  char* flags = reinterpret_cast<char*>(work + k);
  if (same_as < 0) {
    for (int r = 0; r < k; ++r)
      for (int c = 0; c < k; ++c) Fd[r * k + c] = P[std::int64_t(r) * f + c];
    double det = 0.0;
    sums->det_statuses[slot] = lu_solve(Fd, k, nullptr, work, &det);
    for (int r = 0; r < k; ++r)
      for (int c = 0; c <= r; ++c) Fp[packed_index(r, c)] = P[std::int64_t(r) * f + c];
    // F^-1 and log det F where every pivot passes the sweep's relative test
    const double log_det = lu_log_det(Fd, k, det);
    int factor = kFactorInverse;
    if (sweep_inverse(Fp, k, flags, work) < k || !std::isfinite(log_det)) {
      // otherwise the floored factors of F
      for (int r = 0; r < k; ++r)
        for (int c = 0; c <= r; ++c) Fp[packed_index(r, c)] = P[std::int64_t(r) * f + c];
      factor = floored_ldl(Fp, k, kDetFloor, &sums->log_dets[slot]) < 0 ? kFactorFailed
                                                                         : kFactorFloored;
    } else {
      sums->log_dets[slot] = log_det;
    }
    sums->factors[slot] = factor;
  }
  if (row_missing(y, k)) return kStatusOk;  // nothing observed, nothing added
  if (sums->factors[slot] == kFactorFailed) return kKalmanSingular;
  sums->det_status = sums->det_statuses[slot];
  sums->D += sums->log_dets[slot];
  for (int r = 0; r < k; ++r) v[r] = y[r] - a[r];
  double q = 0.0;
  if (sums->factors[slot] == kFactorInverse) {
    for (int r = 0; r < k; ++r) {
      double acc = 0.0;
      for (int c = 0; c < k; ++c) acc += Fp[packed_index(r, c)] * v[c];
      q += v[r] * acc;
    }
  } else {
    q = ldl_quadratic(Fp, k, v, work);
  }
  sums->S += q;
  return kStatusOk;
}

namespace {

// Writes each step's moments to the four utility files through StepWriters.
class FileSink final : public KalmanSink {
 public:
  FileSink(UtilityFiles* files, double* const* buf, std::int64_t f, std::int64_t chunk)
      : a_(files, kFilePredictedState, buf[0], f, chunk),
        p_(files, kFilePredictedCov, buf[1], f * f, chunk),
        att_(files, kFileFilteredState, buf[2], f, chunk),
        ptt_(files, kFileFilteredCov, buf[3], f * f, chunk) {}
  int predicted(std::int64_t, const double* a, const double* P, std::int64_t) override {
    if (int st = a_.put(a)) return st;
    return p_.put(P);
  }
  int filtered(std::int64_t, const double* att, const double* Ptt) override {
    if (int st = att_.put(att)) return st;
    return ptt_.put(Ptt);
  }
  int flush() {
    for (StepWriter* sw : {&a_, &p_, &att_, &ptt_})
      if (int st = sw->flush()) return st;
    return kStatusOk;
  }

 private:
  StepWriter a_, p_, att_, ptt_;
};

// The likelihood from the predicted moments read back from the utility files
// (rewound), chunk steps at a time through buf_a (chunk f) and buf_p
// (chunk f^2), by kalman_step_loglik for t = 1 .. T.  Returns 0, or 100
// (message 178, or a utility file).
int likelihood(UtilityFiles* files, const double* series, std::int64_t T, int k,
               std::int64_t f, std::int64_t chunk, double* buf_a, double* buf_p,
               double* scratch, KalmanSums* sums) {
  const std::int64_t ff = f * f;
  if (int st = files->rewind(kFilePredictedState)) return st;
  if (int st = files->rewind(kFilePredictedCov)) return st;
  for (std::int64_t t0 = 0; t0 < T; t0 += chunk) {
    const std::int64_t n = std::min<std::int64_t>(chunk, T - t0);
    if (int st = files->read(kFilePredictedState, buf_a, n * f)) return st;
    if (int st = files->read(kFilePredictedCov, buf_p, n * ff)) return st;
    for (std::int64_t i = 0; i < n; ++i)
      if (kalman_step_loglik(series + (t0 + i) * k, buf_a + i * f, buf_p + i * ff, k, f, scratch,
                             sums, t0 + i, -1) != kStatusOk)
        return fail_message(kMsgSingular);
  }
  return kStatusOk;
}

}  // namespace

int varma_kalman_loglik(double* loglik, double* logdet, double* quad, const double* series,
                        std::int64_t T, int k, const double* ar, int ar_count, int pmax,
                        const int* ar_lags, const double* ma, int ma_count, int qmax,
                        const int* ma_lags, const double* sigma_packed) {
  if (k < 1 || T < 0 || ar_count < 0 || ma_count < 0 || pmax < 0 || qmax < 0 ||
      (ar_count > 0 && !ar) || (ma_count > 0 && !ma) || !series || !sigma_packed)
    return kStatusRange;
  HostPool pool;
  if (!pool.ok()) return allocation_failed();

  const std::int64_t f = std::int64_t(k) * std::max(pmax, qmax + 1);
  const std::uint64_t uff = checked_mul(std::uint64_t(f), std::uint64_t(f));

  // Lag lists (1 .. count when none is given).
  int* arl = pool.get<int>(std::uint64_t(ar_count));
  int* mal = pool.get<int>(std::uint64_t(ma_count));
  if (!arl || !mal) return kStatusHostError;
  for (int i = 0; i < ar_count; ++i) arl[i] = ar_lags ? ar_lags[i] : i + 1;
  for (int i = 0; i < ma_count; ++i) mal[i] = ma_lags ? ma_lags[i] : i + 1;

  double* work = pool.get<double>(kalman_filter_work(k, pmax, qmax));
  double* scratch = pool.get<double>(kalman_step_work(k));
  // chunk buffers of the four files, in the order of FilterFile
  const std::int64_t chunk = chunk_steps(std::int64_t(uff));
  const std::uint64_t chunk_a = checked_mul(std::uint64_t(chunk), std::uint64_t(f));
  const std::uint64_t chunk_p = checked_mul(std::uint64_t(chunk), uff);
  double* buf[UtilityFiles::kCount] = {pool.get<double>(chunk_a), pool.get<double>(chunk_p),
                                       pool.get<double>(chunk_a), pool.get<double>(chunk_p)};
  if (!work || !scratch || !buf[0] || !buf[1] || !buf[2] || !buf[3]) return kStatusHostError;

  UtilityFiles files;
  if (int st = files.create_all()) return st;
  FileSink sink(&files, buf, f, chunk);
  const int st = kalman_filter(series, T, k, ar, ar_count, pmax, arl, ma, ma_count, qmax, mal,
                               sigma_packed, work, &sink);
  if (st == kKalmanDiverged) return kStatusMessage;  // without a message
  if (st == kKalmanCancelled) return cancelled();
  if (st != kStatusOk) return st;
  if (int fl = sink.flush()) return fl;

  KalmanSums sums;
  if (int lk = likelihood(&files, series, T, k, f, chunk, buf[0], buf[1], scratch, &sums))
    return lk;
  if (int cl = files.close_all()) return cl;
  *logdet = sums.D;
  *quad = sums.S;
  *loglik = -(sums.D + sums.S) / 2.0;
  return sums.det_status;
}

}  // namespace mvtsa
