#include "module/varma/varmafit_kalman.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "module/frame/host.hpp"
#include "module/linalg/lu.hpp"
#include "module/varma/covariance.hpp"
#include "module/varma/sweep_inverse.hpp"
#include "module/varma/varma_kalman.hpp"

namespace mvtsa {
namespace {

constexpr double kDetFloor = kCloseTol;  // 2^-26.5
// Threshold of the generalized inverse of F: b = 100 u max|diag F| when that
// maximum lies in (kTinyDiag, 1), else 100 u.
constexpr double kGinvScale = kHundredRoundoffTol;
constexpr double kTinyDiag = kSqrtDblMin;
// The doubling has converged when |A|_F^2 <= 2^-56.
constexpr double kDoublingTail = 0x1p-56;
constexpr int kJacobiSweeps = 64;

bool row_missing(const double* y, int k) {
  for (int i = 0; i < k; ++i)
    if (is_missing(y[i]) || std::fabs(y[i]) > kSeriesBound) return true;
  return false;
}

struct Shape {
  std::int64_t k = 0, m = 0, f = 0;
  const double* ar = nullptr;
  const int* ar_lags = nullptr;
  int ar_count = 0;
};

// Work layout (doubles), in this order.
struct Layout {
  std::uint64_t R, Q, rs, a, att, P, Ptt, X, K, Fp, G, v, work, tol, flags, dense, col, big;
  std::uint64_t total;
};

Layout layout(std::uint64_t k, std::uint64_t m) {
  const std::uint64_t f = k * m, ff = f * f, fk = f * k;
  Layout l{};
  std::uint64_t at = 0;
  auto take = [&](std::uint64_t n) {
    const std::uint64_t here = at;
    at += n;
    return here;
  };
  l.R = take(fk);
  l.Q = take(ff);
  l.rs = take(fk);
  l.a = take(f);
  l.att = take(f);
  l.P = take(ff);
  l.Ptt = take(ff);
  l.X = take(ff);
  l.K = take(fk);
  l.Fp = take(k * (k + 1) / 2);
  l.G = take(k * k);
  l.v = take(k);
  l.work = take(k);
  l.tol = take(k);
  l.flags = take(k / sizeof(double) + 1);
  l.dense = take(ff);   // dense T
  l.col = take(2 * f);  // a unit vector and a column
  // The dense solve: the f^2 x f^2 matrix and the right-hand side; the
  // doubling: A and two f x f products.
  l.big = take(f <= std::uint64_t(kVarmafitDenseStationaryMax) ? ff * ff + ff : 3 * ff);
  l.total = at;
  return l;
}

// X = T A (f x f, row-major): the block rows shift up, the last block row is
// sum_l Phi_l (block row m-l of A).
void transition_rows(const Shape& s, const double* A, double* X) {
  const std::int64_t f = s.f, k = s.k, m = s.m;
  std::memcpy(X, A + k * f, sizeof(double) * std::size_t((m - 1) * k * f));
  double* last = X + (m - 1) * k * f;
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

// Y = X T': the block columns shift left, the last block column is
// sum_l (block column m-l) Phi_l'.
void transition_cols(const Shape& s, const double* X, double* Y) {
  const std::int64_t f = s.f, k = s.k, m = s.m;
  for (std::int64_t r = 0; r < f; ++r) {
    const double* x = X + r * f;
    double* y = Y + r * f;
    std::memcpy(y, x + k, sizeof(double) * std::size_t((m - 1) * k));
    double* last = y + (m - 1) * k;
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
}

// a' = T a for an f-vector.
void transition_vec(const Shape& s, const double* a, double* out) {
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

// R = [Psi_0; ...; Psi_{m-1}], Psi_0 = I,
// Psi_j = sum_{AR lags l <= j} Phi_l Psi_{j-l} - Theta_j   (k x k each);
// Q = R Sigma R' (f x f).  R, Q and rs (f k) start zeroed.
void build_noise(const Shape& s, const double* ma, int ma_count, const int* ma_lags,
                 const double* sigma_packed, double* R, double* Q, double* rs) {
  const std::int64_t k = s.k, f = s.f, kk = k * k;
  for (std::int64_t i = 0; i < k; ++i) R[i * k + i] = 1.0;
  for (std::int64_t j = 1; j < s.m; ++j) {
    double* psi = R + j * kk;
    for (int i = 0; i < s.ar_count; ++i) {
      const std::int64_t l = s.ar_lags[i];
      if (l < 1 || l > j) continue;
      const double* phi = s.ar + std::int64_t(i) * kk;
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
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t c = 0; c < k; ++c) {
      double acc = 0.0;
      for (std::int64_t b = 0; b < k; ++b) acc += R[r * k + b] * sigma_packed[packed_index(b, c)];
      rs[r * k + c] = acc;
    }
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t c = 0; c <= r; ++c) {
      double acc = 0.0;
      for (std::int64_t b = 0; b < k; ++b) acc += rs[r * k + b] * R[c * k + b];
      Q[r * f + c] = Q[c * f + r] = acc;
    }
}

// Cyclic Jacobi rotations on the symmetric n x n matrix `a` (destroyed); the
// eigenvalues end on its diagonal.
void jacobi_eigenvalues(double* a, std::int64_t n) {
  for (int sweep = 0; sweep < kJacobiSweeps; ++sweep) {
    double off = 0.0, diag = 0.0;
    for (std::int64_t i = 0; i < n; ++i) {
      diag += a[i * n + i] * a[i * n + i];
      for (std::int64_t j = i + 1; j < n; ++j) off += a[i * n + j] * a[i * n + j];
    }
    if (off <= 1e-30 * diag || off == 0.0) return;
    for (std::int64_t p = 0; p < n; ++p)
      for (std::int64_t q = p + 1; q < n; ++q) {
        const double apq = a[p * n + q];
        if (apq == 0.0) continue;
        const double theta = (a[q * n + q] - a[p * n + p]) / (2.0 * apq);
        const double t =
            (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0), sn = t * c;
        for (std::int64_t r = 0; r < n; ++r) {
          const double arp = a[r * n + p], arq = a[r * n + q];
          a[r * n + p] = c * arp - sn * arq;
          a[r * n + q] = sn * arp + c * arq;
        }
        for (std::int64_t r = 0; r < n; ++r) {
          const double apr = a[p * n + r], aqr = a[q * n + r];
          a[p * n + r] = c * apr - sn * aqr;
          a[q * n + r] = sn * apr + c * aqr;
        }
      }
  }
}

void fallback_covariance(std::int64_t f, double* P) {
  std::memset(P, 0, sizeof(double) * std::size_t(f * f));
  for (std::int64_t i = 0; i < f; ++i) P[i * f + i] = kFallbackVariance;
}

// P from (I - T (x) T) vec P = vec Q by LU with partial pivoting (a pivot
// below 1e-10: singular), symmetrised, rejected when its smallest eigenvalue
// is below -1e-10 times the largest magnitude; either failure: 1e6 I.
void dense_stationary(std::int64_t f, const double* T, const double* Q, double* A, double* x,
                      double* eig, double* P) {
  const std::int64_t n = f * f;
  std::memset(A, 0, sizeof(double) * std::size_t(n * n));
  for (std::int64_t i = 0; i < f; ++i)
    for (std::int64_t j = 0; j < f; ++j) {
      double* row = A + (i * f + j) * n;
      for (std::int64_t r = 0; r < f; ++r) {
        const double tir = T[i * f + r];
        if (tir == 0.0) continue;
        for (std::int64_t c = 0; c < f; ++c) row[r * f + c] = -tir * T[j * f + c];
      }
      row[i * f + j] += 1.0;
    }
  std::memcpy(x, Q, sizeof(double) * std::size_t(n));
  for (std::int64_t c = 0; c < n; ++c) {
    std::int64_t piv = c;
    double best = std::fabs(A[c * n + c]);
    for (std::int64_t r = c + 1; r < n; ++r)
      if (std::fabs(A[r * n + c]) > best) {
        best = std::fabs(A[r * n + c]);
        piv = r;
      }
    if (!(best >= kFilterTol)) return fallback_covariance(f, P);
    if (piv != c) {
      for (std::int64_t j = c; j < n; ++j) std::swap(A[c * n + j], A[piv * n + j]);
      std::swap(x[c], x[piv]);
    }
    const double p = A[c * n + c];
    for (std::int64_t r = c + 1; r < n; ++r) {
      const double g = A[r * n + c] / p;
      if (g == 0.0) continue;
      double* ar = A + r * n;
      const double* ac = A + c * n;
      for (std::int64_t j = c + 1; j < n; ++j) ar[j] -= g * ac[j];
      x[r] -= g * x[c];
    }
  }
  for (std::int64_t c = n - 1; c >= 0; --c) {
    double acc = x[c];
    for (std::int64_t j = c + 1; j < n; ++j) acc -= A[c * n + j] * x[j];
    x[c] = acc / A[c * n + c];
  }
  for (std::int64_t i = 0; i < f; ++i)
    for (std::int64_t j = 0; j < f; ++j) P[i * f + j] = 0.5 * (x[i * f + j] + x[j * f + i]);
  std::memcpy(eig, P, sizeof(double) * std::size_t(n));
  jacobi_eigenvalues(eig, f);
  double lo = eig[0], big = 0.0;
  for (std::int64_t i = 0; i < f; ++i) {
    lo = std::min(lo, eig[i * f + i]);
    big = std::max(big, std::fabs(eig[i * f + i]));
  }
  if (!(lo >= -kFilterTol * big)) fallback_covariance(f, P);
}

// C = A B for f x f matrices.
void multiply(std::int64_t f, const double* A, const double* B, double* C) {
  std::memset(C, 0, sizeof(double) * std::size_t(f * f));
  for (std::int64_t i = 0; i < f; ++i)
    for (std::int64_t r = 0; r < f; ++r) {
      const double a = A[i * f + r];
      if (a == 0.0) continue;
      const double* b = B + r * f;
      double* c = C + i * f;
      for (std::int64_t j = 0; j < f; ++j) c[j] += a * b[j];
    }
}

// P = sum_j T^j Q T'^j by doubling: P <- P + A P A', A <- A A.
void doubling_stationary(std::int64_t f, const double* T, const double* Q, double* A, double* B,
                         double* C, double* P) {
  const std::size_t ff = std::size_t(f * f);
  std::memcpy(P, Q, sizeof(double) * ff);
  std::memcpy(A, T, sizeof(double) * ff);
  for (int step = 0; step < kVarmafitMaxDoublings; ++step) {
    double norm2 = 0.0;
    for (std::size_t e = 0; e < ff; ++e) norm2 += A[e] * A[e];
    if (!(norm2 < HUGE_VAL)) break;
    if (norm2 <= kDoublingTail) {
      for (std::int64_t i = 0; i < f; ++i)  // symmetrise
        for (std::int64_t j = 0; j < i; ++j) P[i * f + j] = P[j * f + i] = 0.5 * (P[i * f + j] + P[j * f + i]);
      return;
    }
    // B = A P, C = B A' = A P A'
    multiply(f, A, P, B);
    for (std::int64_t i = 0; i < f; ++i)
      for (std::int64_t j = 0; j < f; ++j) {
        double acc = 0.0;
        for (std::int64_t r = 0; r < f; ++r) acc += B[i * f + r] * A[j * f + r];
        C[i * f + j] = acc;
      }
    for (std::size_t e = 0; e < ff; ++e) P[e] += C[e];
    multiply(f, A, A, B);
    std::memcpy(A, B, sizeof(double) * ff);
  }
  fallback_covariance(f, P);
}

// Generalized inverse of the packed k x k F by sweeping every pivot with
// tolerance 1e-10 |F_ii| (1e-10 when |F_ii| <= b), the pivots left over tried
// once more; rows and columns of pivots never swept are zeroed.
void generalized_inverse(double* Fp, int k, char* flags, double* work, double* tol, double* g) {
  double dmax = 0.0;
  for (int i = 0; i < k; ++i) dmax = std::max(dmax, std::fabs(Fp[packed_index(i, i)]));
  const double b = (dmax > kTinyDiag && dmax < 1.0) ? kGinvScale * dmax : kGinvScale;
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

}  // namespace

std::uint64_t varmafit_kalman_work_size(int k, int pmax, int qmax) {
  if (k < 1 || pmax < 0 || qmax < 0) return 0;
  const std::uint64_t m = std::uint64_t(std::max(pmax, qmax + 1));
  const std::uint64_t f = std::uint64_t(k) * m;
  if (f > (std::uint64_t(1) << 20)) return 0;  // f^2 alone would not fit in memory
  return layout(std::uint64_t(k), m).total;
}

int varmafit_kalman_loglik(double out[3], const double* series, std::int64_t T, int k,
                           const double* ar, int ar_count, int pmax, const int* ar_lags,
                           const double* ma, int ma_count, int qmax, const int* ma_lags,
                           const double* sigma_packed, double* work) {
  Shape s;
  s.k = k;
  s.m = std::max(pmax, qmax + 1);
  s.f = s.k * s.m;
  s.ar = ar;
  s.ar_lags = ar_lags;
  s.ar_count = ar_count;
  const std::int64_t f = s.f, ff = f * f;
  const Layout l = layout(std::uint64_t(k), std::uint64_t(s.m));
  std::memset(work, 0, sizeof(double) * std::size_t(l.total - l.big));
  double* R = work + l.R;
  double* Q = work + l.Q;
  double* a = work + l.a;
  double* att = work + l.att;
  double* P = work + l.P;
  double* Ptt = work + l.Ptt;
  double* X = work + l.X;
  double* K = work + l.K;
  double* Fp = work + l.Fp;
  double* G = work + l.G;
  double* v = work + l.v;
  double* scratch = work + l.work;
  double* tol = work + l.tol;
  char* flags = reinterpret_cast<char*>(work + l.flags);
  double* dense = work + l.dense;
  double* big = work + l.big;

  build_noise(s, ma, ma_count, ma_lags, sigma_packed, R, Q, work + l.rs);
  // Dense T, column by column through transition_vec.
  {
    double* e = work + l.col;
    double* col = e + f;
    for (std::int64_t j = 0; j < f; ++j) {
      std::memset(e, 0, sizeof(double) * std::size_t(f));
      e[j] = 1.0;
      transition_vec(s, e, col);
      for (std::int64_t i = 0; i < f; ++i) dense[i * f + j] = col[i];
    }
  }
  if (f <= kVarmafitDenseStationaryMax)
    dense_stationary(f, dense, Q, big, big + ff * ff, X, P);
  else
    doubling_stationary(f, dense, Q, big, big + ff, big + 2 * ff, P);

  // One pass: at each t the contribution of the predicted moments a(t), P(t)
  // (F(t) = top-left k x k of P(t), v(t) = Y(t) - a(t)[0:k]), then the update
  // and the prediction of t + 1.
  double D = 0.0, S = 0.0;
  int det_status = kStatusOk;
  double* Fd = G;
  for (std::int64_t t = 0; t < T; ++t) {
    const double* y = series + t * k;
    const bool miss = row_missing(y, k);
    {
      for (int r = 0; r < k; ++r)
        for (int c = 0; c < k; ++c) Fd[r * k + c] = P[std::int64_t(r) * f + c];
      double det = 0.0;
      det_status = lu_solve(Fd, k, nullptr, scratch, &det);
      D += floored_log_det(Fd, k, det, kDetFloor);
      for (int r = 0; r < k; ++r) v[r] = miss ? 0.0 : y[r] - a[r];
      if (det > kDetFloor) {
        for (int r = 0; r < k; ++r)
          for (int c = 0; c <= r; ++c) Fp[packed_index(r, c)] = P[std::int64_t(r) * f + c];
        if (sweep_inverse(Fp, k, flags, scratch) < k) return kVarmafitFilterSingular;
        double q = 0.0;
        for (int r = 0; r < k; ++r) {
          double acc = 0.0;
          for (int c = 0; c < k; ++c) acc += Fp[packed_index(r, c)] * v[c];
          q += v[r] * acc;
        }
        S += q;
      } else {
        double q = 0.0;
        for (int r = 0; r < k; ++r) q += v[r] * v[r];
        S += q / kDetFloor;
      }
    }
    if (t == T - 1) break;  // the last observation is not predicted beyond
    if (miss) {
      std::memcpy(att, a, sizeof(double) * std::size_t(f));
      std::memcpy(Ptt, P, sizeof(double) * std::size_t(ff));
    } else {
      // v = y - Z a;  F = Z P Z';  K = P Z' F^-;  a(t|t) = a + K v;
      // P(t|t) = P - K (Z P)
      for (int i = 0; i < k; ++i) v[i] = y[i] - a[i];
      for (int i = 0; i < k; ++i)
        for (int j = 0; j <= i; ++j) Fp[packed_index(i, j)] = P[std::int64_t(i) * f + j];
      generalized_inverse(Fp, k, flags, scratch, tol, G);
      for (std::int64_t r = 0; r < f; ++r)
        for (int c = 0; c < k; ++c) {
          double acc = 0.0;
          for (int b = 0; b < k; ++b) acc += P[r * f + b] * G[std::int64_t(b) * k + c];
          K[r * k + c] = acc;
        }
      for (std::int64_t r = 0; r < f; ++r) {
        double acc = a[r];
        for (int c = 0; c < k; ++c) acc += K[r * k + c] * v[c];
        att[r] = acc;
      }
      for (std::int64_t r = 0; r < f; ++r)
        for (std::int64_t c = 0; c <= r; ++c) {
          double acc = P[r * f + c];
          for (int b = 0; b < k; ++b) acc -= K[r * k + b] * P[std::int64_t(b) * f + c];
          Ptt[r * f + c] = acc;
        }
      for (std::int64_t r = 0; r < f; ++r)
        for (std::int64_t c = r + 1; c < f; ++c) Ptt[r * f + c] = Ptt[c * f + r];
    }
    // a(t+1) = T a(t|t);  P(t+1) = T P(t|t) T' + Q
    transition_vec(s, att, a);
    transition_rows(s, Ptt, X);
    transition_cols(s, X, P);
    double largest = 0.0;
    bool nan = false;
    for (std::int64_t e = 0; e < ff; ++e) {
      P[e] += Q[e];
      const double x = std::fabs(P[e]);
      if (x > largest)
        largest = x;
      else if (x != x)
        nan = true;
    }
    if (nan || !(largest < kDivergenceLimit)) return kVarmafitFilterDiverged;
  }
  out[0] = -(D + S) / 2.0;
  out[1] = D;
  out[2] = S;
  return det_status;
}

}  // namespace mvtsa
