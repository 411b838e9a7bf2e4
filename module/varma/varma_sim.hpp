// VARMA simulation kernels: the recursion, the covariance of the
// pre-sample vector, and the whitening and colouring of the draws.
//
// Model (Gamma, Psi and the block layout as in varma_autocov.hpp):
//   y_t = e_t - sum_{j=1..q} Theta_j e_{t-j} + sum_{i=1..p} Phi_i y_{t-i},  E[e_t e_t'] = S.
#pragma once

#include <cstdint>

namespace mvtsa {

// Runs the recursion for series rows first .. last-1 of y (k doubles a row):
//   y_r = e_{r+off} - sum_j Theta_j e_{r+off-j} + sum_i Phi_i y_{r-i}
// (MA terms first, then AR terms, each in increasing lag), where e is the
// innovation history (row r+off belongs to series row r).  Rows r-p .. r-1
// of y and rows r+off-q .. r+off of e must exist.  e may be y itself (with
// off = 0) when q = 0: the recursion then transforms the drawn rows in place.
// With check_overflow, stops after the first row holding an element of
// absolute value above 2^512 / 100 and returns the number of rows completed
// before it; otherwise returns last - first.
std::int64_t varma_recursion(double* y, const double* e, std::int64_t off, std::int64_t first,
                             std::int64_t last, const double* phi, int p, const double* theta,
                             int q, int k, bool check_overflow);

// Packed covariance (dimension k (p+q)) of the stacked pre-sample vector
// w = (y_{1-p}, .., y_0, e_{1-q}, .., e_0):
//   E[y_s y_s'']  = Gamma(s''-s)  (Gamma(-h) = Gamma(h)'),
//   E[e_r e_r'']  = S when r = r'', else 0,
//   E[y_s e_r']   = Psi_{s-r} S for s >= r, else 0.
// gam: Gamma(0) .. Gamma(p-1); psi: Psi_0 .. Psi_{q-1}; sigma: full S;
// work: max(q, 1) blocks (Psi_d S).
void varma_presample_cov(double* packed, const double* gam, const double* psi,
                         const double* sigma, int p, int q, int k, double* work);

// Replaces each of the `count` vectors z (k doubles each, drawn with
// covariance L L', L the packed Cholesky factor of S) by L^-1 z, which has
// identity covariance.  Zero diagonal elements of L leave their component 0.
void whiten_draws(double* z, std::int64_t count, const double* packed_l, int k);

// w := F w for the packed lower-triangular F of order n (in place).
void lower_packed_times(const double* f, std::int64_t n, double* w);

}  // namespace mvtsa
