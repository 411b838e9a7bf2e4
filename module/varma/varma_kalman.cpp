// The VARMA likelihood by the Kalman filter.
//
// State-space form with m = max(pmax, qmax + 1) blocks of k, f = k m:
//   state(t+1) = T state(t) + R e(t+1),   Y(t) = Z state(t),   Z = [I 0 ... 0]
// The state holds Y(t) and its forecasts for the next m - 1 steps.  T has
// identity blocks on the block super-diagonal and Phi_l at block
// (m-1, m-l); R = [Psi_0; ...; Psi_{m-1}] holds the first m MA(infinity)
// weights; Q = R Sigma R'.
#include "module/varma/varma_kalman.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/frame/host.hpp"
#include "module/varma/covariance.hpp"
#include "module/varma/sweep_inverse.hpp"

namespace mvtsa {

int lu_determinant(double* a, int n, double* scale, double* det) {
  const std::int64_t N = n;
  for (std::int64_t i = 0; i < N; ++i) {
    double mx = 0.0;
    for (std::int64_t j = 0; j < N; ++j) mx = std::max(mx, std::fabs(a[i * N + j]));
    if (mx == 0.0) {
      *det = 0.0;
      return 1;
    }
    scale[i] = 1.0 / mx;
  }
  int status = 0;
  double d = 1.0;
  for (std::int64_t c = 0; c < N; ++c) {
    std::int64_t piv = c;
    double best = -1.0;
    for (std::int64_t r = c; r < N; ++r) {
      const double v = std::fabs(a[r * N + c]) * scale[r];
      if (v > best) {
        best = v;
        piv = r;
      }
    }
    if (piv != c) {
      for (std::int64_t j = 0; j < N; ++j) std::swap(a[c * N + j], a[piv * N + j]);
      std::swap(scale[c], scale[piv]);
      d = -d;
    }
    if (best < kLuScaledPivotTol && status == 0) status = (c == N - 1) ? 3 : 2;
    const double p = a[c * N + c];
    d *= p;
    if (p == 0.0) break;  // the determinant is zero; nothing left to eliminate with
    for (std::int64_t r = c + 1; r < N; ++r) {
      const double g = a[r * N + c] / p;
      a[r * N + c] = g;
      if (g == 0.0) continue;
      for (std::int64_t j = c + 1; j < N; ++j) a[r * N + j] -= g * a[c * N + j];
    }
  }
  *det = d;
  return status;
}

double floored_log_det(const double* lu, int n, double det, double floor) {
  if (!(det == HUGE_VAL)) return std::log(std::max(det, floor));
  // det = prod_c U(c, c) with the sign of the row exchanges, and positive.
  double log_abs = 0.0;
  for (std::int64_t c = 0; c < n; ++c) log_abs += std::log(std::fabs(lu[c * std::int64_t(n) + c]));
  return std::max(log_abs, std::log(floor));
}

namespace {

constexpr double kDetFloor = kCloseTol;  // 2^-26.5
// Threshold of the generalized inverse: b = eps/2 * max|diag F| when that
// maximum lies in (kTinyDiag, 1), else eps/2.
constexpr double kHalfEps = 1.110223024625157e-14;
constexpr double kTinyDiag = 1.491668147e-154;
// Steps of filter output buffered per utility-file write and read: at most
// 256, and no more than about 1 MiB of covariance matrices.
std::int64_t chunk_steps(std::int64_t ff) {
  return std::max<std::int64_t>(1, std::min<std::int64_t>(256, 131072 / ff));
}

// A row is missing when any element is missing or above the series bound.
bool row_missing(const double* y, int k) {
  for (int i = 0; i < k; ++i)
    if (is_missing(y[i]) || std::fabs(y[i]) > kSeriesBound) return true;
  return false;
}

// The filter's arrays, all from one host pool released on every path.
class FilterPool {
 public:
  FilterPool() : pool_(pool_create()) {}
  ~FilterPool() { pool_release(pool_); }
  FilterPool(const FilterPool&) = delete;
  FilterPool& operator=(const FilterPool&) = delete;
  bool ok() const { return pool_ != nullptr; }
  // A zero-filled array of n doubles, or null after the host error was raised.
  // Once one request has failed every later one returns null without asking
  // the host again, so a call that takes several arrays before testing them
  // raises the error once.
  template <class T>
  T* get(std::uint64_t n) {
    if (failed_) return nullptr;
    void* p = pool_alloc(pool_, checked_bytes(n == 0 ? 1 : n, sizeof(T)));
    if (!p) {
      failed_ = true;
      (void)allocation_failed();
      return nullptr;
    }
    if (check_host_error()) {
      failed_ = true;
      return nullptr;
    }
    return static_cast<T*>(p);
  }

