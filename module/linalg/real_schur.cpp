// Real Schur decomposition: Householder reduction to Hessenberg form, then the
// Francis double-shift QR iteration (Francis 1961-62) with Schur vectors.
// Tested (tests/linalg/schur_test.cpp): max |A U - U S| within
// 20 n eps max(max |A|, 1) and max |U'U - I| within 20 n eps, eps = 2^-52.
// Row-major storage:
// H(i, j) = a[i n + j], U(i, j) = u[i n + j].
#include "module/linalg/real_schur.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace mvtsa {
namespace {

using i64 = std::int64_t;

// eps = 2^-52, the spacing of the doubles in [1, 2): the deflation tolerance.
constexpr double kUlp = 0x1p-52;
// The smallest normal double.
constexpr double kSafeMin = std::numeric_limits<double>::min();
// Exceptional shift: the trailing 2 x 2 block is replaced by
// [[w + 3/4 s, -0.4375 s], [s, w + 3/4 s]] (s from the subdiagonal).
constexpr double kExceptionalDiag = 0.75;
constexpr double kExceptionalOff = -0.4375;
constexpr i64 kExceptionalEvery = 10;
// A standard 2 x 2 block with this many ulps of separation between its
// eigenvalues counts as a real pair.
constexpr double kRealPairMargin = 4.0;

// ||x||_2 of n entries, scaled by the largest magnitude so that it neither
// overflows nor underflows.
double norm2(i64 n, const double* x) {
  double m = 0.0;
  for (i64 i = 0; i < n; ++i) m = std::max(m, std::fabs(x[i]));
  if (m == 0.0) return 0.0;
  double s = 0.0;
  for (i64 i = 0; i < n; ++i) {
    const double t = x[i] / m;
    s += t * t;
  }
  return m * std::sqrt(s);
}

// Elementary reflector I - tau v v' with v = (1, x[1..n-1]) that maps
// (x[0], x[1..n-1]) to (beta, 0, ..., 0): x[0] becomes beta and x[1..] the
// tail of v.  Returns tau (0 when the tail is already zero).  A beta below
// the smallest normal double is computed on a rescaled vector.
double make_reflector(i64 n, double* x) {
  if (n <= 1) return 0.0;
  double xnorm = norm2(n - 1, x + 1);
  if (xnorm == 0.0) return 0.0;
  double alpha = x[0];
  double beta = -std::copysign(std::hypot(alpha, xnorm), alpha);
  const double small = kSafeMin / kUlp;
  int rescaled = 0;
  while (std::fabs(beta) < small && rescaled < 20) {
    ++rescaled;
    for (i64 i = 1; i < n; ++i) x[i] /= small;
    beta /= small;
    alpha /= small;
  }
  if (rescaled > 0) {
    xnorm = norm2(n - 1, x + 1);
    beta = -std::copysign(std::hypot(alpha, xnorm), alpha);
  }
  const double tau = (beta - alpha) / beta;
  const double scal = 1.0 / (alpha - beta);
  for (i64 i = 1; i < n; ++i) x[i] *= scal;
  for (int r = 0; r < rescaled; ++r) beta *= small;
  x[0] = beta;
  return tau;
}

// Rows r0, r1 of the row-major matrix m (row length n), columns c0..c1:
// (x, y) := (c x + s y, c y - s x).
void rotate_rows(double* m, i64 n, i64 r0, i64 r1, i64 c0, i64 c1, double c, double s) {
  double* x = m + r0 * n;
  double* y = m + r1 * n;
  for (i64 j = c0; j <= c1; ++j) {
    const double xj = x[j], yj = y[j];
    x[j] = c * xj + s * yj;
    y[j] = c * yj - s * xj;
  }
}

// The same on columns c0, c1 over rows r0..r1.
void rotate_cols(double* m, i64 n, i64 c0, i64 c1, i64 r0, i64 r1, double c, double s) {
  for (i64 i = r0; i <= r1; ++i) {
    double* row = m + i * n;
    const double xj = row[c0], yj = row[c1];
    row[c0] = c * xj + s * yj;
    row[c1] = c * yj - s * xj;
  }
}

}  // namespace

