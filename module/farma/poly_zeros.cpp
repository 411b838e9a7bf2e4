// Zeros of a polynomial for the model functions (poly_zeros): zeros at the
// origin, the reduction to a polynomial in z^g, the Jenkins-Traub zeros
// (jenkins_traub.cpp) polished by the Aberth-Ehrlich iteration on the
// undeflated polynomial, and the g-th roots.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

#include "module/farma/poly_roots.hpp"
#include "module/frame/host.hpp"
#include "module/frame/status.hpp"
#include "module/frame/tolerances.hpp"
#include "module/linalg/lag_gcd.hpp"

namespace mvtsa {
namespace {

using cplx = std::complex<double>;

// The scaling limits of poly_roots: a largest coefficient magnitude outside
// them is refused.
constexpr double kScaleHigh = kDivergenceLimit;  // below 2^512
constexpr double kScaleLow = kSqrtDblMin;        // 2^-511

// The slack on the running error bound of complex Horner evaluation, in
// units of kUnitRoundoff (a complex product adds up to 2 sqrt(2) u per step).
constexpr double kResidualSlack = 8.0;
// A polishing step below this many units of |z| counts as no move.
constexpr double kStepSlack = 4.0;
// An estimate nearer to its own conjugate than to any other estimate is a
// real zero when its imaginary part is below sqrt(u) |z| (a multiple real
// zero is found to about u^(1/m)); a larger one means it has not settled.
const double kRealSlack = std::sqrt(kUnitRoundoff);
constexpr double kPi = 3.141592653589793;
// Angle offset of the starting circles of the Aberth iteration (Bini 1996):
// keeps the starting points off the real axis and off one another's circles.
constexpr double kStartAngle = 0.7;

// Newton quotient N = Q(z) / Q'(z) of Q = c_0 z^m + ... + c_m.  Returns
// false when |Q(z)| is within the running rounding-error bound of Horner's
// rule (Higham, Accuracy and Stability, 5.1), that is, z is a zero to
// working accuracy.  For |z| > 1 the reversed polynomial R(w) = w^m Q(1/w),
// w = 1/z, is evaluated instead (no overflow at high degree), and
// Q'/Q = w (m - w R'(w) / R(w)).
bool newton_quotient(const double* c, int m, cplx z, cplx* quotient) {
  const bool reversed = std::abs(z) > 1.0;
  const cplx x = reversed ? 1.0 / z : z;
  const double ax = std::abs(x);
  cplx b = reversed ? c[m] : c[0], d = 0.0;
  double e = 0.5 * std::abs(b);
  for (int i = 1; i <= m; ++i) {
    d = d * x + b;
    b = b * x + (reversed ? c[m - i] : c[i]);
    e = e * ax + std::abs(b);
  }
  if (std::abs(b) <= kResidualSlack * kUnitRoundoff * (2.0 * e - std::abs(b))) return false;
  *quotient = reversed ? 1.0 / (x * (double(m) - x * d / b)) : b / d;
  return true;
}

// Aberth-Ehrlich iteration (Aberth 1973; Bini 1996) on Q of degree m from
// the m estimates re/im:
//   z_i <- z_i - N_i / (1 - N_i sum_(j != i) 1 / (z_i - z_j)),   N_i = Q(z_i) / Q'(z_i),
// updated in place (Gauss-Seidel).  The correction keeps each estimate away
// from the zeros the others approximate, so no two estimates settle on one
// simple zero.  An estimate is done when it is a zero to working accuracy,
// when its step falls below kStepSlack units of |z_i|, or when it coincides
// exactly with another (a multiple zero found twice).  done: m flags.
// Returns true when every estimate is done within max_sweeps sweeps.
bool aberth(const double* c, int m, double* re, double* im, unsigned char* done, int max_sweeps) {
  std::memset(done, 0, std::size_t(m));
  for (int sweep = 0; sweep < max_sweeps; ++sweep) {
    bool all = true;
    for (int i = 0; i < m; ++i) {
      // O(m) an estimate: asked every 64 (the caller then ends the call).
      if (i % 64 == 0 && cancel_requested()) return false;
      if (done[i]) continue;
      const cplx z(re[i], im[i]);
      cplx n;
      if (!newton_quotient(c, m, z, &n)) {
        done[i] = 1;
        continue;
      }
      cplx s = 0.0;
      bool coincident = false;
      for (int j = 0; j < m && !coincident; ++j) {
        if (j == i) continue;
        const cplx diff = z - cplx(re[j], im[j]);
        if (diff == 0.0)
          coincident = true;
        else
          s += 1.0 / diff;
      }
      const cplx step = n / (1.0 - n * s);
      if (coincident || !std::isfinite(step.real()) || !std::isfinite(step.imag())) {
        done[i] = 1;
        continue;
      }
      re[i] -= step.real();
      im[i] -= step.imag();
      if (std::abs(step) <= kStepSlack * kUnitRoundoff * std::abs(z))
        done[i] = 1;
      else
        all = false;
    }
    if (all) return true;
  }
  return false;
}

// Starting points of the Aberth iteration from the Newton polygon of Q
// (Bini 1996): the upper convex hull of the points (j, log |a_j|), a_j the
// coefficient of w^j; an edge from j to l gives l - j points on the circle
// of radius (|a_j| / |a_l|)^(1 / (l - j)), spread evenly in angle and turned
// by kStartAngle and by the edge's place.  hull: m + 1 ints.
void aberth_start(const double* c, int m, double* re, double* im, int* hull) {
  auto lg = [&](int j) { return std::log(std::fabs(c[m - j])); };  // log |a_j|
  int h = 0;
  for (int j = 0; j <= m; ++j) {
    if (c[m - j] == 0.0) continue;
    // Pop while the last two hull points and j turn counter-clockwise or go
    // straight (keep the upper hull).
    while (h >= 2) {
      const int a = hull[h - 2], b = hull[h - 1];
      const double cross = (b - a) * (lg(j) - lg(a)) - (lg(b) - lg(a)) * (j - a);
      if (cross >= 0.0)
        --h;
      else
        break;
    }
    hull[h++] = j;
  }
  int at = 0;
  for (int e = 0; e + 1 < h; ++e) {
    const int a = hull[e], b = hull[e + 1], count = b - a;
    const double radius = std::exp((lg(a) - lg(b)) / count);
    for (int t = 0; t < count; ++t, ++at) {
      const double phi = 2.0 * kPi * t / count + 2.0 * kPi * e / m + kStartAngle;
      re[at] = radius * std::cos(phi);
      im[at] = radius * std::sin(phi);
    }
  }
}

// Restores the structure of the zeros of a real polynomial: each estimate
// is matched with the estimate nearest to its conjugate; an estimate matched
// with itself is a real zero (imaginary part set to 0), a mutually matched
// pair becomes an exact conjugate pair (the means of the real parts and of
// the imaginary magnitudes).  Writes the zeros to re/im in the order of
// their estimates, each pair positive imaginary part first.  Returns false
// (nothing written) when the matching is not mutual or a self-matched
// estimate lies off the real axis by more than kRealSlack |z|.
// work: 2m doubles and m ints.
bool conjugate_structure(int m, double* re, double* im, double* work) {
  double* zr = work;
  double* zi = work + m;
  int* partner = reinterpret_cast<int*>(work + 2 * std::int64_t(m));
  std::memcpy(zr, re, sizeof(double) * std::size_t(m));
  std::memcpy(zi, im, sizeof(double) * std::size_t(m));
  for (int i = 0; i < m; ++i) {
    int best = i;
    double dist = 2.0 * std::fabs(zi[i]);
    for (int j = 0; j < m; ++j) {
      const double d = std::hypot(zr[j] - zr[i], zi[j] + zi[i]);
      if (d < dist) {
        dist = d;
        best = j;
      }
    }
    partner[i] = best;
  }
  for (int i = 0; i < m; ++i) {
    if (partner[partner[i]] != i) return false;
    // A real zero found as complex is off the axis by rounding only.
    if (partner[i] == i && std::fabs(zi[i]) > kRealSlack * std::hypot(zr[i], zi[i])) return false;
  }
  int at = 0;
  for (int i = 0; i < m; ++i) {
    const int j = partner[i];
    if (j == i) {
      re[at] = zr[i];
      im[at++] = 0.0;
    } else if (j > i) {
      const double x = 0.5 * (zr[i] + zr[j]);
      const double y = 0.5 * (std::fabs(zi[i]) + std::fabs(zi[j]));
      re[at] = x;
      im[at++] = y;
      re[at] = x;
      im[at++] = -y;
    }
  }
  return true;
}

// Zeros of Q (degree m, no zero at the origin) in re/im: Jenkins-Traub, the
// Aberth iteration from its zeros on the undeflated Q, and, when that does
// not settle (deflation at high degree can leave the estimates far off, or
// the Jenkins-Traub stages give up), the Aberth iteration from the Newton
// polygon.  work: 7 (m + 1) doubles.
int settled_zeros(const double* c, int m, double* re, double* im, double* work) {
  int found = m;
  const int code = poly_roots(c, &found, re, im, work);
  if (code == kPolyRootsCancelled) return code;
  if (m <= 2 && code == kPolyRootsOk) return kPolyRootsOk;  // closed forms
  if (code == kPolyRootsScaleHigh || code == kPolyRootsScaleLow) {
    // Refused on the first pass: the polynomial itself is out of range.
    double top = 0.0;
    for (int i = 0; i <= m; ++i) {
      if (!std::isfinite(c[i])) return code;
      top = std::max(top, std::fabs(c[i]));
    }
    if (top > kScaleHigh || top < kScaleLow) return code;
  }
  auto* done = reinterpret_cast<unsigned char*>(work + 3 * std::int64_t(m));
  if (code == kPolyRootsOk && aberth(c, m, re, im, done, kPolishSweeps) &&
      conjugate_structure(m, re, im, work))
    return kPolyRootsOk;
  if (cancel_requested()) return kPolyRootsCancelled;
  aberth_start(c, m, re, im, reinterpret_cast<int*>(work));
  if (aberth(c, m, re, im, done, kAberthSweeps) && conjugate_structure(m, re, im, work))
    return kPolyRootsOk;
  if (cancel_requested()) return kPolyRootsCancelled;
  std::memset(re, 0, sizeof(double) * std::size_t(m));
  std::memset(im, 0, sizeof(double) * std::size_t(m));
  return kPolyRootsNoConvergence;
}

}  // namespace

int poly_zeros(const double* coef, int* degree, double* zero_re, double* zero_im, double* work) {
  const int n0 = *degree;
  if (n0 < 0) return kPolyRootsLeadingZero;
  if (coef[0] == 0.0) {
    *degree = 0;
    return kPolyRootsLeadingZero;
  }
  // Zeros at the origin first.
  int s = 0, n = n0;
  while (n > 0 && coef[n] == 0.0) {
    zero_re[s] = 0.0;
    zero_im[s] = 0.0;
    ++s;
    --n;
  }
  if (n == 0) return kPolyRootsOk;
  // g: the gcd of the powers n - i of the non-zero coefficients c_i.
  int g = n;
  for (int i = 1; i < n && g > 1; ++i)
    if (coef[i] != 0.0) g = lag_gcd(g, n - i);
  double* re = zero_re + s;
  double* im = zero_im + s;
  if (g == 1) {
    const int code = settled_zeros(coef, n, re, im, work);
    if (code == kPolyRootsNoConvergence) *degree = s;
    return code;
  }
  // Q(w) = sum_j c_(j g) w^(m - j), m = n / g, in the first m + 1 doubles;
  // its zeros are found in the following 7 (m + 1) (within 7 (n + 1), g >= 2).
  const int m = n / g;
  double* q = work;
  for (int j = 0; j <= m; ++j) q[j] = coef[std::int64_t(j) * g];
  const int code = settled_zeros(q, m, re, im, work + m + 1);
  if (code != kPolyRootsOk) {
    // Nothing but the zeros at the origin is reported.
    for (int j = 0; j < n; ++j) re[j] = im[j] = 0.0;
    if (code == kPolyRootsNoConvergence) *degree = s;
    return code;
  }
  // The g-th roots, last zero first, so that the zeros of Q at 0..m-1 are
  // read before their places are written (zero j goes to j g.., j g >= j).
  for (int j = m - 1; j >= 0; --j) {
    const bool pair = j > 0 && im[j] < 0.0 && re[j - 1] == re[j] && im[j - 1] == -im[j];
    if (pair) --j;
    std::int64_t at = std::int64_t(j) * g;
    append_gth_roots(re[j], im[j], pair, g, re, im, &at);
  }
  return kPolyRootsOk;
}

}  // namespace mvtsa