 private:
  mcn_allocator* pool_;
  bool failed_ = false;
};

// The four utility files of one evaluation; any still open are closed when
// the evaluation ends.
class UtilityFiles {
 public:
  static constexpr int kCount = 4;
  ~UtilityFiles() {
    for (void*& h : handle_)
      if (h) (void)utility_close(h);
  }
  // Each returns 0, or reports the failing code and returns status 100.
  int create_all() {
    std::uint8_t desc[240];
    utility_descriptor(desc);
    for (void*& h : handle_)
      if (int rc = utility_create(&h, desc); rc < 0) return failed(rc);
    return kStatusOk;
  }
  int write(int file, const double* x, std::int64_t n) {
    const int rc = utility_write(handle_[file], x, n * std::int64_t(sizeof(double)));
    return rc < 0 ? failed(rc) : kStatusOk;
  }
  int read(int file, double* x, std::int64_t n) {
    const int rc = utility_read(handle_[file], x, n * std::int64_t(sizeof(double)));
    return rc < 0 ? failed(rc) : kStatusOk;
  }
  int rewind(int file) {
    const int rc = utility_rewind(handle_[file]);
    return rc < 0 ? failed(rc) : kStatusOk;
  }
  int close_all() {
    int status = kStatusOk;
    for (void*& h : handle_) {
      const int rc = utility_close(h);
      h = nullptr;
      if (rc < 0 && status == kStatusOk) status = failed(rc);
    }
    return status;
  }

 private:
  static int failed(int rc) {
    error_code_report(rc);
    return kStatusMessage;
  }
  void* handle_[kCount] = {nullptr, nullptr, nullptr, nullptr};
};

// Appends steps to a utility file through a buffer of `capacity` steps,
// so that the file receives exactly the sequence of steps in order.
class StepWriter {
 public:
  StepWriter(UtilityFiles* files, int file, double* buffer, std::int64_t step,
             std::int64_t capacity)
      : files_(files), file_(file), buf_(buffer), step_(step), capacity_(capacity) {}
  int put(const double* x) {
    std::memcpy(buf_ + used_ * step_, x, sizeof(double) * std::size_t(step_));
    if (++used_ == capacity_) return flush();
    return kStatusOk;
  }
  int flush() {
    const std::int64_t n = used_;
    used_ = 0;
    return n ? files_->write(file_, buf_, n * step_) : kStatusOk;
  }

