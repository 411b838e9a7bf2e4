#include "module/varma/varma_state_space.hpp"

#include <cstring>

#include "module/linalg/covariance.hpp"

namespace mvtsa {

// The last k rows of X = T A for an f x f matrix A (row-major), into last
// (k x f): sum_l Phi_l (block row m-l of A), added term by term over the
// lags and the non-zero coefficients.  The other rows of X are the block
// rows of A shifted up, X row r = A row r + k, and are read in place.
void transition_last_rows(const StateSpace& s, const double* A, double* last) {
  const std::int64_t f = s.f, k = s.k, m = s.m;
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

// The last k elements of the row y = x T' for a row x (f): sum_l (block m-l
// of x) Phi_l', each lag's k-term product summed first.  The other elements
// are x shifted left, y[c] = x[c + k].
void transition_last_cols(const StateSpace& s, const double* x, double* last) {
  const std::int64_t k = s.k, m = s.m;
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

// The dense f x f transition T: identity blocks on the block super-diagonal,
// the sum of the Phi_l at block (m-1, m-l).
void dense_transition(const StateSpace& s, double* Tm) {
  const std::int64_t f = s.f, k = s.k, m = s.m;
  std::memset(Tm, 0, sizeof(double) * std::size_t(f * f));
  for (std::int64_t i = 0; i + k < f; ++i) Tm[i * f + i + k] = 1.0;
  for (int i = 0; i < s.ar_count; ++i) {
    const std::int64_t l = s.ar_lags[i];
    if (l < 1 || l > m) continue;
    const double* phi = s.ar + std::int64_t(i) * k * k;
    double* block = Tm + (m - 1) * k * f + (m - l) * k;  // block (m-1, m-l)
    for (std::int64_t r = 0; r < k; ++r)
      for (std::int64_t c = 0; c < k; ++c) block[r * f + c] += phi[r * k + c];
  }
}

}  // namespace mvtsa
