#include "module/varma/varma_kalman_gradient.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/frame/sizes.hpp"
#include "module/frame/status.hpp"
#include "module/frame/tolerances.hpp"
#include "module/linalg/covariance.hpp"
#include "module/linalg/lyapunov.hpp"
#include "module/linalg/sweep_inverse.hpp"
#include "module/varma/kalman_cycle.hpp"
#include "module/varma/varma_kalman.hpp"
#include "module/varma/varma_state_covariance.hpp"
#include "module/varma/varma_state_space.hpp"

namespace mvtsa {
namespace {

using i64 = std::int64_t;
using u64 = std::uint64_t;

// The gradient's work, in doubles, in this order: the tape of the forward
// pass (per row: a(t|t), v(t) and the index of its distinct P; per distinct
// P, at most one per row: P, P(t|t), the gain and F^-1; P(1)), the
// inverse's scratch, the backward pass's arrays and the adjoint Lyapunov
// solve's.
struct GradientLayout {
  u64 att, v, id, P, Ptt, K, G, P1, Fp, sweep, flags, step, r, u, N, Nt, Y, xl, NK, AT, AQ, rR,
      Nring, phases, Tb, Wb, Mb, d, lyap, total;
};

GradientLayout gradient_layout(u64 k, u64 f, u64 T) {
  const u64 rows = std::max<u64>(T, 1), ff = checked_mul(f, f), fk = f * k, kk = k * k;
  GradientLayout l{};
  WorkOffsets at(0);
  l.att = at.take(checked_mul(rows, f));
  l.v = at.take(checked_mul(rows, k));
  l.id = at.take(rows);
  l.P = at.take(checked_mul(rows, ff));
  l.Ptt = at.take(checked_mul(rows, ff));
  l.K = at.take(checked_mul(rows, fk));
  l.G = at.take(checked_mul(rows, kk));
  l.P1 = at.take(ff);
  l.Fp = at.take(kk);
  l.sweep = at.take(k);
  l.flags = at.take(k / sizeof(double) + 1);
  l.step = at.take(kalman_step_work(int(k)));
  l.r = at.take(f);
  l.u = at.take(f);
  l.N = at.take(ff);
  l.Nt = at.take(ff);
  l.Y = at.take(ff);
  l.xl = at.take(fk);
  l.NK = at.take(fk);
  l.AT = at.take(fk);
  l.AQ = at.take(fk);
  l.rR = at.take(k);
  l.Nring = at.take(checked_mul(kFilterRing + 1, ff));
  l.phases = at.take(checked_mul(kFilterRing, checked_add(3 * fk, ff)));  // PhaseSums' arrays
  l.Tb = at.take(ff);
  l.Wb = at.take(ff);
  l.Mb = at.take(ff);
  l.d = at.take(f);
  l.lyap = at.take(discrete_lyapunov_work(i64(f)));
  l.total = at.end();
  return l;
}

// What the forward pass keeps for the backward pass.
struct Tape {
  i64 f = 0, k = 0;
  double* att = nullptr;
  double* v = nullptr;
  double* id = nullptr;  // small integers, exact in a double
  double* P = nullptr;
  double* Ptt = nullptr;
  double* K = nullptr;
  double* G = nullptr;
  double* P1 = nullptr;
  double* Fp = nullptr;
  double* sweep = nullptr;
  char* flags = nullptr;
  i64 count = 0;  // distinct P kept
  double* P_of(i64 n) const { return P + n * f * f; }
  double* Ptt_of(i64 n) const { return Ptt + n * f * f; }
  double* K_of(i64 n) const { return K + n * f * k; }
  double* G_of(i64 n) const { return G + n * k * k; }
  i64 id_of(i64 t) const { return i64(id[t]); }
};

// F^-1 (sweep_inverse, every pivot swept) and the gain K = P Z' F^-1 of the
// distinct P number n into the tape; false when a pivot was left.
bool tape_gain(Tape& tp, i64 n) {
  const i64 f = tp.f, k = tp.k;
  const double* P = tp.P_of(n);
  for (i64 i = 0; i < k; ++i)
    for (i64 j = 0; j <= i; ++j) tp.Fp[packed_index(i, j)] = P[i * f + j];
  if (sweep_inverse(tp.Fp, int(k), tp.flags, tp.sweep) < k) return false;
  double* G = tp.G_of(n);
  for (i64 i = 0; i < k; ++i)
    for (i64 j = 0; j < k; ++j) G[i * k + j] = tp.Fp[packed_index(i, j)];
  double* K = tp.K_of(n);
  for (i64 r = 0; r < f; ++r)
    for (i64 c = 0; c < k; ++c) {
      double acc = 0.0;
      for (i64 b = 0; b < k; ++b) acc += P[r * f + b] * G[b * k + c];
      K[r * k + c] = acc;
    }
  return true;
}

// The likelihood's sums, as varmafit_kalman_loglik forms them, and the tape.
class TapeSink final : public KalmanSink {
 public:
  TapeSink(const double* series, i64 T, int k, double* scratch, Tape* tape)
      : series_(series), T_(T), k_(k), scratch_(scratch), tape_(tape) {}
  void initial(int outcome) override { usable = usable && outcome == kInitialStationary; }
  int predicted(i64 t, const double* a, const double* P, i64 same_as) override {
    Tape& tp = *tape_;
    const i64 ff = tp.f * tp.f;
    if (t == 0) std::memcpy(tp.P1, P, sizeof(double) * std::size_t(ff));
    if (t >= T_) return 0;  // P(1) of an empty series
    const double* y = series_ + t * k_;
    if (int st = kalman_step_loglik(y, a, P, k_, tp.f, scratch_, &sums, t, same_as)) return st;
    const bool observed = !kalman_row_missing(y, k_);
    const i64 slot = (same_as >= 0 ? same_as : t) % kFilterRing;
    if (observed && sums.factors[slot] != kFactorInverse) usable = false;
    for (int i = 0; i < k_; ++i) tp.v[t * k_ + i] = observed ? y[i] - a[i] : 0.0;
    fresh_ = same_as < 0;
    if (!fresh_) {
      tp.id[t] = tp.id[same_as];
      return 0;
    }
    const i64 n = tp.count++;
    tp.id[t] = double(n);
    std::memcpy(tp.P_of(n), P, sizeof(double) * std::size_t(ff));
    if (!tape_gain(tp, n) && observed) usable = false;
    return 0;
  }
  int filtered(i64 t, const double* att, const double* Ptt) override {
    Tape& tp = *tape_;
    std::memcpy(tp.att + t * tp.f, att, sizeof(double) * std::size_t(tp.f));
    if (fresh_)
      std::memcpy(tp.Ptt_of(tp.id_of(t)), Ptt, sizeof(double) * std::size_t(tp.f * tp.f));
    return 0;
  }
  KalmanSums sums;
  bool usable = true;

