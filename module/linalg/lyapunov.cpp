// The discrete Lyapunov equation by the Bartels-Stewart method on the real
// Schur form.  Row-major storage throughout.
#include "module/linalg/lyapunov.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "module/frame/sizes.hpp"
#include "module/linalg/real_schur.hpp"

namespace mvtsa {
namespace {

using i64 = std::int64_t;

// Doubles beyond 2n that hold n long doubles aligned (a long double takes at
// most two doubles' room; the slack absorbs the alignment).
constexpr std::uint64_t kLongDoubleSlack = 2;
static_assert(sizeof(long double) <= 2 * sizeof(double) && alignof(long double) <= 16);

// C = A' B (transpose_a) or C = A B (otherwise) for n x n matrices, one row
// update of C per element of A; with accumulate, C += instead.
void multiply(i64 n, const double* a, bool transpose_a, const double* b, double* c,
              bool accumulate = false) {
  if (!accumulate) std::memset(c, 0, sizeof(double) * std::size_t(n * n));
  for (i64 i = 0; i < n; ++i)
    for (i64 l = 0; l < n; ++l) {
      const double f = transpose_a ? a[l * n + i] : a[i * n + l];
      if (f == 0.0) continue;
      const double* bl = b + l * n;
      double* ci = c + i * n;
      for (i64 j = 0; j < n; ++j) ci[j] += f * bl[j];
    }
}

// C = A B' for n x n matrices, one dot product of two rows per element.
void multiply_bt(i64 n, const double* a, const double* b, double* c) {
  for (i64 i = 0; i < n; ++i)
    for (i64 j = 0; j < n; ++j) {
      const double* ai = a + i * n;
      const double* bj = b + j * n;
      double s = 0.0;
      for (i64 l = 0; l < n; ++l) s += ai[l] * bj[l];
      c[i * n + j] = s;
    }
}

// Solves y - A y B' = r for the ni x nj block y (row-major, ni, nj in {1, 2};
// A = S_II, B = S_JJ with leading dimension n) through the system
// (I - A (x) B) vec y = vec r of order ni nj, vec taken by rows, by Gaussian
// elimination with partial pivoting.  r is replaced by y.  Returns false at a
// pivot below tol in magnitude (or not a number).
bool solve_block(const double* A, const double* B, i64 n, int ni, int nj, double tol,
                 double* r) {
  const int d = ni * nj;
  double m[4][4];
  for (int a = 0; a < ni; ++a)
    for (int b = 0; b < nj; ++b)
      for (int c = 0; c < ni; ++c)
        for (int e = 0; e < nj; ++e)
          m[a * nj + b][c * nj + e] = (a == c && b == e ? 1.0 : 0.0) - A[a * n + c] * B[b * n + e];
  for (int j = 0; j < d; ++j) {
    int piv = j;
    for (int i = j + 1; i < d; ++i)
      if (std::fabs(m[i][j]) > std::fabs(m[piv][j])) piv = i;
    if (!(std::fabs(m[piv][j]) >= tol)) return false;
    if (piv != j) {
      std::swap(m[piv], m[j]);
      std::swap(r[piv], r[j]);
    }
    for (int i = j + 1; i < d; ++i) {
      const double f = m[i][j] / m[j][j];
      if (f == 0.0) continue;
      for (int c = j + 1; c < d; ++c) m[i][c] -= f * m[j][c];
      r[i] -= f * r[j];
    }
  }
  for (int j = d - 1; j >= 0; --j) {
    double s = r[j];
    for (int c = j + 1; c < d; ++c) s -= m[j][c] * r[c];
    r[j] = s / m[j][j];
  }
  return true;
}

// Order (1 or 2) of the diagonal block of the standard quasi-triangular S
// that ends at row e.
int block_ending_at(const double* s, i64 n, i64 e) {
  return e > 0 && s[e * n + e - 1] != 0.0 ? 2 : 1;
}

// Y = S Y S' + C for the upper quasi-triangular S in standard form, in place
// on y (holding C on entry).  z, g: 2n doubles each.  False when a block
// system has a pivot below tol.
bool solve_quasi_triangular(i64 n, const double* S, double tol, double* Y, double* Z, double* G) {
  for (i64 je = n - 1; je >= 0;) {  // block column J = j0 .. je
    const int nj = block_ending_at(S, n, je);
    const i64 j0 = je - nj + 1;
    const double* Sjj = S + j0 * n + j0;
    // Z_{r, b} = sum_{l > je} Y(r, l) S(j0 + b, l)
    for (i64 r = 0; r < n; ++r)
      for (int b = 0; b < nj; ++b) {
        const double* yr = Y + r * n;
        const double* sb = S + (j0 + b) * n;
        double acc = 0.0;
        for (i64 l = je + 1; l < n; ++l) acc += yr[l] * sb[l];
        Z[r * 2 + b] = acc;
      }
    std::memset(G, 0, sizeof(double) * std::size_t(2 * n));
    for (i64 ie = n - 1; ie >= 0;) {  // block row I = i0 .. ie
      const int ni = block_ending_at(S, n, ie);
      const i64 i0 = ie - ni + 1;
      const double* Sii = S + i0 * n + i0;
      // right-hand side C_IJ + S_II Z_IJ + G_IJ
      double y[4];
      for (int p = 0; p < ni; ++p)
        for (int b = 0; b < nj; ++b) {
          double acc = Y[(i0 + p) * n + j0 + b] + G[(i0 + p) * 2 + b];
          for (int c = 0; c < ni; ++c) acc += Sii[p * n + c] * Z[(i0 + c) * 2 + b];
          y[p * nj + b] = acc;
        }
      if (!solve_block(Sii, Sjj, n, ni, nj, tol, y)) return false;
      // W_IJ = Z_IJ + Y_IJ S_JJ';  G_{r, .} += S(r, I) W_IJ for the rows above I
      double w[4];
      for (int p = 0; p < ni; ++p)
        for (int b = 0; b < nj; ++b) {
          Y[(i0 + p) * n + j0 + b] = y[p * nj + b];
          double acc = Z[(i0 + p) * 2 + b];
          for (int e = 0; e < nj; ++e) acc += y[p * nj + e] * Sjj[b * n + e];
          w[p * nj + b] = acc;
        }
      for (i64 r = 0; r < i0; ++r) {
        const double* sr = S + r * n + i0;
        for (int b = 0; b < nj; ++b) {
          double acc = 0.0;
          for (int p = 0; p < ni; ++p) acc += sr[p] * w[p * nj + b];
          G[r * 2 + b] += acc;
        }
      }
      ie = i0 - 1;
    }
    je = j0 - 1;
  }
  return true;
}

// x = U Y U' (or x += with accumulate) where Y solves Y = S Y S' + U' q U.
// t1, t2: n x n work; q may be t2 (it is read before t2 is written).
bool solve_transformed(i64 n, const double* S, const double* U, const double* q, double tol,
                       double* t1, double* t2, double* Z, double* G, double* x, bool accumulate) {
  multiply(n, q, false, U, t1);         // q U
  multiply(n, U, true, t1, t2);         // C = U' q U
  if (!solve_quasi_triangular(n, S, tol, t2, Z, G)) return false;
  multiply_bt(n, t2, U, t1);            // Y U'
  multiply(n, U, false, t1, x, accumulate);
  return true;
}

// r = Q - X + T X T', accumulated in long double (64-bit significand on
// x86-64): the residual of the computed X is then resolved far below the
// rounding of X itself.  w: n long doubles.
void residual(i64 n, const double* T, const double* Q, const double* X, double* r,
              long double* w) {
  for (i64 i = 0; i < n; ++i) {
    // w = row i of T X
    for (i64 b = 0; b < n; ++b) w[b] = 0.0L;
    for (i64 a = 0; a < n; ++a) {
      const long double t = T[i * n + a];
      if (t == 0.0L) continue;
      const double* xa = X + a * n;
      for (i64 b = 0; b < n; ++b) w[b] += t * xa[b];
    }
    for (i64 j = 0; j < n; ++j) {
      const double* tj = T + j * n;
      long double acc = (long double)Q[i * n + j] - X[i * n + j];
      for (i64 b = 0; b < n; ++b) acc += w[b] * tj[b];
      r[i * n + j] = double(acc);
    }
  }
}

}  // namespace

std::uint64_t discrete_lyapunov_work(std::int64_t n) {
  const std::uint64_t un = std::uint64_t(n);
  if (n < 0 || checked_mul(un, un) > kImpossibleSize / 8) return kImpossibleSize;
  // S, U, two n x n buffers; Z, G (2n each), the Schur work or the
  // residual's long double row (2n), and room to align that row
  return 4 * un * un + 6 * un + kLongDoubleSlack;
}

int discrete_lyapunov(std::int64_t n, const double* a, const double* q, double pivot_tol,
                      double* x, double* work) {
  if (n <= 0) return kLyapunovOk;
  const i64 nn = n * n;
  double* S = work;          // n x n
  double* U = S + nn;        // n x n
  double* t1 = U + nn;       // n x n
  double* t2 = t1 + nn;      // n x n
  double* Z = t2 + nn;       // n x 2
  double* G = Z + 2 * n;     // n x 2
  double* tail = G + 2 * n;  // 2n + kLongDoubleSlack
  std::memcpy(S, a, sizeof(double) * std::size_t(nn));
  if (real_schur(n, S, U, tail, real_schur_iterations(n)) != 0) return kLyapunovNoSchur;
  if (!solve_transformed(n, S, U, q, pivot_tol, t1, t2, Z, G, x, false)) return kLyapunovSingular;
  // One step of refinement: X += the solution for the residual.
  void* raw = tail;
  std::size_t room = sizeof(double) * std::size_t(2 * n + kLongDoubleSlack);
  long double* w = static_cast<long double*>(
      std::align(alignof(long double), sizeof(long double) * std::size_t(n), raw, room));
  residual(n, a, q, x, t2, w);
  if (!solve_transformed(n, S, U, t2, pivot_tol, t1, t2, Z, G, x, true)) return kLyapunovSingular;
  return kLyapunovOk;
}

}  // namespace mvtsa
