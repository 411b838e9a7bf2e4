// The Francis double-shift QR engine on an upper Hessenberg matrix, its loop
// as named steps: find the split, split off, compute the shifts, start the
// bulge, chase it.  Indices are 0-based; H(r, c) through the caller's strides.
#include "module/linalg/hessenberg_qr.hpp"

#include <algorithm>
#include <cmath>

#include "module/frame/cancel.hpp"

namespace mvtsa {
namespace {

using i64 = std::int64_t;

// A standard 2 x 2 block with this many units of precision separating its
// eigenvalues counts as a real pair.
constexpr double kRealPairMargin = 4.0;
// Exceptional shifts: [[w + 3/4 s, -0.4375 s], [s, w + 3/4 s]] (s from two
// subdiagonal entries), every kExceptionalEvery sweeps on a block.
constexpr double kExceptionalDiag = 0.75;
constexpr double kExceptionalOff = -0.4375;
constexpr i64 kExceptionalEvery = 10;
// Sweeps on one block after which the classic deflation counts the block as
// stalled (ten beyond its last exceptional shift).
constexpr i64 kStallAfter = 30;

// Rows k..k+nr-1 (nr = 2 or 3) of m over columns c0..c1 times the reflector
// I - t1 (1, v2, v3)(1, v2, v3)'; columns through the transposed view.
void reflect_rows(StridedMatrix m, i64 k, int nr, double v2, double v3, double t1, i64 c0,
                  i64 c1, bool premultiplied) {
  const double t2 = t1 * v2, t3 = t1 * v3;
  for (i64 j = c0; j <= c1; ++j) {
    double& x0 = m(k, j);
    double& x1 = m(k + 1, j);
    if (nr == 3) {
      double& x2 = m(k + 2, j);
      const double sum = x0 + v2 * x1 + v3 * x2;
      x0 -= sum * t1;
      x1 -= premultiplied ? sum * t2 : sum * t1 * v2;
      x2 -= premultiplied ? sum * t3 : sum * t1 * v3;
    } else {
      const double sum = x0 + v2 * x1;
      x0 -= sum * t1;
      x1 -= premultiplied ? sum * t2 : sum * t1 * v2;
    }
  }
}

// Rows r0, r1 of m over columns c0..c1: (x, y) := (c x + s y, c y - s x).
void rotate_rows(StridedMatrix m, i64 r0, i64 r1, i64 c0, i64 c1, double c, double s) {
  for (i64 j = c0; j <= c1; ++j) {
    const double xj = m(r0, j), yj = m(r1, j);
    m(r0, j) = c * xj + s * yj;
    m(r1, j) = c * yj - s * xj;
  }
}

// One-norm of the Hessenberg block l..i (largest column sum).
double hessenberg_norm1(StridedMatrix H, i64 l, i64 i) {
  double value = 0.0;
  for (i64 j = l; j <= i; ++j) {
    double s = 0.0;
    const i64 last = j + 1 < i ? j + 1 : i;
    for (i64 r = l; r <= last; ++r) s += std::fabs(H(r, j));
    if (s > value || std::isnan(s)) value = s;
  }
  return value;
}

// Deflation::kNeighbourProducts (Ahues and Tisseur): row of the lowest
// negligible subdiagonal entry H(k, k-1) in the block l..i, or l.
i64 neighbour_split(StridedMatrix H, i64 l, i64 i, double smlnum, double ulp) {
  i64 k = i;
  for (; k > l; --k) {
    const double sub = std::fabs(H(k, k - 1));
    if (sub <= smlnum) break;
    double tst = std::fabs(H(k - 1, k - 1)) + std::fabs(H(k, k));
    if (tst == 0.0) {
      if (k - 2 >= l) tst += std::fabs(H(k - 1, k - 2));
      if (k + 1 <= i) tst += std::fabs(H(k + 1, k));
    }
    if (sub <= ulp * tst) {
      const double ab = std::max(sub, std::fabs(H(k - 1, k)));
      const double ba = std::min(sub, std::fabs(H(k - 1, k)));
      const double diff = std::fabs(H(k - 1, k - 1) - H(k, k));
      const double aa = std::max(std::fabs(H(k, k)), diff);
      const double bb = std::min(std::fabs(H(k, k)), diff);
      const double s = aa + ab;
      if (ba * (ab / s) <= std::max(smlnum, ulp * (bb * (aa / s)))) break;
    }
  }
  return k;
}

// The two shifts of a sweep: a pair (re1 + i im1, re2 + i im2) for
// ShiftRule::kTrailingEigenvalues, the products x, y, w for
// ShiftRule::kTrailingProducts.
struct Shifts {
  double re1 = 0.0, im1 = 0.0, re2 = 0.0, im2 = 0.0;
  double x = 0.0, y = 0.0, w = 0.0;
};

// ShiftRule::kTrailingEigenvalues: the eigenvalues of the 2 x 2 block
// [[h11, h12], [h21, h22]], computed on the block scaled by its entries'
// absolute sum.
Shifts eigenvalue_shifts(double h11, double h12, double h21, double h22) {
  Shifts sh;
  const double s = std::fabs(h11) + std::fabs(h12) + std::fabs(h21) + std::fabs(h22);
  if (s == 0.0) return sh;
  h11 /= s;
  h21 /= s;
  h12 /= s;
  h22 /= s;
  const double tr = (h11 + h22) / 2.0;
  const double det = (h11 - tr) * (h22 - tr) - h12 * h21;
  const double rtdisc = std::sqrt(std::fabs(det));
  if (det >= 0.0) {  // a complex pair
    sh.re1 = tr * s;
    sh.re2 = sh.re1;
    sh.im1 = rtdisc * s;
    sh.im2 = -sh.im1;
  } else {  // two real shifts: both set to the one closer to h22
    const double r1 = tr + rtdisc, r2 = tr - rtdisc;
    sh.re1 = std::fabs(r1 - h22) <= std::fabs(r2 - h22) ? r1 * s : r2 * s;
    sh.re2 = sh.re1;
  }
  return sh;
}

// The shifts of the sweep numbered `its` on the block l..i.
Shifts compute_shifts(ShiftRule rule, StridedMatrix H, i64 l, i64 i, i64 its) {
  const i64 cycle = 2 * kExceptionalEvery;
  if (rule == ShiftRule::kTrailingEigenvalues) {
    if (its > 0 && its % cycle == kExceptionalEvery) {
      const double s = std::fabs(H(l + 1, l)) + std::fabs(H(l + 2, l + 1));
      const double d = kExceptionalDiag * s + H(l, l);
      return eigenvalue_shifts(d, kExceptionalOff * s, s, d);
    }
    if (its > 0 && its % cycle == 0) {
      const double s = std::fabs(H(i, i - 1)) + std::fabs(H(i - 1, i - 2));
      const double d = kExceptionalDiag * s + H(i, i);
      return eigenvalue_shifts(d, kExceptionalOff * s, s, d);
    }
    return eigenvalue_shifts(H(i - 1, i - 1), H(i - 1, i), H(i, i - 1), H(i, i));
  }
  Shifts sh;
  if (its == kExceptionalEvery || its == cycle) {
    const double s = std::fabs(H(i, i - 1)) + std::fabs(H(i - 1, i - 2));
    sh.x = kExceptionalDiag * s;
    sh.y = sh.x;
    sh.w = kExceptionalOff * s * s;
  } else {
    sh.x = H(i, i);
    sh.y = H(i - 1, i - 1);
    sh.w = H(i, i - 1) * H(i - 1, i);
  }
  return sh;
}

// First column of (H - s1)(H - s2) at row m, scaled, into v[0..2].
void bulge_column(ShiftRule rule, StridedMatrix H, i64 m, const Shifts& sh, double* v) {
  if (rule == ShiftRule::kTrailingEigenvalues) {
    double h21s = H(m + 1, m);
    double sc = std::fabs(H(m, m) - sh.re2) + std::fabs(sh.im2) + std::fabs(h21s);
    h21s /= sc;
    v[0] = h21s * H(m, m + 1) + (H(m, m) - sh.re1) * ((H(m, m) - sh.re2) / sc) -
           sh.im1 * (sh.im2 / sc);
    v[1] = h21s * (H(m, m) + H(m + 1, m + 1) - sh.re1 - sh.re2);
    v[2] = h21s * H(m + 2, m + 1);
  } else {
    const double h11 = H(m, m), h22 = H(m + 1, m + 1);
    const double xs = sh.x - h11, ys = sh.y - h11;
    v[0] = (ys * xs - sh.w) / H(m + 1, m) + H(m, m + 1);
    v[1] = h22 - h11 - ys - xs;
    v[2] = H(m + 2, m + 1);
  }
  const double s = std::fabs(v[0]) + std::fabs(v[1]) + std::fabs(v[2]);
  v[0] /= s;
  v[1] /= s;
  v[2] /= s;
}

// The lowest row m >= l at which the bulge may start: two consecutive small
// subdiagonal entries make H(m, m-1) negligible after the step.  v receives
// the bulge's first column.
i64 start_bulge(ShiftRule rule, StridedMatrix H, i64 l, i64 i, const Shifts& sh,
                double precision, double* v) {
  i64 m = i - 2;
  for (;; --m) {
    bulge_column(rule, H, m, sh, v);
    if (m == l) break;
    const double off = std::fabs(H(m, m - 1)) * (std::fabs(v[1]) + std::fabs(v[2]));
    const double diag = std::fabs(H(m - 1, m - 1)) + std::fabs(H(m, m)) +
                        std::fabs(H(m + 1, m + 1));
    if (off <= precision * (std::fabs(v[0]) * diag)) break;
  }
  return m;
}

// Chases the bulge started at row m down the block l..i by reflectors of
// order 3 (2 at the end).
void chase_bulge(const QrRules& rules, StridedMatrix H, StridedMatrix Z, i64 n, i64 l, i64 i,
                 i64 m, double* v) {
  const QrArithmetic& ar = rules.arithmetic;
  for (i64 k = m; k <= i - 1; ++k) {
    const int nr = int(std::min<i64>(3, i - k + 1));
    if (k > m)
      for (int r = 0; r < nr; ++r) v[r] = H(k + r, k - 1);
    const double t1 = householder(nr, v, ar);
    if (k > m) {
      H(k, k - 1) = v[0];
      H(k + 1, k - 1) = 0.0;
      if (k < i - 1) H(k + 2, k - 1) = 0.0;
    } else if (m > l) {
      H(k, k - 1) = ar.exact_start ? H(k, k - 1) * (1.0 - t1) : -H(k, k - 1);
    }
    const double v2 = v[1], v3 = nr == 3 ? v[2] : 0.0;
    const i64 last_col = rules.want_schur ? n - 1 : i;
    const i64 first_row = rules.want_schur ? 0 : l;
    reflect_rows(H, k, nr, v2, v3, t1, k, last_col, ar.premultiplied);
    reflect_rows(H.transposed(), k, nr, v2, v3, t1, first_row, std::min(k + 3, i),
                 ar.premultiplied);
    if (rules.want_schur)
      reflect_rows(Z.transposed(), k, nr, v2, v3, t1, 0, n - 1, ar.premultiplied);
  }
}

// The block of order 1 or 2 at rows l..i that has split off: its
// eigenvalues into wr/wi, and with want_schur the rotation of a 2 x 2
// block's standard form applied to the rest of H and to Z.
void split_off(const QrRules& rules, StridedMatrix H, StridedMatrix Z, i64 n, i64 l, i64 i,
               double* wr, double* wi) {
  if (l == i) {
    if (wr) {
      wr[i] = H(i, i);
      wi[i] = 0.0;
    }
    return;
  }
  const QrArithmetic& ar = rules.arithmetic;
  double cs = 0.0, sn = 0.0;
  standardize_2x2(H(i - 1, i - 1), H(i - 1, i), H(i, i - 1), H(i, i),
                  kRealPairMargin * ar.precision, ar.hypot, &cs, &sn);
  if (rules.want_schur) {
    if (i + 1 < n) rotate_rows(H, i - 1, i, i + 1, n - 1, cs, sn);
    if (i >= 2) rotate_rows(H.transposed(), i - 1, i, 0, i - 2, cs, sn);
    rotate_rows(Z.transposed(), i - 1, i, 0, n - 1, cs, sn);
  }
  if (!wr) return;
  wr[i - 1] = H(i - 1, i - 1);
  wr[i] = H(i, i);
  if (H(i, i - 1) == 0.0) {
    wi[i - 1] = 0.0;
    wi[i] = 0.0;
  } else {
    wi[i - 1] = std::sqrt(std::fabs(H(i - 1, i))) * std::sqrt(std::fabs(H(i, i - 1)));
    wi[i] = -wi[i - 1];
  }
}

}  // namespace

double scaled_norm(i64 n, const double* x, bool skip_negligible) {
  double m = 0.0;
  for (i64 i = 0; i < n; ++i)
    if (std::fabs(x[i]) > m) m = std::fabs(x[i]);
  if (m == 0.0) return 0.0;
  double sum = 0.0;
  for (i64 i = 0; i < n; ++i) {
    const double t = x[i] / m;
    if (!skip_negligible || 1.0 + t != 1.0) sum += t * t;
  }
  return m * std::sqrt(sum);
}

double householder(i64 n, double* v, const QrArithmetic& arithmetic) {
  if (n <= 1) return 0.0;
  double* x = v + 1;
  const bool skip = arithmetic.skip_negligible;
  double xnorm = scaled_norm(n - 1, x, skip);
  if (xnorm == 0.0) return 0.0;
  double alpha = v[0];
  double beta = -std::copysign(arithmetic.hypot(alpha, xnorm), alpha);
  const double floor = arithmetic.safe_min / arithmetic.precision;
  int rescaled = 0;
  if (std::fabs(beta) < floor) {
    // beta may be inaccurate: scale x and alpha up and recompute.
    const double up = 1.0 / floor;
    do {
      ++rescaled;
      for (i64 i = 0; i < n - 1; ++i) x[i] *= up;
      beta *= up;
      alpha *= up;
    } while (std::fabs(beta) < floor && rescaled < 20);
    xnorm = scaled_norm(n - 1, x, skip);
    beta = -std::copysign(arithmetic.hypot(alpha, xnorm), alpha);
  }
  const double tau = (beta - alpha) / beta;
  const double scal = 1.0 / (alpha - beta);
  for (i64 i = 0; i < n - 1; ++i) x[i] *= scal;
  for (int r = 0; r < rescaled; ++r) beta *= floor;
  v[0] = beta;
  return tau;
}

// Standard form of a 2 x 2 block (the rule is stated in the header).
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

// Index k of the lowest negligible subdiagonal entry H(k, k-1) in l+1..i, or
// l when none is negligible: |H(k,k-1)| <= max(u t, smlnum) with
// t = |H(k-1,k-1)| + |H(k,k)| (or the one-norm of the block when t = 0).
//
// stalled: the iteration has already spent its exceptional shifts on this
// block without a split.  Then an entry below u times the one-norm of the
// block also counts as negligible.  The test relative to the diagonal alone
// never deflates nearly decoupled 2 x 2 blocks whose diagonal entries are
// themselves at rounding level (purely imaginary eigenvalues repeated in a
// normal matrix), and the iteration stagnates; dropping an entry below
// u ||H|| perturbs the matrix by no more than the reduction already has.
i64 diagonal_split(StridedMatrix H, i64 l, i64 i, double smlnum, double precision,
                   bool stalled) {
  const double norm = stalled ? hessenberg_norm1(H, l, i) : 0.0;
  i64 k = i;
  for (; k > l; --k) {
    double t = std::fabs(H(k - 1, k - 1)) + std::fabs(H(k, k));
    if (t == 0.0) t = hessenberg_norm1(H, l, i);
    const double bound = precision * t > smlnum ? precision * t : smlnum;
    const double sub = std::fabs(H(k, k - 1));
    if (sub <= bound || (stalled && sub <= precision * norm)) break;
  }
  return k;
}

int hessenberg_qr(StridedMatrix H, StridedMatrix Z, i64 n, i64 ilo, i64 ihi, double* wr,
                  double* wi, const QrRules& rules) {
  const QrArithmetic& ar = rules.arithmetic;
  const double smlnum = ar.safe_min * (double(ihi - ilo + 1) / ar.precision);
  const bool shared = rules.budget == SweepBudget::kShared;
  i64 budget = rules.sweeps;
  i64 i = ihi;
  while (i >= ilo) {
    // Sweeps on the active block l..i until a block of order 1 or 2 splits
    // off at its bottom.
    i64 l = ilo, its = 0;
    bool converged = false;
    for (;; ++its) {
      if (shared && its > budget) break;
      l = rules.deflation == Deflation::kNeighbourProducts
              ? neighbour_split(H, l, i, smlnum, ar.precision)
              : diagonal_split(H, l, i, smlnum, ar.precision, its >= kStallAfter);
      if (l > ilo) H(l, l - 1) = 0.0;
      if (l >= i - 1) {
        converged = true;
        break;
      }
      if (!shared && its == budget) break;
      if (cancel_requested()) return kQrCancelled;  // a sweep costs O(n (i - l)) operations
      const Shifts sh = compute_shifts(rules.shifts, H, l, i, its);
      double v[3];
      const i64 m = start_bulge(rules.shifts, H, l, i, sh, ar.precision, v);
      chase_bulge(rules, H, Z, n, l, i, m, v);
    }
    if (!converged) return int(std::min<i64>(i + 1, 0x7fffffff));
    split_off(rules, H, Z, n, l, i, wr, wi);
    if (shared) budget -= its;
    i = l - 1;
  }
  return 0;
}

}  // namespace mvtsa