 private:
  const double* series_;
  i64 T_;
  int k_;
  double* scratch_;
  Tape* tape_;
  bool fresh_ = false;
};

// y = T' x for an f-vector x (the row x' T): x shifted down one block, and
// the last block of x through the AR blocks, Phi_l' into block m-l.
void transition_transpose_vec(const StateSpace& s, const double* x, double* y) {
  const i64 k = s.k, f = s.f, n = f - k;
  std::fill(y, y + k, 0.0);
  std::memcpy(y + k, x, sizeof(double) * std::size_t(n));
  for (int i = 0; i < s.ar_count; ++i) {
    const i64 l = s.ar_lags[i];
    if (l < 1 || l > s.m) continue;
    const double* phi = s.ar + i64(i) * k * k;
    double* out = y + (s.m - l) * k;
    for (i64 a = 0; a < k; ++a) {
      const double xa = x[n + a];
      if (xa == 0.0) continue;
      for (i64 b = 0; b < k; ++b) out[b] += phi[a * k + b] * xa;
    }
  }
}

// out = T' N T for a symmetric N (f x f): Y = N T row by row (row r of Y is
// T' applied to row r of N), then out = T' Y, row r of out the block row
// above shifted down plus the AR blocks' rows of Y's last block.
void transition_sandwich(const StateSpace& s, const double* N, double* Y, double* out) {
  const i64 k = s.k, f = s.f, n = f - k;
  for (i64 r = 0; r < f; ++r) transition_transpose_vec(s, N + r * f, Y + r * f);
  std::fill(out, out + k * f, 0.0);
  std::memcpy(out + k * f, Y, sizeof(double) * std::size_t(n * f));
  for (int i = 0; i < s.ar_count; ++i) {
    const i64 l = s.ar_lags[i];
    if (l < 1 || l > s.m) continue;
    const double* phi = s.ar + i64(i) * k * k;
    for (i64 a = 0; a < k; ++a)
      for (i64 b = 0; b < k; ++b) {
        const double g = phi[a * k + b];
        if (g == 0.0) continue;
        const double* src = Y + (n + a) * f;
        double* dst = out + ((s.m - l) * k + b) * f;
        for (i64 c = 0; c < f; ++c) dst[c] += g * src[c];
      }
  }
}

// Steps of N kept by the backward pass: the last kFilterRing + 1.
constexpr i64 kNRing = kFilterRing + 1;
// N(t-1) counts as repeating N(t-1+L) when no element differs by more than
// this many units of roundoff of the largest (see backward_rows).
constexpr double kNRepeatUlps = 16.0;

// The sums of the prediction terms of one phase of a repeating stretch (or
// of one step): those that need only r are taken step by step, those with
// C = P(t|t) and N once for the phase (fold_phase).
struct PhaseSums {
  double* Sra = nullptr;  // k x f: sum of r_last c'
  double* Srl = nullptr;  // k x f: sum of r_last r'
  double* SrR = nullptr;  // f x k: sum of r (r' R)
  double* N = nullptr;    // f x f: the phase's N
  i64 key = -1;
  i64 count = 0;
};

// The backward pass's arrays.
struct Backward {
  double* r = nullptr;      // f: dL/da of the step after
  double* u = nullptr;      // f: T' r
  double* N = nullptr;      // f x f
  double* Nt = nullptr;     // f x f: T' N T
  double* Y = nullptr;      // f x f scratch
  double* xl = nullptr;     // k x f: the last rows of T C
  double* NK = nullptr;     // f x k: Nt K
  double* AT = nullptr;     // k x f: dL/dT, its last block row
  double* AQ = nullptr;     // f x k: (dL/dQ) R
  double* rR = nullptr;     // k: r' R
  double* Nring = nullptr;  // kNRing f x f: N(t-1) of the last steps, slot t mod kNRing
  i64 keys[kNRing] = {};
  PhaseSums phase[kFilterRing];
  unsigned omit = 0;  // KalmanGradientOmit
};

// The r terms of one prediction P(t+1) = T C T' + Q, a(t+1) = T c (c =
// a(t|t), or none for P(1)) into the phase's sums.
void add_prediction(const StateSpace& s, Backward& b, PhaseSums& ph, const double* c,
                    const double* R) {
  const i64 k = s.k, f = s.f, n = f - k;
  for (i64 a = 0; a < k; ++a) {
    const double ra = b.r[n + a];
    if (ra == 0.0) continue;
    double* ca = ph.Sra + a * f;
    double* la = ph.Srl + a * f;
    if (c && !(b.omit & kOmitStateTerm))
      for (i64 j = 0; j < f; ++j) ca[j] += ra * c[j];
    for (i64 j = 0; j < f; ++j) la[j] += ra * b.r[j];
  }
  for (i64 c2 = 0; c2 < k; ++c2) {
    double acc = 0.0;
    for (i64 j = 0; j < f; ++j) acc += b.r[j] * R[j * k + c2];
    b.rR[c2] = acc;
  }
  for (i64 i = 0; i < f; ++i)
    for (i64 c2 = 0; c2 < k; ++c2) ph.SrR[i * k + c2] += b.r[i] * b.rR[c2];
  ++ph.count;
}

// The phase's terms with W = (r r' - N) / 2 summed over its steps, all with
// the same C and N:
//   AT += sum r_last c' + 2 W_last (T C),   AQ += sum W R;
// then its sums start again.
void fold_phase(const StateSpace& s, Backward& b, PhaseSums& ph, const double* N,
                const double* C, const double* R) {
  const i64 k = s.k, f = s.f, n = f - k;
  if (ph.count == 0) return;
  const double cnt = double(ph.count);
  transition_last_rows(s, C, b.xl);
  for (i64 a = 0; a < k; ++a) {
    const double* Na = N + (n + a) * f;
    double* out = b.AT + a * f;
    for (i64 j = 0; j < f; ++j) out[j] += ph.Sra[a * f + j];
    // row a of 2 W_last (T C) = sum_j (r_a r_j - N_aj) (T C) row j
    for (i64 j = 0; j < f; ++j) {
      const double g = ph.Srl[a * f + j] - cnt * Na[j];
      if (g == 0.0) continue;
      const double* x = j < n ? C + (j + k) * f : b.xl + (j - n) * f;
      for (i64 e = 0; e < f; ++e) out[e] += g * x[e];
    }
  }
  for (i64 i = 0; i < f; ++i) {
    const double* Ni = N + i * f;
    for (i64 c2 = 0; c2 < k; ++c2) {
      double acc = 0.0;
      for (i64 j = 0; j < f; ++j) acc += Ni[j] * R[j * k + c2];
      b.AQ[i * k + c2] += 0.5 * (ph.SrR[i * k + c2] - cnt * acc);
    }
  }
  std::fill(ph.Sra, ph.Sra + k * f, 0.0);
  std::fill(ph.Srl, ph.Srl + k * f, 0.0);
  std::fill(ph.SrR, ph.SrR + f * k, 0.0);
  ph.count = 0;
}

// Whether A and B (f x f) differ by at most kNRepeatUlps units of roundoff
// of the largest magnitude in A.
bool near_same(const double* A, const double* B, i64 f) {
  double big = 0.0, diff = 0.0;
  for (i64 e = 0; e < f * f; ++e) {
    big = std::max(big, std::fabs(A[e]));
    diff = std::max(diff, std::fabs(A[e] - B[e]));
  }
  return diff <= kNRepeatUlps * kRoundoffTol * big;
}

// Through the update of a complete row with gain K and F^-1 = G:
//   r = A' u + Z' G v,   N = A' Nt A + Z' G Z,   A = I - K Z.
void update_adjoint(i64 f, i64 k, const double* K, const double* G, const double* v,
                    Backward& b, bool with_N) {
  if (b.omit & kOmitGainTerm) K = nullptr;
  // r: u with its first k elements less K' u plus G v
  std::memcpy(b.r, b.u, sizeof(double) * std::size_t(f));
  for (i64 c = 0; c < k; ++c) {
    double acc = 0.0;
    for (i64 j = 0; K && j < f; ++j) acc += K[j * k + c] * b.u[j];
    for (i64 j = 0; j < k; ++j) acc -= G[c * k + j] * v[j];
    b.r[c] -= acc;
  }
  if (!with_N) return;
  // B = Nt A: the first k columns less Nt K
  for (i64 i = 0; i < f; ++i)
    for (i64 c = 0; c < k; ++c) {
      double acc = 0.0;
      for (i64 j = 0; K && j < f; ++j) acc += b.Nt[i * f + j] * K[j * k + c];
      b.NK[i * k + c] = acc;
    }
  std::memcpy(b.N, b.Nt, sizeof(double) * std::size_t(f * f));
  for (i64 i = 0; i < f; ++i)
    for (i64 c = 0; c < k; ++c) b.N[i * f + c] -= b.NK[i * k + c];
  // A' B: the first k rows less K' B, B's columns c < k read from Nt - NK
  for (i64 c = 0; c < k; ++c)
    for (i64 j = 0; j < f; ++j) {
      double acc = 0.0;
      for (i64 i = 0; K && i < f; ++i) acc += K[i * k + c] * b.N[i * f + j];
      b.Y[c * f + j] = acc;
    }
  for (i64 c = 0; c < k; ++c)
    for (i64 j = 0; j < f; ++j) b.N[c * f + j] -= b.Y[c * f + j];
  for (i64 i = 0; i < k; ++i)
    for (i64 j = 0; j < k; ++j) b.N[i * f + j] += G[i * k + j];
}

// The step of the backward pass while N repeats with period L: N(t) is the
// one kept for the phase, the prediction terms go to the phase's sums, and
// only r is carried back.
void repeated_backward(const StateSpace& s, const Tape& tp, i64 t, i64 key, i64 L,
                       const double* R, Backward& b) {
  const i64 f = s.f, k = s.k;
  const std::size_t ff = std::size_t(f * f);
  PhaseSums& ph = b.phase[t % L];
  if (ph.count == 0) {
    ph.key = key;
    std::memcpy(ph.N, b.Nring + ((t + 1) % kNRing) * f * f, sizeof(double) * ff);
  }
  add_prediction(s, b, ph, tp.att + t * f, R);
  transition_transpose_vec(s, b.r, b.u);
  const i64 n = key / 2;
  if (key % 2)
    update_adjoint(f, k, tp.K_of(n), tp.G_of(n), tp.v + t * k, b, false);
  else
    std::memcpy(b.r, b.u, sizeof(double) * std::size_t(f));
  std::memcpy(b.Nring + (t % kNRing) * f * f, b.Nring + ((t + L) % kNRing) * f * f,
              sizeof(double) * ff);
  b.keys[t % kNRing] = key;
}

// The step of the full backward pass: the prediction's terms (folded at
// once), then r and N through the prediction and the update.
void full_backward(const StateSpace& s, const Tape& tp, i64 t, i64 T, i64 key, const double* C,
                   const double* R, Backward& b) {
  const i64 f = s.f, k = s.k;
  const std::size_t ff = std::size_t(f * f);
  if (t == T - 1) {  // the last row is updated, not predicted from
    std::fill(b.u, b.u + f, 0.0);
    std::fill(b.Nt, b.Nt + ff, 0.0);
  } else {
    add_prediction(s, b, b.phase[0], tp.att + t * f, R);
    fold_phase(s, b, b.phase[0], b.N, C, R);
    transition_transpose_vec(s, b.r, b.u);
    transition_sandwich(s, b.N, b.Y, b.Nt);
  }
  const i64 n = key / 2;
  if (key % 2) {
    update_adjoint(f, k, tp.K_of(n), tp.G_of(n), tp.v + t * k, b, true);
  } else {
    std::memcpy(b.r, b.u, sizeof(double) * std::size_t(f));
    std::memcpy(b.N, b.Nt, sizeof(double) * ff);
  }
  std::memcpy(b.Nring + (t % kNRing) * f * f, b.N, sizeof(double) * ff);
  b.keys[t % kNRing] = key;
}

// The backward pass over the rows, from the last.  Steps share their
// covariances by key = 2 (distinct P) + observed.  N(t-1) depends on N(t)
// and the key of step t alone, so once N(t-1) repeats N(t-1+L) (within
// kNRepeatUlps roundoff: the recursion contracts onto a fixed point or
// cycle, and its last bits need not settle) with L <= kFilterRing, it
// repeats with period L for as long as the keys do: N is not formed again,
// and the terms that need it are summed per phase and folded once.
void backward_rows(const StateSpace& s, const Tape& tp, const double* series, i64 T,
                   const double* R, Backward& b) {
  const i64 f = s.f, k = s.k;
  std::fill(b.r, b.r + f, 0.0);
  std::fill(b.N, b.N + f * f, 0.0);
  std::fill(b.AT, b.AT + k * f, 0.0);
  std::fill(b.AQ, b.AQ + f * k, 0.0);
  auto C_of = [&tp](i64 key) { return key % 2 ? tp.Ptt_of(key / 2) : tp.P_of(key / 2); };
  auto fold_all = [&](i64 L) {
    for (i64 p = 0; p < L; ++p) fold_phase(s, b, b.phase[p], b.phase[p].N, C_of(b.phase[p].key), R);
  };
  i64 L = 0;  // the period while N repeats, else 0
  for (i64 t = T - 1; t >= 0; --t) {
    const i64 n = tp.id_of(t);
    const i64 key = 2 * n + (kalman_row_missing(series + t * k, int(k)) ? 0 : 1);
    if (L > 0 && b.keys[(t + L) % kNRing] != key) {  // the keys stop repeating
      fold_all(L);
      std::memcpy(b.N, b.Nring + ((t + 1) % kNRing) * f * f, sizeof(double) * std::size_t(f * f));
      L = 0;
    }
    if (L > 0) {
      repeated_backward(s, tp, t, key, L, R, b);
      continue;
    }
    full_backward(s, tp, t, T, key, C_of(key), R, b);
    for (i64 l = 1; l <= kFilterRing && t + l <= T - 1 && L == 0; ++l)
      if (b.keys[(t + l) % kNRing] == key && near_same(b.N, b.Nring + ((t + l) % kNRing) * f * f, f))
        L = l;
  }
  fold_all(L);
}

// The terms of P(1): W(0) = (r r' - N) / 2 from the backward pass, the
// adjoint equation M = T' M T + W(0) solved in the balanced units of
// kalman_initial_covariance (with D = diag(d), T~ = D^-1 T D: M~ = D M D
// solves M~ = T~' M~ T~ + D W(0) D), and its terms as those of a
// prediction from P(1) with W = M and no state.  False when the equation
// cannot be solved.
bool initial_terms(const StateSpace& s, const Tape& tp, const double* Tm, const double* Q,
                   const double* R, Backward& b, const GradientLayout& l, double* work) {
  const i64 f = s.f;
  double* Ab = work + l.Tb;
  double* Wb = work + l.Wb;
  double* Mb = work + l.Mb;
  double* d = work + l.d;
  kalman_balance_scales(f, s.k, Q, d);
  for (i64 i = 0; i < f; ++i)
    for (i64 j = 0; j < f; ++j) {
      Ab[i * f + j] = Tm[j * f + i] / d[j] * d[i];
      Wb[i * f + j] = 0.5 * (b.r[i] * b.r[j] - b.N[i * f + j]) * d[i] * d[j];
    }
  if (discrete_lyapunov(f, Ab, Wb, kFilterTol, Mb, work + l.lyap) != kLyapunovOk) return false;
  // W = M is (r r' - N) / 2 with r = 0 and N = -2 M
  std::fill(b.r, b.r + f, 0.0);
  for (i64 i = 0; i < f; ++i)
    for (i64 j = 0; j < f; ++j)
      b.N[i * f + j] = -(Mb[i * f + j] + Mb[j * f + i]) / (d[i] * d[j]);
  add_prediction(s, b, b.phase[0], nullptr, R);
  fold_phase(s, b, b.phase[0], b.N, tp.P1, R);
  return true;
}

// The derivatives in the parameters from AT = the last block row of dL/dT
// and AQ = (dL/dQ) R: Phi_l from block (m-1, m-l) of T; dL/dSigma = R' AQ;
// dL/dR = 2 AQ Sigma carried back through Psi_j = sum_l Phi_l Psi_{j-l} -
// Theta_j, from the last block: Theta_j takes -dL/dPsi_j, Phi_l takes
// dL/dPsi_j Psi_{j-l}', and dL/dPsi_{j-l} takes Phi_l' dL/dPsi_j.
void chain_to_parameters(const StateSpace& s, int ma_count, const int* ma_lags,
                         const double* sigma_packed, const double* R, Backward& b,
                         KalmanGradient* g) {
  const i64 k = s.k, f = s.f, kk = k * k;
  for (int i = 0; i < s.ar_count; ++i) {
    const i64 l = s.ar_lags[i];
    for (i64 a = 0; a < k; ++a)
      for (i64 c = 0; c < k; ++c)
        g->ar[i * kk + a * k + c] = (l >= 1 && l <= s.m) ? b.AT[a * f + (s.m - l) * k + c] : 0.0;
  }
  for (i64 e = 0; e < i64(ma_count) * kk; ++e) g->ma[e] = 0.0;
  for (i64 i = 0; i < k; ++i)
    for (i64 j = 0; j < k; ++j) {
      double acc = 0.0;
      for (i64 r = 0; r < f; ++r) acc += R[r * k + i] * b.AQ[r * k + j];
      b.Y[i * k + j] = acc;
    }
  for (i64 i = 0; i < k; ++i)
    for (i64 j = 0; j < k; ++j) g->sigma[i * k + j] = 0.5 * (b.Y[i * k + j] + b.Y[j * k + i]);
  double* gR = b.NK;  // f x k
  for (i64 r = 0; r < f; ++r)
    for (i64 c = 0; c < k; ++c) {
      double acc = 0.0;
      for (i64 j = 0; j < k; ++j) acc += b.AQ[r * k + j] * sigma_packed[packed_index(j, c)];
      gR[r * k + c] = 2.0 * acc;
    }
  for (i64 j = s.m - 1; j >= 1; --j) {
    const double* Bj = gR + j * kk;
    for (int i = 0; i < ma_count; ++i)
      if (ma_lags[i] == j)
        for (i64 e = 0; e < kk; ++e) g->ma[i * kk + e] -= Bj[e];
    for (int i = 0; i < s.ar_count; ++i) {
      const i64 l = s.ar_lags[i];
      if (l < 1 || l > j) continue;
      const double* phi = s.ar + i * kk;
      const double* psi = R + (j - l) * kk;
      double* Bl = gR + (j - l) * kk;
      for (i64 a = 0; a < k; ++a)
        for (i64 c = 0; c < k; ++c) {
          double to_phi = 0.0, to_psi = 0.0;
          for (i64 e = 0; e < k; ++e) {
            to_phi += Bj[a * k + e] * psi[c * k + e];
            to_psi += phi[e * k + a] * Bj[e * k + c];
          }
          g->ar[i * kk + a * k + c] += to_phi;
          Bl[a * k + c] += to_psi;
        }
    }
  }
}

}  // namespace

std::uint64_t kalman_gradient_work(int k, int pmax, int qmax, std::int64_t T) {
  if (k < 1 || pmax < 0 || qmax < 0 || T < 0) return UINT64_MAX;
  if (kalman_filter_work(k, pmax, qmax) == UINT64_MAX) return UINT64_MAX;
  const u64 f = u64(k) * u64(std::max(pmax, qmax + 1));
  const u64 total = gradient_layout(u64(k), f, u64(T)).total;
  return total;
}

}  // namespace mvtsa