// Standard form of a 2 x 2 block, shared with general_eigenvalues.
void standardize_2x2(double& a, double& b, double& c, double& d, double real_margin,
                     Hypot hypot, double* cs_out, double* sn_out) {
  double cs = 1.0, sn = 0.0;
  if (c == 0.0) {
  } else if (b == 0.0) {  // swap rows and columns
    cs = 0.0;
    sn = 1.0;
    std::swap(a, d);
    b = -c;
    c = 0.0;
  } else if (a - d == 0.0 && std::signbit(b) != std::signbit(c)) {
  } else {
    const double temp = a - d;
    double p = 0.5 * temp;
    const double bcmax = std::max(std::fabs(b), std::fabs(c));
    const double bcmis =
        std::min(std::fabs(b), std::fabs(c)) * std::copysign(1.0, b) * std::copysign(1.0, c);
    const double scale = std::max(std::fabs(p), bcmax);
    double z = (p / scale) * p + (bcmax / scale) * bcmis;
    if (z >= real_margin) {
      // Real eigenvalues a' = d + z, d' = d - bcmax / z * bcmis.
      z = p + std::copysign(std::sqrt(scale) * std::sqrt(z), p);
      a = d + z;
      d = d - (bcmax / z) * bcmis;
      const double tau = hypot(c, z);
      cs = z / tau;
      sn = c / tau;
      b = b - c;
      c = 0.0;
    } else {
      // Complex or nearly equal real eigenvalues: one rotation makes the
      // diagonal entries equal.
      const double sigma = b + c;
      const double tau = hypot(sigma, temp);
      cs = std::sqrt(0.5 * (1.0 + std::fabs(sigma) / tau));
      sn = -(p / (tau * cs)) * std::copysign(1.0, sigma);
      // [aa bb; cc dd] = [a b; c d] [cs -sn; sn cs]
      const double aa = a * cs + b * sn, bb = -a * sn + b * cs;
      const double cc = c * cs + d * sn, dd = -c * sn + d * cs;
      // [a b; c d] = [cs sn; -sn cs] [aa bb; cc dd]
      a = aa * cs + cc * sn;
      b = bb * cs + dd * sn;
      c = -aa * sn + cc * cs;
      d = -bb * sn + dd * cs;
      const double mid = 0.5 * (a + d);
      a = mid;
      d = mid;
      if (c != 0.0) {
        if (b != 0.0) {
          if (std::signbit(b) == std::signbit(c)) {
            // Real after all: a second rotation makes the block triangular.
            const double sab = std::sqrt(std::fabs(b)), sac = std::sqrt(std::fabs(c));
            p = std::copysign(sab * sac, c);
            const double t = 1.0 / std::sqrt(std::fabs(b + c));
            a = mid + p;
            d = mid - p;
            b = b - c;
            c = 0.0;
            const double cs1 = sab * t, sn1 = sac * t;
            const double cs2 = cs * cs1 - sn * sn1;
            sn = cs * sn1 + sn * cs1;
            cs = cs2;
          }
        } else {
          b = -c;
          c = 0.0;
          const double t = cs;
          cs = -sn;
          sn = t;
        }
      }
    }
  }
  *cs_out = cs;
  *sn_out = sn;
}

