// Real Schur decomposition: Householder reduction to Hessenberg form, then the
// Francis double-shift QR engine (hessenberg_qr.hpp) with Schur vectors.
// Tested (tests/linalg/schur_test.cpp): max |A U - U S| within
// 20 n eps max(max |A|, 1) and max |U'U - I| within 20 n eps, eps = 2^-52.
// Row-major storage:
// H(i, j) = a[i n + j], U(i, j) = u[i n + j].
#include "module/linalg/real_schur.hpp"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "module/frame/cancel.hpp"
#include "module/linalg/hessenberg_qr.hpp"

namespace mvtsa {
namespace {

using i64 = std::int64_t;

double library_hypot(double x, double y) { return std::hypot(x, y); }

// The arithmetic of the Schur form: eps = 2^-52 as the unit of the
// relative tests, the smallest normal double as the floor, the library's
// hypot, every term of a norm, and the updates by (sum t1) v_r.
constexpr QrArithmetic kSchurArithmetic{std::numeric_limits<double>::min(), 0x1p-52,
                                        library_hypot, false, false, true};

// Householder reduction of the n x n matrix h to upper Hessenberg form,
// h := Q' h Q, u := Q.  work: 2n doubles.  False when the caller cancelled
// the call (asked each column, O(n^2) operations).
bool hessenberg(i64 n, double* h, double* u, double* work) {
  double* v = work;
  double* w = work + n;
  for (i64 i = 0; i < n; ++i) {
    std::memset(u + i * n, 0, sizeof(double) * std::size_t(n));
    u[i * n + i] = 1.0;
  }
  for (i64 j = 0; j + 2 < n; ++j) {
    if (cancel_requested()) return false;
    const i64 len = n - j - 1;  // rows j+1 .. n-1
    for (i64 r = 0; r < len; ++r) v[r] = h[(j + 1 + r) * n + j];
    const double tau = householder(len, v, kSchurArithmetic);
    h[(j + 1) * n + j] = v[0];
    for (i64 r = 1; r < len; ++r) h[(j + 1 + r) * n + j] = 0.0;
    if (tau == 0.0) continue;
    v[0] = 1.0;
    // From the left on rows j+1.., columns j+1..:  w' = v' H,  H -= tau v w'
    std::memset(w, 0, sizeof(double) * std::size_t(n));
    for (i64 r = 0; r < len; ++r) {
      const double* hr = h + (j + 1 + r) * n;
      for (i64 c = j + 1; c < n; ++c) w[c] += v[r] * hr[c];
    }
    for (i64 r = 0; r < len; ++r) {
      double* hr = h + (j + 1 + r) * n;
      const double f = tau * v[r];
      for (i64 c = j + 1; c < n; ++c) hr[c] -= f * w[c];
    }
    // From the right on every row of H and of U, columns j+1..:
    //   s = row . v,  row -= tau s v'
    for (double* m : {h, u})
      for (i64 i = 0; i < n; ++i) {
        double* row = m + i * n + j + 1;
        double s = 0.0;
        for (i64 r = 0; r < len; ++r) s += row[r] * v[r];
        s *= tau;
        for (i64 r = 0; r < len; ++r) row[r] -= s * v[r];
      }
  }
  return true;
}

}  // namespace

int real_schur(std::int64_t n, double* a, double* u, double* work, std::int64_t max_iterations) {
  if (n <= 0) return 0;
  if (!hessenberg(n, a, u, work)) return kQrCancelled;
  const QrRules rules{true, Deflation::kNeighbourProducts, ShiftRule::kTrailingEigenvalues,
                      SweepBudget::kPerBlock, max_iterations, kSchurArithmetic};
  return hessenberg_qr(StridedMatrix{a, n, 1}, StridedMatrix{u, n, 1}, n, 0, n - 1, nullptr,
                       nullptr, rules);
}

}  // namespace mvtsa
