#include "module/farma/superfast_toeplitz.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "module/farma/fft_convolve.hpp"
#include "module/farma/toeplitz_filter.hpp"
#include "module/frame/host.hpp"
#include "module/frame/status.hpp"

namespace mvtsa {
namespace {

// Doubles reserved in front of a run of aligned FFT arrays.
constexpr std::int64_t kAlignRoom = 8;

std::int64_t stride_for(std::int64_t k) { return fft_array_stride(fft_nice_length(k)); }

// Scratch doubles of one node of k steps (its outputs A, B excluded).  A
// node takes, above its A_1, B_1 (h each), for the first half the copies
// of E, F (h each) and the child's room.  Below kKeepTransformsBelow it
// then takes six aligned transforms for the generators' update (A_1, B_1,
// rev_h(A_1), rev_h(B_1), E, F), holds the first four through the second
// half (A_2, B_2, k - h each, and the child's room above them) and adds two
// for M = M_2 M_1.  From there on it works in four transforms' room, one
// product at a time, and makes M_1's transforms again for M.
std::int64_t node_stack(std::int64_t k) {
  if (k <= kSchurLeaf) return 2 * (k + 1);
  const std::int64_t h = k / 2, k2 = k - h, s = stride_for(k);
  const bool keep = k < kKeepTransformsBelow;
  const std::int64_t left = 2 * h + node_stack(h);
  const std::int64_t update = kAlignRoom + (keep ? 6 : 4) * s;
  const std::int64_t right = kAlignRoom + (keep ? 4 * s : 0) + 2 * k2 + node_stack(k2);
  const std::int64_t product = kAlignRoom + (keep ? 4 * s : 0) + 2 * k2 + kAlignRoom +
                               (keep ? 2 : 4) * s;
  return 2 * h + std::max(std::max(left, update), std::max(right, product));
}

// The recursion's shared state.
struct Doubling {
  double* kappa = nullptr;  // kappa[m + 1] is step m's
  double gamma0 = 0.0;
  double growth = 0.0;      // max |generator| at a leaf / gamma(0)
  bool no_plan = false;
  bool cancelled = false;
};

// k plain Schur steps from step m on generators E, F (k values each, both
// overwritten), accumulating M = [A, B; C, D] (A, B: k values out; C, D of
// degree <= k in the room).
void schur_leaf(Doubling& st, double* E, double* F, std::int64_t k, std::int64_t m, double* A,
                double* B, double* room) {
  // The host is asked whether the call has been cancelled as often as the
  // Durbin-Levinson pass asks (every kCancelPollPivots steps).
  if ((m + k) / kCancelPollPivots != m / kCancelPollPivots && cancel_requested())
    st.cancelled = true;
  double g = 0.0;
  for (std::int64_t i = 0; i < k; ++i) g = std::max(g, std::max(std::fabs(E[i]), std::fabs(F[i])));
  st.growth = std::max(st.growth, g / st.gamma0);
  double* C = room;
  double* D = room + k + 1;
  std::fill_n(A, k, 0.0);
  std::fill_n(B, k, 0.0);
  std::fill_n(C, k + 1, 0.0);
  std::fill_n(D, k + 1, 0.0);
  A[0] = 1.0;
  D[0] = 1.0;
  for (std::int64_t j = 0; j < k; ++j) {
    const double kappa = E[0] / F[0];
    st.kappa[m + 1 + j] = kappa;
    // E(i) <- E(i + 1) - kappa F(i + 1),  F(i) <- F(i) - kappa E(i)
    const std::int64_t len = k - j;
    for (std::int64_t i = 0; i + 1 < len; ++i) {
      const double e = E[i + 1] - kappa * F[i + 1];
      F[i] -= kappa * E[i];
      E[i] = e;
    }
    // [A, B; C, D] <- [1, -kappa; -kappa z, z] [A, B; C, D]
    for (std::int64_t i = j; i >= 0; --i) {
      const double a = A[i], b = B[i], c = C[i], d = D[i];
      if (i < k) {
        A[i] = a - kappa * c;
        B[i] = b - kappa * d;
      }
      C[i + 1] = c - kappa * a;
      D[i + 1] = d - kappa * b;
    }
    C[0] = D[0] = 0.0;
  }
}

// buf <- the transform of x[0..len) padded with zeros (reversed: buf[j] =
// x[len - j], j = 1..len, buf[0] = 0: the coefficients of rev_len(x)).
void transform_of(const FftPlans& P, double* buf, const double* x, std::int64_t len,
                  bool reversed) {
  const std::int64_t s = fft_array_stride(P.length());
  if (reversed) {
    buf[0] = 0.0;
    for (std::int64_t j = 1; j <= len; ++j) buf[j] = x[len - j];
    std::fill(buf + len + 1, buf + s, 0.0);
  } else {
    std::copy_n(x, len, buf);
    std::fill(buf + len, buf + s, 0.0);
  }
  P.forward(buf);
}

void schur_node(Doubling& st, double* E, double* F, std::int64_t k, std::int64_t m, double* A,
                double* B, double* stack);

// T <- the transforms of A_1, B_1, rev_h(A_1), rev_h(B_1) (h values each).
void transform_steps(const FftPlans& P, const double* A1, const double* B1, std::int64_t h,
                     double* T) {
  const std::int64_t s = fft_array_stride(P.length());
  transform_of(P, T, A1, h, false);
  transform_of(P, T + s, B1, h, false);
  transform_of(P, T + 2 * s, A1, h, true);
  transform_of(P, T + 3 * s, B1, h, true);
}

// The generators moved on by h steps: E(h + i), F(h + i), i < k - h, become
// coefficients h + i of A_1 E + B_1 F and rev_h(B_1) E + rev_h(A_1) F, T
// holding the four transforms of M_1 and room for two more.
void move_generators(const FftPlans& P, double* E, double* F, std::int64_t k, std::int64_t h,
                     const double* T) {
  const std::int64_t N = P.length(), s = fft_array_stride(N);
  const double *tA = T, *tB = T + s, *rA = T + 2 * s, *rB = T + 3 * s;
  double* tE = const_cast<double*>(T) + 4 * s;
  double* tF = tE + s;
  transform_of(P, tE, E, k, false);
  transform_of(P, tF, F, k, false);
  for (std::int64_t l = 0; l <= N / 2; ++l) {
    const double er = tE[2 * l], ei = tE[2 * l + 1], fr = tF[2 * l], fi = tF[2 * l + 1];
    tE[2 * l] = (tA[2 * l] * er - tA[2 * l + 1] * ei) + (tB[2 * l] * fr - tB[2 * l + 1] * fi);
    tE[2 * l + 1] = (tA[2 * l] * ei + tA[2 * l + 1] * er) + (tB[2 * l] * fi + tB[2 * l + 1] * fr);
    tF[2 * l] = (rB[2 * l] * er - rB[2 * l + 1] * ei) + (rA[2 * l] * fr - rA[2 * l + 1] * fi);
    tF[2 * l + 1] = (rB[2 * l] * ei + rB[2 * l + 1] * er) + (rA[2 * l] * fi + rA[2 * l + 1] * fr);
  }
  P.inverse(tE);
  P.inverse(tF);
  const double scale = 1.0 / double(N);
  for (std::int64_t i = h; i < k; ++i) {
    E[i] = tE[i] * scale;
    F[i] = tF[i] * scale;
  }
}

// M = M_2 M_1, row one: A = A_2 A_1 + B_2 rev_h(B_1), B = A_2 B_1 + B_2 rev_h(A_1)
// (k coefficients each), T holding the transforms of M_1, U two more arrays.
void multiply_steps(const FftPlans& P, const double* A2, const double* B2, std::int64_t k2,
                    const double* T, double* U, std::int64_t k, double* A, double* B) {
  const std::int64_t N = P.length(), s = fft_array_stride(N);
  const double *tA = T, *tB = T + s, *rA = T + 2 * s, *rB = T + 3 * s;
  double* uA = U;
  double* uB = U + s;
  transform_of(P, uA, A2, k2, false);
  transform_of(P, uB, B2, k2, false);
  for (std::int64_t l = 0; l <= N / 2; ++l) {
    const double ar = uA[2 * l], ai = uA[2 * l + 1], br = uB[2 * l], bi = uB[2 * l + 1];
    uA[2 * l] = (ar * tA[2 * l] - ai * tA[2 * l + 1]) + (br * rB[2 * l] - bi * rB[2 * l + 1]);
    uA[2 * l + 1] = (ar * tA[2 * l + 1] + ai * tA[2 * l]) + (br * rB[2 * l + 1] + bi * rB[2 * l]);
    uB[2 * l] = (ar * tB[2 * l] - ai * tB[2 * l + 1]) + (br * rA[2 * l] - bi * rA[2 * l + 1]);
    uB[2 * l + 1] = (ar * tB[2 * l + 1] + ai * tB[2 * l]) + (br * rA[2 * l + 1] + bi * rA[2 * l]);
  }
  P.inverse(uA);
  P.inverse(uB);
  const double scale = 1.0 / double(N);
  for (std::int64_t i = 0; i < k; ++i) {
    A[i] = uA[i] * scale;
    B[i] = uB[i] * scale;
  }
}

// out <- x u + y v pointwise over N / 2 + 1 complex values (out may be any
// of them), transformed back: dst[i] = out[from + i] / N, i < count.
void product_sum(const FftPlans& P, double* out, const double* x, const double* u,
                 const double* y, const double* v, std::int64_t from, std::int64_t count,
                 double* dst) {
  const std::int64_t N = P.length();
  for (std::int64_t l = 0; l <= N / 2; ++l) {
    const double xr = x[2 * l], xi = x[2 * l + 1], ur = u[2 * l], ui = u[2 * l + 1];
    const double yr = y[2 * l], yi = y[2 * l + 1], vr = v[2 * l], vi = v[2 * l + 1];
    out[2 * l] = (xr * ur - xi * ui) + (yr * vr - yi * vi);
    out[2 * l + 1] = (xr * ui + xi * ur) + (yr * vi + yi * vr);
  }
  P.inverse(out);
  const double scale = 1.0 / double(N);
  for (std::int64_t i = 0; i < count; ++i) dst[i] = out[from + i] * scale;
}

// move_generators in four transforms' room (T), one product at a time.
void move_generators_lean(const FftPlans& P, double* E, double* F, std::int64_t k,
                          std::int64_t h, const double* A1, const double* B1, double* T) {
  const std::int64_t s = fft_array_stride(P.length());
  double *x1 = T, *x2 = T + s, *x3 = T + 2 * s, *x4 = T + 3 * s;
  transform_of(P, x3, E, k, false);
  transform_of(P, x4, F, k, false);
  transform_of(P, x1, A1, h, false);
  transform_of(P, x2, B1, h, false);
  product_sum(P, x1, x1, x3, x2, x4, h, k - h, E + h);  // A_1 E + B_1 F
  transform_of(P, x1, B1, h, true);
  transform_of(P, x2, A1, h, true);
  product_sum(P, x1, x1, x3, x2, x4, h, k - h, F + h);  // rev_h(B_1) E + rev_h(A_1) F
}

// multiply_steps in four transforms' room (T), M_1's transforms made here.
void multiply_steps_lean(const FftPlans& P, const double* A1, const double* B1, std::int64_t h,
                         const double* A2, const double* B2, std::int64_t k2, double* T,
                         std::int64_t k, double* A, double* B) {
  const std::int64_t s = fft_array_stride(P.length());
  double *x1 = T, *x2 = T + s, *x3 = T + 2 * s, *x4 = T + 3 * s;
  transform_of(P, x3, A2, k2, false);
  transform_of(P, x4, B2, k2, false);
  transform_of(P, x1, A1, h, false);
  transform_of(P, x2, B1, h, true);
  product_sum(P, x1, x3, x1, x4, x2, 0, k, A);  // A_2 A_1 + B_2 rev_h(B_1)
  transform_of(P, x1, B1, h, false);
  transform_of(P, x2, A1, h, true);
  product_sum(P, x1, x3, x1, x4, x2, 0, k, B);  // A_2 B_1 + B_2 rev_h(A_1)
}

// k steps from step m on E, F (k values each, overwritten); A, B: k values out.
void schur_node(Doubling& st, double* E, double* F, std::int64_t k, std::int64_t m, double* A,
                double* B, double* stack) {
  if (st.no_plan || st.cancelled) return;
  if (k <= kSchurLeaf) {
    schur_leaf(st, E, F, k, m, A, B, stack);
    return;
  }
  const std::int64_t h = k / 2, k2 = k - h;
  double* A1 = stack;
  double* B1 = A1 + h;
  double* above = B1 + h;
  // The first h steps on copies of the generators' first h values.
  std::copy_n(E, h, above);
  std::copy_n(F, h, above + h);
  schur_node(st, above, above + h, h, m, A1, B1, above + 2 * h);
  FftPlans P;
  double* T = fft_align(above);
  if (st.no_plan || st.cancelled) return;
  if (!P.acquire(fft_nice_length(k), T)) {
    st.no_plan = true;
    return;
  }
  const std::int64_t s = fft_array_stride(P.length());
  if (k < kKeepTransformsBelow) {
    // M_1's transforms made once and held through the second half.
    transform_steps(P, A1, B1, h, T);
    move_generators(P, E, F, k, h, T);
    double* A2 = T + 4 * s;
    double* B2 = A2 + k2;
    schur_node(st, E + h, F + h, k2, m + h, A2, B2, B2 + k2);
    if (st.no_plan || st.cancelled) return;
    multiply_steps(P, A2, B2, k2, T, fft_align(B2 + k2), k, A, B);
    return;
  }
  move_generators_lean(P, E, F, k, h, A1, B1, T);
  double* A2 = T;
  double* B2 = A2 + k2;
  schur_node(st, E + h, F + h, k2, m + h, A2, B2, B2 + k2);
  if (st.no_plan || st.cancelled) return;
  multiply_steps_lean(P, A1, B1, h, A2, B2, k2, fft_align(B2 + k2), k, A, B);
}

}  // namespace

std::int64_t schur_work_size(std::int64_t n) {
  const std::int64_t k = n - 1;
  return 4 * k + node_stack(k);
}

int schur_doubling(const double* gamma, std::int64_t n, double* kappa, double* a, double* work,
                   double* growth) {
  const std::int64_t k = n - 1;
  double* E = work;
  double* F = E + k;
  double* A = F + k;
  double* B = A + k;
  for (std::int64_t i = 0; i < k; ++i) {
    E[i] = gamma[i + 1];
    F[i] = gamma[i];
  }
  Doubling st;
  st.kappa = kappa;
  st.gamma0 = gamma[0];
  kappa[0] = 0.0;
  schur_node(st, E, F, k, 0, A, B, B + k);
  *growth = st.growth;
  if (st.cancelled) return kMsgCancelled;
  if (st.no_plan) return kSuperfastDeclined;
  // a = A + z B; A(0) = 1 exactly (T(kappa) at z = 0 is [1, -kappa; 0, 0]).
  a[0] = 1.0;
  for (std::int64_t j = 1; j < k; ++j) a[j] = A[j] + B[j - 1];
  a[k] = B[k - 1];
  return 0;
}

namespace {

// Sigma^-1 by Gohberg and Semencul and Sigma itself as a circulant, both
// by transforms of length N >= 2n - 1 (no wrap-around):
//   L(x)' w = (x * reversed w) reversed,  L(x) w = (x * w) head,
//   Sigma w = (c * w) head,  c = (gamma(0..n-1), 0, ..., 0, gamma(n-1..1)).
struct GsSolver {
  FftPlans P;
  std::int64_t n = 0, N = 0, s = 0;
  double v = 0.0;
  const double* gamma = nullptr;
  double *ta = nullptr, *tb = nullptr, *w1 = nullptr, *w2 = nullptr;
};

std::int64_t gs_work_size(std::int64_t n) {
  return kAlignRoom + 4 * fft_array_stride(fft_nice_length(2 * n - 1));
}

bool gs_setup(GsSolver& g, const double* gamma, const double* a, std::int64_t n, double v,
              double* work) {
  g.n = n;
  g.v = v;
  g.N = fft_nice_length(2 * n - 1);
  g.s = fft_array_stride(g.N);
  g.ta = fft_align(work);
  g.tb = g.ta + g.s;
  g.gamma = gamma;
  g.w1 = g.tb + g.s;
  g.w2 = g.w1 + g.s;
  if (!g.P.acquire(g.N, g.ta)) return false;
  transform_of(g.P, g.ta, a, n, false);
  // b = (0, a_(n-1), ..., a_1): rev_n of (a_1, ..., a_(n-1), 0) shifted
  g.w1[0] = 0.0;
  for (std::int64_t j = 1; j < n; ++j) g.w1[j] = a[n - j];
  transform_of(g.P, g.tb, g.w1, n, false);
  return true;
}

// x <- x y pointwise over N / 2 + 1 complex values.
void mul_into(double* x, const double* y, std::int64_t N) {
  for (std::int64_t l = 0; l <= N / 2; ++l) {
    const double xr = x[2 * l], xi = x[2 * l + 1], yr = y[2 * l], yi = y[2 * l + 1];
    x[2 * l] = xr * yr - xi * yi;
    x[2 * l + 1] = xr * yi + xi * yr;
  }
}

// out = Sigma w (n values); the circulant's transform is made in w2 each
// time (one transform for an array less).
void gs_times(const GsSolver& g, const double* w, double* out) {
  std::fill(g.w2, g.w2 + g.s, 0.0);
  for (std::int64_t j = 0; j < g.n; ++j) g.w2[j] = g.gamma[j];
  for (std::int64_t j = 1; j < g.n; ++j) g.w2[g.N - j] = g.gamma[j];
  g.P.forward(g.w2);
  transform_of(g.P, g.w1, w, g.n, false);
  mul_into(g.w1, g.w2, g.N);
  g.P.inverse(g.w1);
  const double scale = 1.0 / double(g.N);
  for (std::int64_t i = 0; i < g.n; ++i) out[i] = g.w1[i] * scale;
}

// The first n values of an inverse transform in buf, reversed, scaled and
// padded, then transformed again.
void reverse_head(const GsSolver& g, double* buf) {
  g.P.inverse(buf);
  const double scale = 1.0 / double(g.N);
  std::reverse(buf, buf + g.n);
  for (std::int64_t i = 0; i < g.n; ++i) buf[i] *= scale;
  std::fill(buf + g.n, buf + g.s, 0.0);
  g.P.forward(buf);
}

// out = Sigma^-1 w = (L(a) L(a)' w - L(b) L(b)' w) / v (n values).
void gs_solve(const GsSolver& g, const double* w, double* out) {
  const std::int64_t n = g.n;
  for (std::int64_t j = 0; j < n; ++j) g.w1[j] = w[n - 1 - j];
  std::fill(g.w1 + n, g.w1 + g.s, 0.0);
  g.P.forward(g.w1);
  // w2 = a * reversed w, w1 = b * reversed w; reversed heads: L(a)' w, L(b)' w
  std::copy_n(g.w1, g.s, g.w2);
  mul_into(g.w2, g.ta, g.N);
  mul_into(g.w1, g.tb, g.N);
  reverse_head(g, g.w2);
  reverse_head(g, g.w1);
  // a * L(a)' w - b * L(b)' w
  for (std::int64_t l = 0; l <= g.N / 2; ++l) {
    const double pr = g.w2[2 * l], pi = g.w2[2 * l + 1], qr = g.w1[2 * l], qi = g.w1[2 * l + 1];
    const double ar = g.ta[2 * l], ai = g.ta[2 * l + 1], br = g.tb[2 * l], bi = g.tb[2 * l + 1];
    g.w2[2 * l] = (ar * pr - ai * pi) - (br * qr - bi * qi);
    g.w2[2 * l + 1] = (ar * pi + ai * pr) - (br * qi + bi * qr);
  }
  g.P.inverse(g.w2);
  const double scale = 1.0 / (double(g.N) * g.v);
  for (std::int64_t i = 0; i < n; ++i) out[i] = g.w2[i] * scale;
}

double dot(const double* x, const double* y, std::int64_t n) {
  double s = 0.0;
  for (std::int64_t i = 0; i < n; ++i) s += x[i] * y[i];
  return s;
}

// ln det Sigma from the reflection coefficients by the Durbin-Levinson
// pass's pivot rules (toeplitz_filter.hpp); v_(n-1) into *last.
int pivots_logdet(const double* gamma, const double* kappa, std::int64_t n, double* logdet,
                  double* last) {
  const double singular = kCloseTol * gamma[0];
  double v = gamma[0], ld = 0.0;
  bool zero_pivot = false;
  for (std::int64_t t = 0;; ++t) {
    if (!(std::fabs(v) > singular)) return kMsgSingular;
    if (v > kLoglikCholeskyTol * gamma[0])
      ld += std::log(v);
    else
      zero_pivot = true;
    if (t + 1 == n) break;
    double k = kappa[t + 1];
    if (std::fabs(k) < std::numeric_limits<double>::min()) k = 0.0;
    v *= (1.0 - k) * (1.0 + k);
  }
  *logdet = ld;
  *last = v;
  return zero_pivot ? kStatusGammaFailed : 0;
}

// The work space: x (then the predictor in the Durbin-Levinson layout),
// a, and either the reflection coefficients and the doubling recursion's
// room, or r, e and the Gohberg-Semencul solver's room.
struct SuperfastLayout {
  std::uint64_t a, kappa, schur, r, e, gs, total;
};

SuperfastLayout superfast_layout(std::int64_t n) {
  SuperfastLayout l{};
  const std::uint64_t un = std::uint64_t(n);
  l.a = un;
  l.kappa = l.r = 2 * un;
  l.schur = l.e = 3 * un;
  l.gs = 4 * un;
  l.total = std::max(l.schur + std::uint64_t(schur_work_size(n)),
                     l.gs + std::uint64_t(gs_work_size(n)));
  return l;
}

// y' Sigma^-1 y = y' x - x' r with x = Sigma^-1 y, r = Sigma x - y, and the
// checks on the predictor and on the quadratic form.
void superfast_quad(const GsSolver& g, const double* a, const double* y, double* x, double* r,
                    double* e, double logdet, double* quad, SuperfastChecks* c) {
  const std::int64_t n = g.n;
  // Sigma a - v e_0
  gs_times(g, a, r);
  r[0] -= g.v;
  c->predictor_residual = std::sqrt(dot(r, r, n)) / g.v;
  gs_solve(g, y, x);
  gs_times(g, x, r);
  for (std::int64_t i = 0; i < n; ++i) r[i] -= y[i];
  const double q = dot(y, x, n) - dot(x, r, n);
  // The error left: e' Sigma e with e = x - Sigma^-1 y = Sigma^-1 r.
  gs_solve(g, r, e);
  c->quad_error = std::fabs(dot(r, e, n)) / (std::fabs(q) + std::fabs(logdet));
  *quad = q;
}

// The doubling recursion, the pivots and ln det, and the solver: 0 with g
// set up, a status, or kSuperfastDeclined.
int superfast_prepare(const double* gamma, std::int64_t n, double* work,
                      const SuperfastLayout& l, GsSolver& g, double* logdet,
                      SuperfastChecks& c) {
  double* kappa = work + l.kappa;
  double* a = work + l.a;
  if (int st = schur_doubling(gamma, n, kappa, a, work + l.schur, &c.generator_growth))
    return st;
  double v = 0.0;
  if (int st = pivots_logdet(gamma, kappa, n, logdet, &v)) return st;
  if (!(c.generator_growth <= kGeneratorGrowth)) return kSuperfastDeclined;
  if (!gs_setup(g, gamma, a, n, v, work + l.gs)) return kSuperfastDeclined;
  return 0;
}

// mu = (1' Sigma^-1 y) / (1' Sigma^-1 1), each form to second order in the
// solves' errors: with x ~ Sigma^-1 y and z ~ Sigma^-1 1,
//   1' Sigma^-1 y ~ 1' x - z' (Sigma x - y),  1' Sigma^-1 1 ~ 1' z - z' (Sigma z - 1).
// false when the second is not positive.  ones: n doubles, set here.
bool gls_mean(const GsSolver& g, const double* y, double* x, double* z, double* r,
              double* ones, double* mean) {
  const std::int64_t n = g.n;
  std::fill(ones, ones + n, 1.0);
  gs_solve(g, ones, z);
  gs_times(g, z, r);
  double sz = 0.0, sx = 0.0;
  for (std::int64_t i = 0; i < n; ++i) {
    r[i] -= 1.0;
    sz += z[i];
  }
  const double bb = sz - dot(z, r, n);
  gs_solve(g, y, x);
  gs_times(g, x, r);
  for (std::int64_t i = 0; i < n; ++i) {
    r[i] -= y[i];
    sx += x[i];
  }
  const double ab = sx - dot(z, r, n);
  if (!(bb > 0.0)) return false;
  *mean = ab / bb;
  return true;
}

}  // namespace

std::uint64_t superfast_work_size(std::int64_t n) { return superfast_layout(n).total; }

int toeplitz_superfast(const double* gamma, const double* y, std::int64_t n, double* work,
                       double* logdet, double* quad, double* last_pivot,
                       SuperfastChecks* checks) {
  const SuperfastLayout l = superfast_layout(n);
  SuperfastChecks local;
  SuperfastChecks& c = checks ? *checks : local;
  c = SuperfastChecks{};
  GsSolver g;
  double ld = 0.0, qy = 0.0;
  if (int st = superfast_prepare(gamma, n, work, l, g, &ld, c)) return st;
  const double* a = work + l.a;
  superfast_quad(g, a, y, work, work + l.r, work + l.e, ld, &qy, &c);
  *logdet = ld;
  *quad = qy;
  *last_pivot = g.v;
  if (!(c.predictor_residual <= kPredictorTol) || !(c.quad_error <= kQuadTol))
    return kSuperfastDeclined;
  // The predictor as the Durbin-Levinson pass leaves it: phi_(n-1,j) = -a_j
  // at work[n - j].
  work[0] = 0.0;
  for (std::int64_t j = 1; j < n; ++j) work[n - j] = -a[j];
  return 0;
}

std::uint64_t superfast_gls_work_size(std::int64_t n) {
  return superfast_layout(n).total + 2 * std::uint64_t(n);
}

int toeplitz_superfast_gls(const double* gamma, const double* y, std::int64_t n, double* work,
                           double* logdet, double* quad, double* mean,
                           SuperfastChecks* checks) {
  const SuperfastLayout l = superfast_layout(n);
  SuperfastChecks local;
  SuperfastChecks& c = checks ? *checks : local;
  c = SuperfastChecks{};
  GsSolver g;
  double ld = 0.0, qy = 0.0, mu = 0.0;
  if (int st = superfast_prepare(gamma, n, work, l, g, &ld, c)) return st;
  double* z = work + l.total;
  double* centred = z + n;
  if (!gls_mean(g, y, work, z, work + l.r, centred, &mu)) return kStatusGammaFailed;
  // (y - mu 1)' Sigma^-1 (y - mu 1) as y' Sigma^-1 y above.
  for (std::int64_t i = 0; i < n; ++i) centred[i] = y[i] - mu;
  superfast_quad(g, work + l.a, centred, work, work + l.r, work + l.e, ld, &qy, &c);
  *logdet = ld;
  *quad = qy;
  *mean = mu;
  if (!(c.predictor_residual <= kPredictorTol) || !(c.quad_error <= kQuadTol))
    return kSuperfastDeclined;
  return 0;
}

}  // namespace mvtsa
