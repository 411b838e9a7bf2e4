// Eigenvalues of a real symmetric matrix held as its packed lower triangle:
// Householder tridiagonalisation (the TRED3 method), the QL method with
// implicit shifts, and Sturm-sequence bisection as the fallback.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "module/blas/blas.hpp"
#include "module/frame/status.hpp"
#include "module/linalg/symmetric_eigenvalues.hpp"

namespace mvtsa {
namespace {

// Row sums, rotation divisors and rotation lengths at or below the smallest
// normal double count as zero.
constexpr double kTiny = kTinyNormal;
// Off-diagonal entries at or below sqrt(DBL_MIN) count as zero in the QL
// iteration.
constexpr double kQlFloor = kSqrtDblMin;
constexpr int kQlIterations = 50;
// Bisection steps per eigenvalue: enough to halve any finite interval down to
// the precision of the double format.
constexpr int kBisectionSteps = 2200;

// Householder reduction of the packed symmetric matrix to tridiagonal form
// (TRED3, rows from the last upward): d[0..n-1] receives the diagonal and
// e[i] the subdiagonal entry (i, i-1), e[0] = 0.  ap is overwritten.
void tridiagonalize(int n, double* ap, double* d, double* e) {
  for (int i = n - 1; i >= 0; --i) {
    const int l = i - 1;
    const std::int64_t iz = std::int64_t(i) * (i + 1) / 2;  // start of row i
    double h = 0.0, scale = 0.0;
    for (int k = 0; k < i; ++k) {
      d[k] = ap[iz + k];
      scale += std::fabs(d[k]);
    }
    if (i < 1 || scale <= kTiny) {
      // Nothing to annihilate in this row.
      e[i] = 0.0;
    } else {
      for (int k = 0; k < i; ++k) {
        d[k] /= scale;
        h += d[k] * d[k];
      }
      double f = d[l];
      double g = -std::copysign(std::sqrt(h), f);
      e[i] = scale * g;
      h -= f * g;
      d[l] = f - g;
      ap[iz + l] = scale * d[l];
      if (l > 0) {
        // p = A u / h in e[0..l]   (A the leading (l+1) x (l+1) block)
        std::int64_t jk = 0;
        for (int j = 0; j <= l; ++j) {
          g = 0.0;
          for (int k = 0; k < j; ++k) {
            g += ap[jk] * d[k];
            e[k] += ap[jk] * d[j];
            ++jk;
          }
          e[j] = g + ap[jk] * d[j];
          ++jk;
        }
        f = 0.0;
        for (int j = 0; j <= l; ++j) {
          e[j] /= h;
          f += e[j] * d[j];
        }
        // q = p - (u'p / 2h) u;   A := A - u q' - q u'   (row by row)
        const double hh = f / (h + h);
        jk = 0;
        for (int j = 0; j <= l; ++j) {
          f = d[j];
          g = e[j] - hh * f;
          e[j] = g;
          blas_daxpy(j + 1, -f, e, ap + jk);
          blas_daxpy(j + 1, -g, d, ap + jk);
          jk += j + 1;
        }
      }
    }
    d[i] = ap[iz + i];
    ap[iz + i] = scale * std::sqrt(h);
  }
}

// sqrt(1 + x^2) in the overflow-safe form.
double hypot1(double x) {
  const double ax = std::fabs(x);
  if (ax > 1.0) {
    const double r = 1.0 / ax;
    return ax * std::sqrt(1.0 + r * r);
  }
  return std::sqrt(1.0 + ax * ax);
}

// Length of (f, g) as |larger| * sqrt(1 + ratio^2); a ratio whose divisor is
// not above kTiny is taken as 0.
double rotation_length(double f, double g) {
  const double af = std::fabs(f), ag = std::fabs(g);
  if (af >= ag) {
    const double ratio = af > kTiny ? g / f : 0.0;
    return af * std::sqrt(1.0 + ratio * ratio);
  }
  const double ratio = ag > kTiny ? f / g : 0.0;
  return ag * std::sqrt(1.0 + ratio * ratio);
}

// Number of eigenvalues of the tridiagonal matrix below x (Sturm sequence of
// the LDL' pivots; a pivot smaller than pivmin is replaced by -pivmin).
int sturm_count(int n, const double* d, const double* e2, double x, double pivmin) {
  int count = 0;
  double q = d[0] - x;
  if (std::fabs(q) < pivmin) q = -pivmin;
  if (q < 0.0) ++count;
  for (int i = 1; i < n; ++i) {
    q = d[i] - x - e2[i - 1] / q;
    if (std::fabs(q) < pivmin) q = -pivmin;
    if (q < 0.0) ++count;
  }
  return count;
}

}  // namespace

int tridiagonal_ql(int n, double* d, double* e, int max_iterations) {
  if (n < 1) return 0;
  e[n - 1] = 0.0;
  const double u = kEigPrecision;
  for (int l = 0; l < n; ++l) {
    int iter = 0;
    for (;;) {
      // Smallest m >= l with a negligible e[m] (e[n-1] = 0 ends the search).
      int m = l;
      for (; m < n - 1; ++m) {
        const double em = std::fabs(e[m]);
        if (em <= u * (std::fabs(d[m]) + std::fabs(d[m + 1])) || em <= kQlFloor) break;
      }
      if (m == l) break;  // d[l] has converged
      if (iter == max_iterations) return l + 1;
      ++iter;
      // Implicit shift from the leading 2 x 2 block of rows l, l+1.
      double g = (d[l + 1] - d[l]) / (2.0 * e[l]);
      double r = hypot1(g);
      g = d[m] - d[l] + e[l] / (g + std::copysign(r, g));
      double s = 1.0, c = 1.0, p = 0.0;
      bool underflow = false;
      for (int i = m - 1; i >= l; --i) {
        // Plane rotation in rows i, i+1 annihilating f against g.
        const double f = s * e[i], b = c * e[i];
        r = rotation_length(f, g);
        e[i + 1] = r;
        if (r <= kTiny) {
          // The rotation underflowed: finish the sweep here.
          d[i + 1] -= p;
          e[m] = 0.0;
          underflow = true;
          break;
        }
        s = f / r;
        c = g / r;
        g = d[i + 1] - p;
        r = (d[i] - g) * s + 2.0 * c * b;
        p = s * r;
        d[i + 1] = g + p;
        g = c * r - b;
      }
      if (underflow) {
        // d[l] is accepted unless e[l] is still significant against it.
        const double el = std::fabs(e[l]);
        if (el > kQlFloor && (std::fabs(d[l]) > u || el > kCloseTol * std::fabs(d[l])))
          return l + 1;
        break;
      }
      d[l] -= p;
      e[l] = g;
      e[m] = 0.0;
    }
    // Insert d[l] among the converged d[0..l-1], keeping them descending.
    const double p = d[l];
    int i = l;
    for (; i > 0 && p > d[i - 1]; --i) d[i] = d[i - 1];
    d[i] = p;
  }
  return 0;
}

int tridiagonal_bisection(int n, const double* d, double* e, double* w) {
  if (n < 1) return 0;
  const double u = kEigPrecision;
  // Negligible off-diagonal entries become zero.
  for (int i = 1; i < n; ++i)
    if (std::fabs(e[i - 1]) <= u * (std::fabs(d[i - 1]) + std::fabs(d[i]))) e[i - 1] = 0.0;
  // Gershgorin interval, widened by u n max(|lower|, |upper|) on both sides.
  double lower = d[0], upper = d[0], emax = 0.0;
  for (int i = 0; i < n; ++i) {
    const double radius = (i > 0 ? std::fabs(e[i - 1]) : 0.0) + (i < n - 1 ? std::fabs(e[i]) : 0.0);
    if (d[i] - radius < lower) lower = d[i] - radius;
    if (d[i] + radius > upper) upper = d[i] + radius;
    if (i < n - 1 && std::fabs(e[i]) > emax) emax = std::fabs(e[i]);
  }
  const double widen = u * n * (std::fabs(lower) > std::fabs(upper) ? std::fabs(lower) : std::fabs(upper));
  lower -= widen;
  upper += widen;
  // The Sturm sequence needs the squares e_i^2: square e in place.
  for (int i = 0; i < n - 1; ++i) e[i] *= e[i];
  const double pivmin = kTiny * (emax * emax > 1.0 ? emax * emax : 1.0);
  const int below_upper = sturm_count(n, d, e, upper, pivmin);
  const int below_lower = sturm_count(n, d, e, lower, pivmin);
  const int found = below_upper - below_lower;
  if (found != n) {
    // NaN or infinite data: no usable count.
    for (int k = 0; k < n; ++k) w[k] = missing_value();
    return found > 0 && found < n ? found : 0;
  }
  // The k-th largest eigenvalue is the (n-1-k)-th smallest mu: count(x) <= j
  // exactly when x <= mu_j.
  for (int k = 0; k < n; ++k) {
    const int j = n - 1 - k;
    double a = lower, b = upper;
    for (int step = 0; step < kBisectionSteps; ++step) {
      const double mid = 0.5 * (a + b);
      if (!(b - a > 2.0 * u * (std::fabs(a) + std::fabs(b)) + pivmin) || mid == a || mid == b)
        break;
      if (sturm_count(n, d, e, mid, pivmin) <= j)
        a = mid;
      else
        b = mid;
    }
    w[k] = 0.5 * (a + b);
  }
  return n;
}

int symmetric_eigenvalues(int n, double* ap, double* w, double* work) {
  if (n <= 0 || !ap || !w || !work) return kSymBadArgument;
  double* e = work;             // n
  double* d_copy = work + n;    // n
  double* e_copy = work + 2 * n;  // n
  tridiagonalize(n, ap, w, e);
  // e[i] holds the entry (i, i-1): shift it to the (i, i+1) convention.
  for (int i = 1; i < n; ++i) e[i - 1] = e[i];
  e[n - 1] = 0.0;
  std::memcpy(d_copy, w, sizeof(double) * n);
  std::memcpy(e_copy, e, sizeof(double) * n);
  if (tridiagonal_ql(n, w, e, kQlIterations) == 0) return 0;
  // The QL iteration failed: restore the tridiagonal matrix and bisect.
  const int found = tridiagonal_bisection(n, d_copy, e_copy, w);
  return found < n ? kSymIncomplete : kSymBisection;
}

}  // namespace mvtsa