namespace {

// Householder reduction of the n x n matrix h to upper Hessenberg form,
// h := Q' h Q, u := Q.  work: 2n doubles.
void hessenberg(i64 n, double* h, double* u, double* work) {
  double* v = work;
  double* w = work + n;
  for (i64 i = 0; i < n; ++i) {
    std::memset(u + i * n, 0, sizeof(double) * std::size_t(n));
    u[i * n + i] = 1.0;
  }
  for (i64 j = 0; j + 2 < n; ++j) {
    const i64 len = n - j - 1;  // rows j+1 .. n-1
    for (i64 r = 0; r < len; ++r) v[r] = h[(j + 1 + r) * n + j];
    const double tau = make_reflector(len, v);
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
}

// Row of the lowest negligible subdiagonal entry H(k, k-1) in the active
// block l..i, or l when there is none (the test of Ahues and Tisseur: the
// entry is compared with its neighbours and with the products that decide
// whether setting it to zero perturbs the eigenvalues more than rounding).
i64 find_split(const double* h, i64 n, i64 l, i64 i, double smlnum) {
  auto H = [h, n](i64 r, i64 c) { return h[r * n + c]; };
  i64 k = i;
  for (; k > l; --k) {
    const double sub = std::fabs(H(k, k - 1));
    if (sub <= smlnum) break;
    double tst = std::fabs(H(k - 1, k - 1)) + std::fabs(H(k, k));
    if (tst == 0.0) {
      if (k - 2 >= l) tst += std::fabs(H(k - 1, k - 2));
      if (k + 1 <= i) tst += std::fabs(H(k + 1, k));
    }
    if (sub <= kUlp * tst) {
      const double ab = std::max(sub, std::fabs(H(k - 1, k)));
      const double ba = std::min(sub, std::fabs(H(k - 1, k)));
      const double diff = std::fabs(H(k - 1, k - 1) - H(k, k));
      const double aa = std::max(std::fabs(H(k, k)), diff);
      const double bb = std::min(std::fabs(H(k, k)), diff);
      const double s = aa + ab;
      if (ba * (ab / s) <= std::max(smlnum, kUlp * (bb * (aa / s)))) break;
    }
  }
  return k;
}

// Applies the reflector I - t1 (1, v2, v3)(1, v2, v3)' (v3 ignored when
// nr = 2) to rows k..k+nr-1 of h over columns c0..c1.
void reflect_rows(double* h, i64 n, i64 k, int nr, double v2, double v3, double t1, i64 c0,
                  i64 c1) {
  double* r0 = h + k * n;
  double* r1 = r0 + n;
  if (nr == 3) {
    double* r2 = r1 + n;
    for (i64 j = c0; j <= c1; ++j) {
      const double sum = r0[j] + v2 * r1[j] + v3 * r2[j];
      r0[j] -= sum * t1;
      r1[j] -= sum * t1 * v2;
      r2[j] -= sum * t1 * v3;
    }
  } else {
    for (i64 j = c0; j <= c1; ++j) {
      const double sum = r0[j] + v2 * r1[j];
      r0[j] -= sum * t1;
      r1[j] -= sum * t1 * v2;
    }
  }
}

// The same reflector on columns k..k+nr-1 of m over rows r0..r1.
void reflect_cols(double* m, i64 n, i64 k, int nr, double v2, double v3, double t1, i64 r0,
                  i64 r1) {
  for (i64 i = r0; i <= r1; ++i) {
    double* row = m + i * n + k;
    if (nr == 3) {
      const double sum = row[0] + v2 * row[1] + v3 * row[2];
      row[0] -= sum * t1;
      row[1] -= sum * t1 * v2;
      row[2] -= sum * t1 * v3;
    } else {
      const double sum = row[0] + v2 * row[1];
      row[0] -= sum * t1;
      row[1] -= sum * t1 * v2;
    }
  }
}

}  // namespace

int real_schur(std::int64_t n, double* a, double* u, double* work, std::int64_t max_iterations) {
  if (n <= 0) return 0;
  hessenberg(n, a, u, work);
  auto H = [a, n](i64 r, i64 c) -> double& { return a[r * n + c]; };
  const double smlnum = kSafeMin * (double(n) / kUlp);
  i64 i = n - 1;
  while (i >= 0) {
    // Double-shift sweeps on the active block l..i until a block of order 1
    // or 2 splits off at its bottom.
    i64 l = 0;
    bool converged = false;
    for (i64 its = 0;; ++its) {
      l = find_split(a, n, l, i, smlnum);
      if (l > 0) H(l, l - 1) = 0.0;
      if (l >= i - 1) {
        converged = true;
        break;
      }
      if (its == max_iterations) break;
      // Shifts: the eigenvalues (rt1, rt2) of the trailing 2 x 2 block, or
      // an exceptional block after every kExceptionalEvery sweeps.
      double h11, h12, h21, h22;
      if (its > 0 && its % (2 * kExceptionalEvery) == kExceptionalEvery) {
        const double s = std::fabs(H(l + 1, l)) + std::fabs(H(l + 2, l + 1));
        h11 = kExceptionalDiag * s + H(l, l);
        h12 = kExceptionalOff * s;
        h21 = s;
        h22 = h11;
      } else if (its > 0 && its % (2 * kExceptionalEvery) == 0) {
        const double s = std::fabs(H(i, i - 1)) + std::fabs(H(i - 1, i - 2));
        h11 = kExceptionalDiag * s + H(i, i);
        h12 = kExceptionalOff * s;
        h21 = s;
        h22 = h11;
      } else {
        h11 = H(i - 1, i - 1);
        h21 = H(i, i - 1);
        h12 = H(i - 1, i);
        h22 = H(i, i);
      }
      double rt1r = 0.0, rt1i = 0.0, rt2r = 0.0, rt2i = 0.0;
      const double s = std::fabs(h11) + std::fabs(h12) + std::fabs(h21) + std::fabs(h22);
      if (s != 0.0) {
        h11 /= s;
        h21 /= s;
        h12 /= s;
        h22 /= s;
        const double tr = (h11 + h22) / 2.0;
        const double det = (h11 - tr) * (h22 - tr) - h12 * h21;
        const double rtdisc = std::sqrt(std::fabs(det));
        if (det >= 0.0) {  // a complex pair
          rt1r = tr * s;
          rt2r = rt1r;
          rt1i = rtdisc * s;
          rt2i = -rt1i;
        } else {  // two real shifts: both set to the one closer to h22
          rt1r = tr + rtdisc;
          rt2r = tr - rtdisc;
          rt1r = std::fabs(rt1r - h22) <= std::fabs(rt2r - h22) ? rt1r * s : rt2r * s;
          rt2r = rt1r;
        }
      }
      // First column of (H - rt1)(H - rt2), started at the lowest row m at
      // which two consecutive small subdiagonal entries let the bulge begin.
      double v[3];
      i64 m = i - 2;
      for (;; --m) {
        double h21s = H(m + 1, m);
        double sc = std::fabs(H(m, m) - rt2r) + std::fabs(rt2i) + std::fabs(h21s);
        h21s /= sc;
        v[0] = h21s * H(m, m + 1) + (H(m, m) - rt1r) * ((H(m, m) - rt2r) / sc) - rt1i * (rt2i / sc);
        v[1] = h21s * (H(m, m) + H(m + 1, m + 1) - rt1r - rt2r);
        v[2] = h21s * H(m + 2, m + 1);
        sc = std::fabs(v[0]) + std::fabs(v[1]) + std::fabs(v[2]);
        v[0] /= sc;
        v[1] /= sc;
        v[2] /= sc;
        if (m == l) break;
        const double h00 = std::fabs(H(m, m - 1)) * (std::fabs(v[1]) + std::fabs(v[2]));
        const double h01 = std::fabs(v[0]) * (std::fabs(H(m - 1, m - 1)) + std::fabs(H(m, m)) +
                                              std::fabs(H(m + 1, m + 1)));
        if (h00 <= kUlp * h01) break;
      }
      // Chase the bulge from row m to the bottom of the block.
      for (i64 k = m; k <= i - 1; ++k) {
        const int nr = int(std::min<i64>(3, i - k + 1));
        if (k > m)
          for (int r = 0; r < nr; ++r) v[r] = H(k + r, k - 1);
        const double t1 = make_reflector(nr, v);
        if (k > m) {
          H(k, k - 1) = v[0];
          H(k + 1, k - 1) = 0.0;
          if (k < i - 1) H(k + 2, k - 1) = 0.0;
        } else if (m > l) {
          H(k, k - 1) *= (1.0 - t1);
        }
        const double v2 = v[1], v3 = nr == 3 ? v[2] : 0.0;
        reflect_rows(a, n, k, nr, v2, v3, t1, k, n - 1);
        reflect_cols(a, n, k, nr, v2, v3, t1, 0, std::min(k + 3, i));
        reflect_cols(u, n, k, nr, v2, v3, t1, 0, n - 1);
      }
    }
    if (!converged) return int(std::min<i64>(i + 1, 0x7fffffff));
    if (l == i - 1) {
      // A 2 x 2 block: its standard form, the rotation applied to the rest
      // of S and to U.
      double cs, sn;
      standardize_2x2(H(i - 1, i - 1), H(i - 1, i), H(i, i - 1), H(i, i), kRealPairMargin * kUlp,
                      [](double x, double y) { return std::hypot(x, y); }, &cs, &sn);
      if (i + 1 < n) rotate_rows(a, n, i - 1, i, i + 1, n - 1, cs, sn);
      if (i >= 2) rotate_cols(a, n, i - 1, i, 0, i - 2, cs, sn);
      rotate_cols(u, n, i - 1, i, 0, n - 1, cs, sn);
    }
    i = l - 1;
  }
  return 0;
}

}  // namespace mvtsa
