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

// The last k rows of X = T A for an f x f matrix A (row-major), into last
// (k x f): sum_l Phi_l (block row m-l of A), added term by term over the
// lags and the non-zero coefficients.  The other rows of X are the block
// rows of A shifted up, X row r = A row r + k, and are read in place.
void transition_last_rows(const StateSpace& s, const double* A, double* last) {
  const std::int64_t f = s.f, k = s.k, m = s.m;
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

// The last k elements of the row y = x T' for a row x (f): sum_l (block m-l
// of x) Phi_l', each lag's k-term product summed first.  The other elements
// are x shifted left, y[c] = x[c + k].
void transition_last_cols(const StateSpace& s, const double* x, double* last) {
  const std::int64_t k = s.k, m = s.m;
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

// Whether A and B (f x f) are equal to the last bit: the diagonals first,
// where successive covariances of a filter usually part.
bool same_bits(const double* A, const double* B, std::int64_t f) {
  for (std::int64_t i = 0; i < f; ++i)
    if (std::memcmp(A + i * (f + 1), B + i * (f + 1), sizeof(double)) != 0) return false;
  return std::memcmp(A, B, sizeof(double) * std::size_t(f * f)) == 0;
}

// Slots of predicted covariances the filter keeps: P(t+1) besides the last
// kFilterRing.
constexpr std::int64_t kPredictedSlots = kFilterRing + 1;

// Work of kalman_filter, in doubles, in this order.
struct FilterLayout {
  std::uint64_t R, Q, rs, a, att, X, Fp, G, v, work, tol, flags, init, P_ring, Ptt_ring,
      K_ring, total;
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
  l.X = take(fk);
  l.Fp = take(k * (k + 1) / 2);
  l.G = take(k * k);
  l.v = take(k);
  l.work = take(k);
  l.tol = take(k);
  l.flags = take(k / sizeof(double) + 1);  // k characters
  l.init = take(init);
  l.P_ring = take(kPredictedSlots * ff);
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

// Doubles of work for P(1) by either route (state_covariance_by_autocov):
// the autocovariances' alone when they are taken for every model of these
// sizes (k pmax <= kAutocovRouteOrder m), otherwise also the Lyapunov
// solve's followed by the dense transition (f^2).
std::uint64_t initial_work(int k, int pmax, int qmax, std::uint64_t f) {
  const std::uint64_t by_autocov = varma_state_covariance_work(k, pmax, qmax);
  const std::int64_t m = std::max(pmax, qmax + 1);
  if (std::int64_t(k) * pmax <= kAutocovRouteOrder * m) return by_autocov;
  const std::uint64_t by_lyapunov = kalman_initial_covariance_work(std::int64_t(f));
  if (by_autocov == UINT64_MAX || by_lyapunov == UINT64_MAX) return UINT64_MAX;
  return std::max(by_autocov, by_lyapunov + f * f);
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

// The filter's arrays in the caller's work (filter_layout).  The moments of
// step j live in ring slots, P(j) in slot j mod kPredictedSlots, P(j|j) and
// the gain in slot j mod kFilterRing, so that those of the last steps are
// kept without copies.
struct FilterArrays {
  std::int64_t ff = 0, fk = 0;
  double* a = nullptr;    // a(t), f
  double* att = nullptr;  // a(t|t), f
  double* X = nullptr;    // k x f: the last rows of T P(t|t)
  double* P_ring = nullptr;
  double* Ptt_ring = nullptr;
  double* K_ring = nullptr;
  StepWork w{};
  double* P_of(std::int64_t j) const { return P_ring + (j % kPredictedSlots) * ff; }
  double* Ptt_of(std::int64_t j) const { return Ptt_ring + (j % kFilterRing) * ff; }
  double* K_of(std::int64_t j) const { return K_ring + (j % kFilterRing) * fk; }
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
  A.ff = f * f;
  A.fk = f * k;
  A.a = work + l.a;
  A.att = work + l.att;
  A.X = work + l.X;
  A.P_ring = work + l.P_ring;
  A.Ptt_ring = work + l.Ptt_ring;
  A.K_ring = work + l.K_ring;
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
  double* P = A.P_of(0);
  if (state_covariance_by_autocov(model)) {
    (void)varma_state_covariance(model, s->Q, P, work + l.init);
  } else {
    double* Tm = work + l.init + kalman_initial_covariance_work(f);
    dense_transition(*s, Tm);
    (void)kalman_initial_covariance(f, s->k, Tm, s->Q, P, work + l.init);
  }
  return A;
}

// The prediction P(t+1), the update P(t|t) and the gain depend on P(t)
// alone.  When P(t+1) equals P(t+1-L) to the last bit and the L updates in
// between used complete rows, the covariances repeat with period L for as
// long as the rows stay complete (rounding settles into a fixed point or a
// short cycle): step t then takes the moments kept for its phase, and only
// the state is carried forward.
struct Repeats {
  std::int64_t run = 0;     // complete rows just before t whose moments are kept
  std::int64_t period = 0;  // L while repeating, else 0
  std::int64_t first = 0;   // the first step of the kept cycle
  std::int64_t phase(std::int64_t t) const { return first + (t - first) % period; }
};

// Step t while the covariances repeat: the update of the state with the gain
// kept for its phase, and the prediction of the state alone.
int repeated_step(const StateSpace& s, const FilterArrays& A, const Repeats& r, const double* y,
                  std::int64_t t, std::int64_t T, KalmanSink* sink) {
  const std::int64_t j = r.phase(t);
  for (int i = 0; i < s.k; ++i) A.w.v[i] = y[i] - A.a[i];
  StepWork kept = A.w;
  kept.K = A.K_of(j);
  state_update(s, A.a, A.att, kept);
  if (int st = sink->filtered(t, A.att, A.Ptt_of(j))) return st;
  if (t == T - 1) return kStatusOk;
  transition_vec(s, A.att, A.a);
  return sink->predicted(t + 1, A.a, A.P_of(r.phase(t + 1)), r.phase(t + 1));
}

// Step t of the full recursion from P(t) in its slot: the update, and
// except after the last row the prediction into the slot of t + 1, compared
// with the P kept for the run of complete rows before it.
int full_step(const StateSpace& s, FilterArrays& A, Repeats* r, const double* y, bool complete,
              std::int64_t t, std::int64_t T, KalmanSink* sink, bool reuse_repeats) {
  double* Ptt = A.Ptt_of(t);
  A.w.K = A.K_of(t);
  filter_update(s, y, A.a, A.P_of(t), A.att, Ptt, A.w);
  if (int st = sink->filtered(t, A.att, Ptt)) return st;
  if (t == T - 1) return kStatusOk;  // the last observation is updated, not predicted
  r->run = complete ? std::min<std::int64_t>(r->run + 1, kFilterRing) : 0;
  double* next = A.P_of(t + 1);
  if (!filter_predict(s, A.att, Ptt, A.a, next, A.X)) return kKalmanDiverged;
  std::int64_t same = -1;
  for (std::int64_t L = 1; reuse_repeats && L <= r->run && same < 0; ++L)
    if (same_bits(next, A.P_of(t + 1 - L), s.f)) {
      same = t + 1 - L;
      r->period = L;
      r->first = same;
    }
  return sink->predicted(t + 1, A.a, next, same);
}

}  // namespace

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
  Repeats r;
  if (int st = sink->predicted(0, A.a, A.P_of(0), -1)) return st;
  for (std::int64_t t = 0; t < T; ++t) {
    if (t % kCancelPollRows == kCancelPollRows - 1 && cancel_requested()) return kKalmanCancelled;
    const double* y = series + t * k;
    const bool complete = !row_missing(y, k);
    if (r.period > 0 && !complete) {  // the cycle ends: the full recursion resumes from P(t)
      const double* kept = A.P_of(r.phase(t));
      if (kept != A.P_of(t)) std::memcpy(A.P_of(t), kept, sizeof(double) * std::size_t(A.ff));
      r.period = 0;
    }
    const int st = r.period > 0 ? repeated_step(s, A, r, y, t, T, sink)
                                : full_step(s, A, &r, y, complete, t, T, sink, reuse_repeats);
    if (st != kStatusOk) return st;
  }
  return kStatusOk;
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
