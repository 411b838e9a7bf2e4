// Three-stage Jenkins-Traub zero finder for real polynomials (Jenkins and
// Traub 1970, the real-coefficient variant with quadratic iteration), and
// the Aberth-Ehrlich polishing of poly_zeros.
//
// Notation: the working polynomial p has degree n and coefficients
// p_0..p_n (p_0 of the highest power); the shift polynomial k has degree
// n - 1.  Stage 1 (no shift) refines k = p'/n by five steps with shift 0;
// stage 2 (fixed shift) takes a quadratic factor z^2 + u z + v with zeros on
// a circle of radius bnd (a lower bound on the zero moduli) and iterates k
// until the estimates of a real zero s or of the quadratic (u, v) settle;
// stage 3 (variable shift) then refines them by a real iteration (Newton-like
// on p / k) or a quadratic iteration, accepting a zero when the residual is
// within a rounding-error bound of the evaluation.
#include "module/farma/poly_roots.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

#include "module/blas/blas.hpp"
#include "module/frame/host.hpp"
#include "module/frame/status.hpp"
#include "module/linalg/lag_gcd.hpp"

namespace mvtsa {
namespace {

// Precision constants: machine precision, the relative error of an
// addition, the relative error of a multiplication (10 u each).
constexpr double kEta = kTenRoundoffTol;
constexpr double kAre = kEta;
constexpr double kMre = kEta;
// Scaling limits: a largest coefficient magnitude outside them is refused.
constexpr double kScaleHigh = kDivergenceLimit;  // below 2^512
constexpr double kScaleLow = kSqrtDblMin;        // 2^-511
// Rotation of the starting shift by 94 degrees before each major pass.
constexpr double kCos94 = -0.069756474;
constexpr double kSin94 = 0.99756405;
constexpr int kMajorPasses = 20;
// Safety cap for the Newton steps of the root-modulus bound; the iteration
// on that convex polynomial converges monotonically in a few dozen steps.
constexpr int kBoundNewtonCap = 1000;

// The iteration state of one call: the current degree, the arrays, the
// quadratic factor, the remainders and derived quantities, the last zeros.
struct JtState {
  int n = 0;
  double *p, *qp, *k, *qk, *svk, *temp, *pt;
  double u = 0, v = 0;                  // quadratic factor z^2 + u z + v
  double a = 0, b = 0, c = 0, d = 0;    // remainders of p and k by the quadratic
  // The next shift polynomial is qp_weight qp + zzqk_weight z^2 qk - zqp_weight z qp
  // (scaled by qp_weight), from the remainders a, b, c, d and the ratios e, f
  // and products g, h that remainder_scalars forms.
  double qp_weight = 0, zzqk_weight = 0, zqp_weight = 0, e = 0, f = 0, g = 0, h = 0;
  double szr = 0, szi = 0, lzr = 0, lzi = 0;  // smaller and larger zero
  double sr = 0, si = 0;                      // the shift point
};

// Quadratic synthetic division of s_0..s_m by z^2 + u z + v:
//   w_0 = s_0, w_1 = s_1 - u w_0, w_i = s_i - u w_(i-1) - v w_(i-2);
// *ra = w_m and *rb = w_(m-1) are the remainder terms.
void divide_by_quadratic(int m, double u, double v, const double* s, double* w, double* ra, double* rb) {
  double b = s[0];
  w[0] = b;
  double a = s[1] - u * b;
  w[1] = a;
  for (int i = 2; i <= m; ++i) {
    const double c = s[i] - u * a - v * b;
    w[i] = c;
    b = a;
    a = c;
  }
  *ra = a;
  *rb = b;
}

// How k divides by the quadratic: by its remainder c (|c| > |d|), by its
// remainder d, or with both remainders negligible (the quadratic is nearly a
// factor of k).
constexpr int kScaledByC = 1;
constexpr int kScaledByD = 2;
constexpr int kNearFactor = 3;

// Scalar step: divides k by the quadratic and classifies the result by the
// remainder (c, d) of k that the scalars are formed with.
int remainder_scalars(JtState& st) {
  const int n = st.n;
  divide_by_quadratic(n - 1, st.u, st.v, st.k, st.qk, &st.c, &st.d);
  if (std::fabs(st.c) <= std::fabs(st.k[n - 1]) * 100.0 * kEta &&
      std::fabs(st.d) <= std::fabs(st.k[n - 2]) * 100.0 * kEta)
    return kNearFactor;
  if (std::fabs(st.d) >= std::fabs(st.c)) {
    st.e = st.a / st.d;
    st.f = st.c / st.d;
    st.g = st.u * st.b;
    st.h = st.v * st.b;
    st.zzqk_weight = (st.a + st.g) * st.e + st.h * (st.b / st.d);
    st.qp_weight = st.b * st.f - st.a;
    st.zqp_weight = (st.f + st.u) * st.a + st.h;
    return kScaledByD;
  }
  st.e = st.a / st.c;
  st.f = st.d / st.c;
  st.g = st.u * st.e;
  st.h = st.v * st.b;
  st.zzqk_weight = st.a * st.e + (st.h / st.c + st.g) * st.b;
  st.qp_weight = st.b - st.a * (st.d / st.c);
  st.zqp_weight = st.a + st.g * st.d + st.h * st.f;
  return kScaledByC;
}

// The next shift polynomial k from the quotients qp and qk.
void next_shift_polynomial(JtState& st, int type) {
  const int n = st.n;
  double* k = st.k;
  const double* qp = st.qp;
  const double* qk = st.qk;
  if (type == kNearFactor) {
    k[0] = 0.0;
    k[1] = 0.0;
    for (int i = 2; i < n; ++i) k[i] = qk[i - 2];
    return;
  }
  const double x = type == kScaledByC ? st.b : st.a;
  if (std::fabs(st.qp_weight) > std::fabs(x) * kEta * 10.0) {
    st.zqp_weight /= st.qp_weight;
    st.zzqk_weight /= st.qp_weight;
    k[0] = qp[0];
    k[1] = qp[1] - st.zqp_weight * qp[0];
    for (int i = 2; i < n; ++i) k[i] = st.zzqk_weight * qk[i - 2] - st.zqp_weight * qp[i - 1] + qp[i];
  } else {
    k[0] = 0.0;
    k[1] = -st.zqp_weight * qp[0];
    for (int i = 2; i < n; ++i) k[i] = st.zzqk_weight * qk[i - 2] - st.zqp_weight * qp[i - 1];
  }
}

// New estimate (u', v') of the quadratic factor.
void quadratic_estimate(const JtState& st, int type, double* uu, double* vv) {
  if (type == kNearFactor) {
    *uu = 0.0;
    *vv = 0.0;
    return;
  }
  const int n = st.n;
  double a4, a5;
  if (type == kScaledByD) {
    a4 = (st.a + st.g) * st.f + st.h;
    a5 = (st.f + st.u) * st.c + st.v * st.d;
  } else {
    a4 = st.a + st.u * st.b + st.h * st.f;
    a5 = st.c + (st.u + st.v * st.f) * st.d;
  }
  const double b1 = -st.k[n - 1] / st.p[n];
  const double b2 = -(st.k[n - 2] + b1 * st.p[n - 1]) / st.p[n];
  const double c1 = st.v * b2 * st.qp_weight;
  const double c2 = b1 * st.zqp_weight;
  const double c3 = b1 * b1 * st.zzqk_weight;
  const double c4 = c1 - c2 - c3;
  const double w = a5 + b1 * a4 - c4;
  if (w == 0.0) {
    *uu = 0.0;
    *vv = 0.0;
    return;
  }
  *uu = st.u - (st.u * (c3 + c2) + st.v * (b1 * st.qp_weight + b2 * st.zqp_weight)) / w;
  *vv = st.v * (1.0 + c4 / w);
}

// Variable-shift quadratic iteration from (uu, vv), at most 20 steps.
// Returns 2 when a pair of zeros (szr, szi), (lzr, lzi) is accepted, else 0.
int quadratic_iteration(JtState& st, double uu, double vv) {
  const int n = st.n;
  st.u = uu;
  st.v = vv;
  bool tried = false;
  double omp = 0.0, relstp = 0.0;
  int j = 0;
  for (;;) {
    poly_quadratic(1.0, st.u, st.v, &st.szr, &st.szi, &st.lzr, &st.lzi);
    // Real zeros that are neither nearly equal nor nearly opposite: the
    // quadratic is not converging to a pair.
    if (std::fabs(std::fabs(st.szr) - std::fabs(st.lzr)) > 0.01 * std::fabs(st.lzr)) return 0;
    divide_by_quadratic(n, st.u, st.v, st.p, st.qp, &st.a, &st.b);
    const double mp = std::fabs(st.a - st.szr * st.b) + std::fabs(st.szi * st.b);
    // Rounding-error bound of evaluating p at the zeros through the division.
    const double zm = std::sqrt(std::fabs(st.v));
    double ee = 2.0 * std::fabs(st.qp[0]);
    const double t = -st.szr * st.b;
    for (int i = 1; i < n; ++i) ee = ee * zm + std::fabs(st.qp[i]);
    ee = ee * zm + std::fabs(st.a + t);
    ee = (4.0 * kAre + 0.5 * kMre) * ee -
         (0.5 * kMre + 2.0 * kAre) * (std::fabs(st.a + t) + std::fabs(st.b) * zm) +
         2.0 * kAre * std::fabs(t);
    if (mp <= 20.0 * ee) return 2;
    ++j;
    if (j > 20) return 0;
    if (j >= 2 && relstp <= 0.01 && mp >= omp && !tried) {
      // A cluster of zeros: a small shift of the quadratic, then five steps.
      const double r = std::sqrt(relstp < kEta ? relstp : kEta);
      st.u -= r * st.u;
      st.v += r * st.v;
      divide_by_quadratic(n, st.u, st.v, st.p, st.qp, &st.a, &st.b);
      for (int i = 0; i < 5; ++i) {
        const int type = remainder_scalars(st);
        next_shift_polynomial(st, type);
      }
      tried = true;
      j = 0;
    }
    omp = mp;
    // One more step of the variable-shift iteration.
    int type = remainder_scalars(st);
    next_shift_polynomial(st, type);
    type = remainder_scalars(st);
    double ui, vi;
    quadratic_estimate(st, type, &ui, &vi);
    if (vi == 0.0) return 0;
    relstp = std::fabs((vi - st.v) / vi);
    st.u = ui;
    st.v = vi;
  }
}

// Variable-shift real iteration from *s, at most 10 steps.  Returns 1 with
// the zero in (szr, 0) when accepted, else 0.
int real_iteration(JtState& st, double* sss) {
  const int n = st.n;
  double s = *sss;
  int j = 0;
  for (;;) {
    // p(s) by Horner; the partial values are the quotient qp.
    double pv = st.p[0];
    st.qp[0] = pv;
    for (int i = 1; i <= n; ++i) {
      pv = pv * s + st.p[i];
      st.qp[i] = pv;
    }
    const double mp = std::fabs(pv);
    const double ms = std::fabs(s);
    double ee = (kMre / (kAre + kMre)) * std::fabs(st.qp[0]);
    for (int i = 1; i <= n; ++i) ee = ee * ms + std::fabs(st.qp[i]);
    if (mp <= 20.0 * ((kAre + kMre) * ee - kMre * mp)) {
      st.szr = s;
      st.szi = 0.0;
      *sss = s;
      return 1;
    }
    ++j;
    if (j > 10) {
      *sss = s;
      return 0;
    }
    // k(s) by Horner into qk, then the next k.
    double kv = st.k[0];
    st.qk[0] = kv;
    for (int i = 1; i < n; ++i) {
      kv = kv * s + st.k[i];
      st.qk[i] = kv;
    }
    const double floor = std::fmax(std::fabs(st.k[n - 1]) * 10.0 * kEta, 1e-12);
    if (std::fabs(kv) > floor) {
      const double t = -pv / kv;
      st.k[0] = st.qp[0];
      for (int i = 1; i < n; ++i) st.k[i] = t * st.qk[i - 1] + st.qp[i];
    } else {
      st.k[0] = 0.0;
      for (int i = 1; i < n; ++i) st.k[i] = st.qk[i - 1];
    }
    kv = st.k[0];
    for (int i = 1; i < n; ++i) kv = kv * s + st.k[i];
    const double floor2 = std::fmax(std::fabs(st.k[n - 1]) * 10.0 * kEta, 1e-12);
    if (std::fabs(kv) > floor2) s -= pv / kv;
  }
}

// Fixed-shift stage with l2 steps.  Returns the number of zeros found (0, 1
// or 2), left in (szr, szi) and (lzr, lzi).
int fixed_shift_stage(JtState& st, int l2) {
  const int n = st.n;
  double betav = 0.25, betas = 0.25;
  double oss = st.sr, ovv = st.v, otv = 0.0, ots = 0.0;
  divide_by_quadratic(n, st.u, st.v, st.p, st.qp, &st.a, &st.b);
  int type = remainder_scalars(st);
  for (int j = 1; j <= l2; ++j) {
    next_shift_polynomial(st, type);
    type = remainder_scalars(st);
    double ui, vi;
    quadratic_estimate(st, type, &ui, &vi);
    const double vv = vi;
    const double ss = st.k[n - 1] != 0.0 ? -st.p[n] / st.k[n - 1] : 0.0;
    double tv = 1.0, ts = 1.0;
    if (j != 1 && type != kNearFactor) {
      if (vv != 0.0) tv = std::fabs((vv - ovv) / vv);
      if (ss != 0.0) ts = std::fabs((ss - oss) / ss);
      const double tvv = tv < otv ? tv * otv : 1.0;
      const double tss = ts < ots ? ts * ots : 1.0;
      const bool vpass = tvv < betav;
      const bool spass = tss < betas;
      if (spass || vpass) {
        // Save the state, then try the iterations of stage 3.
        const double svu = st.u, svv = st.v;
        std::memcpy(st.svk, st.k, sizeof(double) * n);
        double s = ss;
        bool vtry = false, stry = false;
        bool real_first = spass && (!vpass || tss < tvv);
        for (;;) {
          if (!real_first) {
            if (int nz = quadratic_iteration(st, ui, vi)) return nz;
            vtry = true;
            betav *= 0.25;
            if (!stry && spass) {
              std::memcpy(st.k, st.svk, sizeof(double) * n);
              real_first = true;  // fall through to the real iteration
            }
          }
          if (real_first && !stry) {
            if (int nz = real_iteration(st, &s)) return nz;
            stry = true;
            betas *= 0.25;
          }
          // Both failed (or the one tried failed): restore and go on.
          st.u = svu;
          st.v = svv;
          std::memcpy(st.k, st.svk, sizeof(double) * n);
          if (vpass && !vtry) {
            real_first = false;
            continue;
          }
          break;
        }
        divide_by_quadratic(n, st.u, st.v, st.p, st.qp, &st.a, &st.b);
        type = remainder_scalars(st);
      }
    }
    ovv = vv;
    oss = ss;
    otv = tv;
    ots = ts;
  }
  return 0;
}

// Divides p_0..p_n by the largest coefficient magnitude.  A coefficient
// that is not finite, or a magnitude outside the scaling limits, is refused
// with the scaling codes; 0 otherwise.
int scale_coefficients(double* p, int n) {
  for (int i = 0; i <= n; ++i)
    if (!std::isfinite(p[i])) return kPolyRootsScaleHigh;
  const double m = std::fabs(p[blas_idamax(n + 1, p, 1)]);
  if (m > kScaleHigh) return kPolyRootsScaleHigh;
  if (m < kScaleLow) return kPolyRootsScaleLow;
  for (int i = 0; i <= n; ++i) p[i] /= m;
  return kPolyRootsOk;
}

// Lower bound on the zero moduli of p: the positive zero of
// |p_0| x^n + ... + |p_(n-1)| x - |p_n|, from below by Newton steps.
// pt: n + 1 doubles of work.
double modulus_lower_bound(const double* p, int n, double* pt) {
  for (int i = 0; i <= n; ++i) pt[i] = std::fabs(p[i]);
  pt[n] = -pt[n];
  double x = std::exp((std::log(-pt[n]) - std::log(pt[0])) / n);
  if (pt[n - 1] != 0.0) {
    const double xm = -pt[n] / pt[n - 1];
    if (xm < x) x = xm;
  }
  for (;;) {
    const double xm = x * 0.1;
    double ff = pt[0];
    for (int i = 1; i <= n; ++i) ff = ff * xm + pt[i];
    if (!(ff > 0.0)) break;
    x = xm;
  }
  double dx = x;
  for (int it = 0; std::fabs(dx / x) > 0.005 && it < kBoundNewtonCap; ++it) {
    double ff = pt[0], df = ff;
    for (int i = 1; i < n; ++i) {
      ff = ff * x + pt[i];
      df = df * x + ff;
    }
    ff = ff * x + pt[n];
    dx = ff / df;
    x -= dx;
  }
  return x;
}

// Stage 1: k = p' / n refined by five no-shift steps; st.n becomes n.
void no_shift_stage(JtState& st, int n) {
  const double* p = st.p;
  double* k = st.k;
  st.n = n;
  for (int i = 1; i < n; ++i) k[i] = double(n - i) * p[i] / n;
  k[0] = p[0];
  const double aa = p[n], bb = p[n - 1];
  bool zerok = k[n - 1] == 0.0;
  for (int jj = 0; jj < 5; ++jj) {
    const double cc = k[n - 1];
    if (!zerok) {
      const double t = -aa / cc;
      for (int i = n - 1; i >= 1; --i) k[i] = t * k[i - 1] + p[i];
      k[0] = p[0];
      zerok = std::fabs(k[n - 1]) <= std::fabs(bb) * kEta * 10.0;
    } else {
      for (int i = n - 1; i >= 1; --i) k[i] = k[i - 1];
      k[0] = 0.0;
      zerok = k[n - 1] == 0.0;
    }
  }
}

// Stages 2 and 3: up to twenty major passes of fixed shifts of modulus bnd,
// the starting point (xx, yy) turned by 94 degrees before each pass.  Returns
// the number of zeros found (1 or 2), 0 when every pass failed.
int shifted_stages(JtState& st, int n, double bnd, double* xx, double* yy) {
  double* k = st.k;
  std::memcpy(st.temp, k, sizeof(double) * n);
  for (int pass = 1; pass <= kMajorPasses; ++pass) {
    const double xxx = kCos94 * *xx - kSin94 * *yy;
    *yy = kSin94 * *xx + kCos94 * *yy;
    *xx = xxx;
    st.sr = bnd * *xx;
    st.si = bnd * *yy;
    st.u = -2.0 * st.sr;
    st.v = bnd;
    const int nz = fixed_shift_stage(st, 20 * pass);
    if (nz > 0) return nz;
    std::memcpy(k, st.temp, sizeof(double) * n);
  }
  return 0;
}

}  // namespace

void poly_quadratic(double a, double b1, double c, double* sr, double* si, double* lr,
                    double* li) {
  *si = 0.0;
  *li = 0.0;
  if (a == 0.0) {
    *sr = b1 != 0.0 ? -c / b1 : 0.0;
    *lr = 0.0;
    return;
  }
  if (c == 0.0) {
    *sr = 0.0;
    *lr = -b1 / a;
    return;
  }
  // Discriminant b^2 - a c (b = b1 / 2) formed without overflow.
  const double b = b1 / 2.0;
  double e, d;
  if (std::fabs(b) < std::fabs(c)) {
    e = b * (b / std::fabs(c)) - (c >= 0.0 ? a : -a);
    d = std::sqrt(std::fabs(e)) * std::sqrt(std::fabs(c));
  } else {
    e = 1.0 - (a / b) * (c / b);
    d = std::sqrt(std::fabs(e)) * std::fabs(b);
  }
  if (e > 0.0) {
    // Real zeros: the larger by the formula with no cancellation, the
    // smaller from the product of the zeros, c / a.
    if (b >= 0.0) d = -d;
    *lr = (-b + d) / a;
    *sr = *lr != 0.0 ? (c / *lr) / a : 0.0;
    return;
  }
  *sr = -b / a;
  *lr = *sr;
  *si = std::fabs(d / a);
  *li = -*si;
}

int poly_roots(const double* coef, int* degree, double* zero_re, double* zero_im, double* work) {
  const int n0 = *degree;
  if (n0 < 0) return kPolyRootsLeadingZero;
  if (coef[0] == 0.0) {
    *degree = 0;
    return kPolyRootsLeadingZero;
  }
  int n = n0;
  int found = 0;
  // Zeros at the origin first.
  while (n > 0 && coef[n] == 0.0) {
    zero_re[found] = 0.0;
    zero_im[found] = 0.0;
    ++found;
    --n;
  }
  const std::int64_t stride = std::int64_t(n0) + 1;
  JtState st;
  st.p = work;
  st.qp = work + stride;
  st.k = work + 2 * stride;
  st.qk = work + 3 * stride;
  st.svk = work + 4 * stride;
  st.temp = work + 5 * stride;
  st.pt = work + 6 * stride;
  std::memcpy(st.p, coef, sizeof(double) * (std::size_t(n) + 1));

  // The starting point of the shifts, turned by 94 degrees before each pass.
  double xx = 0.70710678, yy = -xx;

  while (n >= 1) {
    double* p = st.p;
    if (n == 1) {
      zero_re[found] = -p[1] / p[0];
      zero_im[found] = 0.0;
      return kPolyRootsOk;
    }
    if (n == 2) {
      poly_quadratic(p[0], p[1], p[2], &zero_re[found], &zero_im[found], &zero_re[found + 1],
                     &zero_im[found + 1]);
      return kPolyRootsOk;
    }
    // One zero or pair costs O(n) operations per iteration: at degree 5000
    // the whole search takes seconds.
    if (cancel_requested()) {
      *degree = found;
      return kPolyRootsCancelled;
    }
    if (int code = scale_coefficients(p, n)) return code;
    const double bnd = modulus_lower_bound(p, n, st.pt);
    no_shift_stage(st, n);

    const int nz = shifted_stages(st, n, bnd, &xx, &yy);
    if (nz == 0) {
      *degree = found;
      return kPolyRootsNoConvergence;
    }
    // Store the zero (or pair) and deflate: p becomes the quotient qp.
    zero_re[found] = st.szr;
    zero_im[found] = st.szi;
    if (nz == 2) {
      zero_re[found + 1] = st.lzr;
      zero_im[found + 1] = st.lzi;
    }
    found += nz;
    n -= nz;
    std::memcpy(p, st.qp, sizeof(double) * (std::size_t(n) + 1));
  }
  return kPolyRootsOk;
}

}  // namespace mvtsa