 private:
  UtilityFiles* files_;
  int file_;
  double* buf_;
  std::int64_t step_;
  std::int64_t capacity_;
  std::int64_t used_ = 0;
};

// Cyclic Jacobi rotations on the symmetric row-major n x n matrix `a`
// (destroyed); the eigenvalues end on its diagonal.
void jacobi_eigenvalues(double* a, std::int64_t n) {
  for (int sweep = 0; sweep < 64; ++sweep) {
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
        const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
        for (std::int64_t r = 0; r < n; ++r) {  // columns p, q
          const double arp = a[r * n + p], arq = a[r * n + q];
          a[r * n + p] = c * arp - s * arq;
          a[r * n + q] = s * arp + c * arq;
        }
        for (std::int64_t r = 0; r < n; ++r) {  // rows p, q
          const double apr = a[p * n + r], aqr = a[q * n + r];
          a[p * n + r] = c * apr - s * aqr;
          a[q * n + r] = s * apr + c * aqr;
        }
      }
  }
}

// The model in the form the filter uses.
struct StateSpace {
  int k = 0;
  int m = 0;
  std::int64_t f = 0;
  const double* ar = nullptr;  // compact blocks
  const int* ar_lags = nullptr;
  int ar_count = 0;
  double* R = nullptr;  // f x k
  double* Q = nullptr;  // f x f
};

// X = T A for an f x f matrix A (row-major): the block rows shift up, the last
// block row is sum_l Phi_l (block row m-l of A).
void transition_rows(const StateSpace& s, const double* A, double* X) {
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

// Y = X T' for an f x f matrix X: for each row x, (T x')' -- the block
// columns shift left, the last block column is sum_l (block column m-l) Phi_l'.
void transition_cols(const StateSpace& s, const double* X, double* Y) {
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
void transition_vec(const StateSpace& s, const double* a, double* out) {
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

// R = [Psi_0; ...; Psi_{m-1}],  Psi_0 = I,
// Psi_j = sum_{AR lags l <= j} Phi_l Psi_{j-l} - Theta_j   (k x k each);
// Q = R Sigma R'  (f x f).  `rs` holds f k doubles of work.
void build_noise(StateSpace* s, const double* ma, int ma_count, const int* ma_lags,
                 const double* sigma_packed, double* rs) {
  const std::int64_t k = s->k, f = s->f, kk = k * k;
  double* R = s->R;
  for (std::int64_t i = 0; i < k; ++i) R[i * k + i] = 1.0;
  for (std::int64_t j = 1; j < s->m; ++j) {
    double* psi = R + j * kk;
    for (int i = 0; i < s->ar_count; ++i) {
      const std::int64_t l = s->ar_lags[i];
      if (l < 1 || l > j) continue;
      const double* phi = s->ar + std::int64_t(i) * kk;
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
  // RS = R Sigma (f x k)
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t c = 0; c < k; ++c) {
      double acc = 0.0;
      for (std::int64_t b = 0; b < k; ++b) acc += R[r * k + b] * sigma_packed[packed_index(b, c)];
      rs[r * k + c] = acc;
    }
  // Q = RS R'
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t c = 0; c <= r; ++c) {
      double acc = 0.0;
      for (std::int64_t b = 0; b < k; ++b) acc += rs[r * k + b] * R[c * k + b];
      s->Q[r * f + c] = s->Q[c * f + r] = acc;
    }
}

// P(1): the solution of P = T P T' + Q from (I - T (x) T) vec P = vec Q, an
// n = f^2 system solved by LU with partial pivoting; a pivot below 1e-10 in
// magnitude means singular.  A solution whose smallest eigenvalue is negative
// (below -1e-10 times the largest magnitude) is rejected too.  Either way
// P(1) = 1e6 I.  Returns 0, or 1 after a failed allocation.
int initial_covariance(const StateSpace& s, FilterPool* pool, double* P) {
  const std::int64_t f = s.f, n = f * f;
  double* A = pool->get<double>(checked_mul(std::uint64_t(n), std::uint64_t(n)));
  double* dense = pool->get<double>(std::uint64_t(n));
  double* x = pool->get<double>(std::uint64_t(n));
  double* e = pool->get<double>(2 * std::uint64_t(f));  // a unit vector and a column
  if (!A || !dense || !x || !e) return kStatusHostError;
  // Dense T (f x f): T x e_j column by column through transition_vec.
  {
    double* col = e + f;
    for (std::int64_t j = 0; j < f; ++j) {
      std::memset(e, 0, sizeof(double) * std::size_t(f));
      e[j] = 1.0;
      transition_vec(s, e, col);
      for (std::int64_t i = 0; i < f; ++i) dense[i * f + j] = col[i];
    }
  }
  // A[(i f + j), (r f + c)] = delta - T[i][r] T[j][c]  (vec row-major:
  // (T P T')[i][j] = sum_{r,c} T[i][r] P[r][c] T[j][c]).
  for (std::int64_t i = 0; i < f; ++i)
    for (std::int64_t j = 0; j < f; ++j) {
      double* row = A + (i * f + j) * n;
      for (std::int64_t r = 0; r < f; ++r) {
        const double tir = dense[i * f + r];
        if (tir == 0.0) continue;
        for (std::int64_t c = 0; c < f; ++c) row[r * f + c] = -tir * dense[j * f + c];
      }
      row[i * f + j] += 1.0;
    }
  std::memcpy(x, s.Q, sizeof(double) * std::size_t(n));
  bool singular = false;
  for (std::int64_t c = 0; c < n && !singular; ++c) {
    std::int64_t piv = c;
    double best = std::fabs(A[c * n + c]);
    for (std::int64_t r = c + 1; r < n; ++r)
      if (std::fabs(A[r * n + c]) > best) {
        best = std::fabs(A[r * n + c]);
        piv = r;
      }
    if (!(best >= kFilterTol)) {
      singular = true;
      break;
    }
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
  if (!singular) {
    for (std::int64_t c = n - 1; c >= 0; --c) {
      double acc = x[c];
      for (std::int64_t j = c + 1; j < n; ++j) acc -= A[c * n + j] * x[j];
      x[c] = acc / A[c * n + c];
    }
    // symmetrise, then test the smallest eigenvalue on a copy
    for (std::int64_t i = 0; i < f; ++i)
      for (std::int64_t j = 0; j < f; ++j) P[i * f + j] = 0.5 * (x[i * f + j] + x[j * f + i]);
    std::memcpy(dense, P, sizeof(double) * std::size_t(n));
    jacobi_eigenvalues(dense, f);
    double lo = dense[0], big = 0.0;
    for (std::int64_t i = 0; i < f; ++i) {
      lo = std::min(lo, dense[i * f + i]);
      big = std::max(big, std::fabs(dense[i * f + i]));
    }
    if (!(lo >= -kFilterTol * big)) singular = true;
  }
  if (singular) {
    std::memset(P, 0, sizeof(double) * std::size_t(n));
    for (std::int64_t i = 0; i < f; ++i) P[i * f + i] = kFallbackVariance;
  }
  return kStatusOk;
}

// Generalized inverse of the packed k x k matrix F by sweeping every pivot
// with tolerance 1e-10 |F_ii| (1e-10 itself when |F_ii| <= b), the pivots left
// over tried once more after the others; rows and columns of pivots never
// swept are zeroed.  Leaves the full inverse in g (k x k).
void generalized_inverse(double* Fp, int k, char* flags, double* work, double* tol, double* g) {
  double dmax = 0.0;
  for (int i = 0; i < k; ++i) dmax = std::max(dmax, std::fabs(Fp[packed_index(i, i)]));
  const double b = (dmax > kTinyDiag && dmax < 1.0) ? kHalfEps * dmax : kHalfEps;
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

int varma_kalman_loglik(double* loglik, double* logdet, double* quad, const double* series,
                        std::int64_t T, int k, const double* ar, int ar_count, int pmax,
                        const int* ar_lags, const double* ma, int ma_count, int qmax,
                        const int* ma_lags, const double* sigma_packed) {
  if (k < 1 || T < 0 || ar_count < 0 || ma_count < 0 || pmax < 0 || qmax < 0 ||
      (ar_count > 0 && !ar) || (ma_count > 0 && !ma) || !series || !sigma_packed)
    return kStatusRange;
  FilterPool pool;
  if (!pool.ok()) return allocation_failed();

  StateSpace s;
  s.k = k;
  s.m = std::max(pmax, qmax + 1);
  s.f = std::int64_t(k) * s.m;
  s.ar = ar;
  s.ar_count = ar_count;
  const std::int64_t f = s.f, kk = std::int64_t(k) * k, ff = f * f;
  const std::uint64_t uff = checked_mul(std::uint64_t(f), std::uint64_t(f));

  // Lag lists (1 .. count when none is given).
  int* arl = pool.get<int>(std::uint64_t(ar_count));
  int* mal = pool.get<int>(std::uint64_t(ma_count));
  if (!arl || !mal) return kStatusHostError;
  for (int i = 0; i < ar_count; ++i) arl[i] = ar_lags ? ar_lags[i] : i + 1;
  for (int i = 0; i < ma_count; ++i) mal[i] = ma_lags ? ma_lags[i] : i + 1;
  s.ar_lags = arl;

  s.R = pool.get<double>(checked_mul(std::uint64_t(f), std::uint64_t(k)));
  s.Q = pool.get<double>(uff);
  double* rs = pool.get<double>(checked_mul(std::uint64_t(f), std::uint64_t(k)));
  double* a = pool.get<double>(std::uint64_t(f));
  double* att = pool.get<double>(std::uint64_t(f));
  double* P = pool.get<double>(uff);
  double* Ptt = pool.get<double>(uff);
  double* X = pool.get<double>(uff);
  double* K = pool.get<double>(checked_mul(std::uint64_t(f), std::uint64_t(k)));
  double* Fp = pool.get<double>(std::uint64_t(packed_size(k)));
  double* G = pool.get<double>(std::uint64_t(kk));
  double* v = pool.get<double>(std::uint64_t(k));
  double* work = pool.get<double>(std::uint64_t(k));
  double* tol = pool.get<double>(std::uint64_t(k));
  char* flags = pool.get<char>(std::uint64_t(k));
  // chunk buffers of the four files: a, P, a(t|t), P(t|t)
  const std::int64_t chunk = chunk_steps(ff);
  const std::uint64_t chunk_a = checked_mul(std::uint64_t(chunk), std::uint64_t(f));
  const std::uint64_t chunk_p = checked_mul(std::uint64_t(chunk), uff);
  double* buf[4] = {pool.get<double>(chunk_a), pool.get<double>(chunk_p),
                    pool.get<double>(chunk_a), pool.get<double>(chunk_p)};
  if (!s.R || !s.Q || !rs || !a || !att || !P || !Ptt || !X || !K || !Fp || !G || !v ||
      !work || !tol || !flags || !buf[0] || !buf[1] || !buf[2] || !buf[3])
    return kStatusHostError;

  build_noise(&s, ma, ma_count, mal, sigma_packed, rs);
  if (int st = initial_covariance(s, &pool, P)) return st;

  UtilityFiles files;
  if (int st = files.create_all()) return st;
  StepWriter w_a(&files, 0, buf[0], f, chunk), w_p(&files, 1, buf[1], ff, chunk),
      w_att(&files, 2, buf[2], f, chunk), w_ptt(&files, 3, buf[3], ff, chunk);

  // a(1) = 0, P(1)
  if (int st = w_a.put(a)) return st;
  if (int st = w_p.put(P)) return st;

  for (std::int64_t t = 0; t < T; ++t) {
    const double* y = series + t * k;
    if (row_missing(y, k)) {
      // a(t|t) = a(t), P(t|t) = P(t)
      std::memcpy(att, a, sizeof(double) * std::size_t(f));
      std::memcpy(Ptt, P, sizeof(double) * std::size_t(ff));
    } else {
      // v = y - Z a (k);  F = Z P Z' (k x k, the top-left block of P)
      for (int i = 0; i < k; ++i) v[i] = y[i] - a[i];
      for (int i = 0; i < k; ++i)
        for (int j = 0; j <= i; ++j) Fp[packed_index(i, j)] = P[std::int64_t(i) * f + j];
      generalized_inverse(Fp, k, flags, work, tol, G);
      // K = P Z' F^-  (f x k): P Z' is the first k columns of P
      for (std::int64_t r = 0; r < f; ++r)
        for (int c = 0; c < k; ++c) {
          double acc = 0.0;
          for (int b = 0; b < k; ++b) acc += P[r * f + b] * G[std::int64_t(b) * k + c];
          K[r * k + c] = acc;
        }
      // a(t|t) = a + K v;  P(t|t) = P - K (Z P)   (f x f) - (f x k)(k x f)
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
    if (int st = w_att.put(att)) return st;
    if (int st = w_ptt.put(Ptt)) return st;
    if (t == T - 1) break;  // the last observation is updated, not predicted
    // a(t+1) = T a(t|t);  P(t+1) = T P(t|t) T' + Q
    transition_vec(s, att, a);
    transition_rows(s, Ptt, X);
    transition_cols(s, X, P);
    double big = 0.0;
    bool nan = false;  // a NaN anywhere counts as reaching the limit
    for (std::int64_t e = 0; e < ff; ++e) {
      P[e] += s.Q[e];
      const double x = std::fabs(P[e]);
      if (x > big)
        big = x;
      else if (x != x)
        nan = true;
    }
    if (nan || !(big < kDivergenceLimit)) return kStatusMessage;
    if (int st = w_a.put(a)) return st;
    if (int st = w_p.put(P)) return st;
  }
  for (StepWriter* w : {&w_a, &w_p, &w_att, &w_ptt})
    if (int st = w->flush()) return st;

  // Read back a(1..T), P(1..T) chunk by chunk and form the likelihood from the
  // predicted moments: F(t) = top-left k x k of P(t), v(t) = Y(t) - a(t)[0:k].
  if (int st = files.rewind(0)) return st;
  if (int st = files.rewind(1)) return st;
  double D = 0.0, S = 0.0;
  int det_status = kStatusOk;
  double* Fd = G;  // k x k scratch for the determinant
  for (std::int64_t t0 = 0; t0 < T; t0 += chunk) {
    const std::int64_t n = std::min<std::int64_t>(chunk, T - t0);
    if (int st = files.read(0, buf[0], n * f)) return st;
    if (int st = files.read(1, buf[1], n * ff)) return st;
    for (std::int64_t i = 0; i < n; ++i) {
      const double* at = buf[0] + i * f;
      const double* Pt = buf[1] + i * ff;
      const double* y = series + (t0 + i) * k;
      for (int r = 0; r < k; ++r)
        for (int c = 0; c < k; ++c) Fd[r * k + c] = Pt[std::int64_t(r) * f + c];
      double det = 0.0;
      det_status = lu_determinant(Fd, k, work, &det);
      D += floored_log_det(Fd, k, det, kDetFloor);
      const bool miss = row_missing(y, k);
      for (int r = 0; r < k; ++r) v[r] = miss ? 0.0 : y[r] - at[r];
      if (det > kDetFloor) {
        for (int r = 0; r < k; ++r)
          for (int c = 0; c <= r; ++c) Fp[packed_index(r, c)] = Pt[std::int64_t(r) * f + c];
        if (sweep_inverse(Fp, k, flags, work) < k) return fail_message(kMsgSingular);
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
  }
  if (int st = files.close_all()) return st;
  *logdet = D;
  *quad = S;
  *loglik = -(D + S) / 2.0;
  return det_status;
}

}  // namespace mvtsa
