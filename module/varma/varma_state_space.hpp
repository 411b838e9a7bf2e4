// The state-space form of the VARMA model that the Kalman filter runs on,
// and the products with its transition that the filter and the gradient of
// its likelihood take.
//
// With m = max(pmax, qmax + 1) blocks of k, f = k m:
//   state(t+1) = T state(t) + R e(t+1),   Y(t) = Z state(t),   Z = [I 0 ... 0]
// The state holds Y(t) and its forecasts for the next m - 1 steps.  T has
// identity blocks on the block super-diagonal and Phi_l at block
// (m-1, m-l); R = [Psi_0; ...; Psi_{m-1}] holds the first m MA(infinity)
// weights; Q = R Sigma R'.
#pragma once

#include <cstdint>

namespace mvtsa {

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

// The last k rows of X = T A for an f x f matrix A (row-major), into last
// (k x f); the other rows of X are the block rows of A shifted up, X row r =
// A row r + k, and are read in place.
void transition_last_rows(const StateSpace& s, const double* A, double* last);

// The last k elements of the row y = x T' for a row x (f); the other
// elements are x shifted left, y[c] = x[c + k].
void transition_last_cols(const StateSpace& s, const double* x, double* last);

// a' = T a for an f-vector.
void transition_vec(const StateSpace& s, const double* a, double* out);

// R (f x k) and Q = R Sigma R' (f x f) into s->R and s->Q; s->R must hold
// zeros on entry.  `rs` holds f k doubles of work.
void build_noise(StateSpace* s, const double* ma, int ma_count, const int* ma_lags,
                 const double* sigma_packed, double* rs);

// The dense f x f transition T.
void dense_transition(const StateSpace& s, double* Tm);

}  // namespace mvtsa