namespace mvtsa {

int varma_kalman_loglik_gradient(double out[3], KalmanGradient* grad, const double* series,
                                 std::int64_t T, int k, const double* ar, int ar_count, int pmax,
                                 const int* ar_lags, const double* ma, int ma_count, int qmax,
                                 const int* ma_lags, const double* sigma_packed,
                                 double* filter_work, double* grad_work, unsigned omit) {
  StateSpace s;
  s.k = k;
  s.m = std::max(pmax, qmax + 1);
  s.f = i64(k) * s.m;
  s.ar = ar;
  s.ar_lags = ar_lags;
  s.ar_count = ar_count;
  const GradientLayout l = gradient_layout(u64(k), u64(s.f), u64(T));
  double* w = grad_work;
  Tape tp;
  tp.f = s.f;
  tp.k = k;
  tp.att = w + l.att;
  tp.v = w + l.v;
  tp.id = w + l.id;
  tp.P = w + l.P;
  tp.Ptt = w + l.Ptt;
  tp.K = w + l.K;
  tp.G = w + l.G;
  tp.P1 = w + l.P1;
  tp.Fp = w + l.Fp;
  tp.sweep = w + l.sweep;
  tp.flags = reinterpret_cast<char*>(w + l.flags);
  TapeSink sink(series, T, k, w + l.step, &tp);
  grad->given = false;
  if (int st = kalman_filter(series, T, k, ar, ar_count, pmax, ar_lags, ma, ma_count, qmax,
                             ma_lags, sigma_packed, filter_work, &sink))
    return st;
  out[0] = -(sink.sums.D + sink.sums.S) / 2.0;
  out[1] = sink.sums.D;
  out[2] = sink.sums.S;
  if (!sink.usable) return sink.sums.det_status;
  const double* Tm = nullptr;
  const double* Q = nullptr;
  kalman_filter_system(filter_work, k, pmax, qmax, &Tm, &Q);
  const double* R = kalman_filter_noise(filter_work, k, pmax, qmax);
  Backward b;
  b.r = w + l.r;
  b.u = w + l.u;
  b.N = w + l.N;
  b.Nt = w + l.Nt;
  b.Y = w + l.Y;
  b.xl = w + l.xl;
  b.NK = w + l.NK;
  b.AT = w + l.AT;
  b.AQ = w + l.AQ;
  b.rR = w + l.rR;
  b.Nring = w + l.Nring;
  const i64 fk = s.f * k, ff = s.f * s.f;
  for (i64 p = 0; p < kFilterRing; ++p) {
    double* at = w + l.phases + p * (3 * fk + ff);
    b.phase[p].Sra = at;
    b.phase[p].Srl = at + fk;
    b.phase[p].SrR = at + 2 * fk;
    b.phase[p].N = at + 3 * fk;
  }
  b.omit = omit;
  backward_rows(s, tp, series, T, R, b);
  if (!(omit & kOmitInitialTerm) && !initial_terms(s, tp, Tm, Q, R, b, l, w))
    return sink.sums.det_status;
  chain_to_parameters(s, ma_count, ma_lags, sigma_packed, R, b, grad);
  grad->given = true;
  return sink.sums.det_status;
}

}  // namespace mvtsa
