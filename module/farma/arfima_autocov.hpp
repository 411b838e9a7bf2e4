// Autocovariances of a stationary ARFIMA(p, d, q) process
//   phi(B) (1 - B)^d y_t = theta(B) eps_t,   var(eps_t) = 1,
// by Sowell's hypergeometric-series method over the roots rho_j of the AR
// polynomial (the zeros of z^p - phi_1 z^(p-1) - ... - phi_p), and of the
// ARMA(p, q) process (d = 0) by the linear equations of its first p + 1
// autocovariances.
//
// Sowell's method (F. Sowell, "Maximum likelihood estimation of stationary
// univariate fractionally integrated time series models", J. Econometrics 53
// (1992) 165-188), for distinct AR roots:
//   gamma(s) = K sum_{l=-q..q} psi(l) G(p + l - s),
//   G(h) = [Gamma(d + h) / Gamma(1 - d + h)] sum_j zeta_j C(d, h, rho_j),
//   C(d, h, rho) = rho^(2p) F(d + h, 1 - d + h, rho) + F(d - h, 1 - d - h, rho) - 1,
// with K, psi and zeta_j as in arfima_autocov.cpp and F the series below.
// Tested (tests/farma/arfima_autocov_test.cpp): fractional noise within
// 1e-12 relative of its closed form to lag 1000; ARFIMA(p, d, q) with AR
// roots up to modulus 0.95 within 1e-10 gamma(0) of a truncated
// MA(infinity) sum over fractional noise, to lag 1000.
#pragma once

#include <complex>
#include <cstdint>

#include "module/frame/status.hpp"  // kStatusNonstationary, kStatusGammaFailed

namespace mvtsa {

// The series F(a, c, rho) sums at least this many terms after the leading 1.
inline constexpr int kHyperMinTerms = 30;
// and at most this many: enough for every |rho| below about 1 - 5e-5.
inline constexpr std::int64_t kHyperMaxTerms = std::int64_t(1) << 20;

// F(a, c, rho) = 1 + sum_{k>=1} rho^k prod_{i=0..k-1} (a + i) / (c + i) for
// 0 < c - a < 2 (c = 1 - d + h, a = d + h with |d| < 1/2) and |rho| < 1:
// summed term by term (term_k = term_(k-1) rho (a + k - 1) / (c + k - 1))
// until the remaining tail, bounded by a geometric series in |rho|, cannot
// change the sum in double precision; never fewer than 30 terms.
double hyper_series(double a, double c, double rho);
std::complex<double> hyper_series(double a, double c, std::complex<double> rho);

// C(d, h, rho) = rho^(2p) F(d + h, 1 - d + h, rho) + F(d - h, 1 - d - h, rho) - 1,
// rho^(2p) by 2p successive multiplications (1 when p = 0).
double hyper_c_real(double d, std::int64_t h, double rho, int p);
std::complex<double> hyper_c_complex(double d, std::int64_t h, std::complex<double> rho, int p);

// F(d + x, 1 - d + x, rho) for x = -X..X into F[0 .. 2X] (F[x + X]), X >= 0:
// hyper_series at x = X, then one step per shift downwards,
// F(a, c, rho) = 1 + rho (a / c) F(a + 1, c + 1, rho), stable in that
// direction.  C(d, h, rho) = rho^(2p) F[X + h] + F[X - h] - 1 for |h| <= X
// gives what hyper_c_real and hyper_c_complex sum anew for each h.
void hyper_table_real(double d, double rho, std::int64_t X, double* F);
void hyper_table_complex(double d, std::complex<double> rho, std::int64_t X,
                         std::complex<double>* F);

// R(h) = Gamma(d + h) / Gamma(1 - d + h) for h = hlo..hhi into R[h - hlo].
// Both gammas by gamma_eval where both succeed; where either overflows
// (|h| beyond about 170) by the recursion R(h + 1) = R(h) (d + h) / (1 - d + h)
// from the neighbour nearer h = 0, so that only a ratio that is itself not
// finite fails.  Returns 0 or 315.
int gamma_ratio_table(double d, std::int64_t hlo, std::int64_t hhi, double* R);

// Doubles of work space for arma_autocov: the (p + 1) x (p + 1) system,
// its right-hand side and row scales, and the weights pi.
std::int64_t arma_autocov_work_size(int p, int q);

// ARMA(p, q) autocovariances for unit innovation variance.  ar: a_0 = 1,
// a_j = -phi_j (p + 1 values); ma: theta*_0 = 1, theta*_j = -theta_j.
// Writes gamma(0..p), c_k = sum_j theta*_j theta*_(j+k) and
// r_k = sum_j theta*_(j+k) pi_j (k = 0..q; pi the psi-weights).  When the
// linear system is singular gamma(0) is set to -1.
void arma_autocov(int p, int q, const double* ar, const double* ma, double* gamma, double* c,
                  double* r, double* work);

// Doubles of work space for arfima_autocov up to lag L: with p > 0 about
// 6 (L + q) for the gamma ratios, the root sums and one complex table.
std::int64_t arfima_autocov_work_size(int p, int q, std::int64_t lag);

// Sowell's weights of the p AR roots rho_j (pairs as for arfima_autocov):
//   zeta_j = 1 / [rho_j prod_{i=1..p} (1 - rho_i rho_j) prod_{m != j} (rho_j - rho_m)]
// into zeta (p complex values, imaginary parts 0 for real roots), the
// product gathered with a separate power of two so that its partial
// products stay in range for many roots near the unit circle (an AR lag of
// 2000); where they stay in range anyway the bits are those of the plain
// product.
void sowell_weights(const double* roots, int p, bool complex_roots, double* zeta);

// The root sums of Sowell's method, S(h) = sum_j Re(zeta_j C(d, h, rho_j))
// for h = hlo..hhi (|h| <= X) into S, by one of two routes.
//
// sowell_root_sums: one table of F(d + x, 1 - d + x, rho_j) over
// x = -X..X per root (hyper_table_real or _complex), weights zeta from
// sowell_weights.  F: 2 (2X + 1) doubles.  Returns 0, or kMsgCancelled when
// the host says the call has been cancelled (asked between roots).
int sowell_root_sums(double d, const double* roots, const double* zeta, int p, bool complex_roots,
                     std::int64_t X, std::int64_t hlo, std::int64_t hhi, double* S, double* F);

// sowell_grouped_sums: for an AR polynomial in B^g alone (g > 1 the gcd of
// the lags of its non-zero coefficients), phi(B) = Q~(B^g), whose roots come
// in groups: each zero w_i of the reduced polynomial Q(w) = w^(p/g) +
// a_g w^(p/g - 1) + ... + a_p (poly_zeros) gives the g roots
// rho = w_i^(1/g) e^(2 pi i l / g).  Their Sowell weights are all
// zeta~_i / g, zeta~_i the weight of w_i among the zeros of Q, and
// rho^(2p) = w_i^(2p/g), so the group's sum needs only the powers of rho
// that are multiples of g:
//   sum_l zeta_l F(a, c, rho_l) = zeta~_i H(x),  H(x) = sum_n c_(g n)(x) w_i^n,
// c_k(x) the coefficients of F(d + x, 1 - d + x, .), and
//   S(h) = sum_i Re(zeta~_i (w_i^(2p/g) H(h) + H(-h) - 1)).
// H is carried down from x = X for the g residues of the power at once,
// U_0(x) = 1 + f(x) w U_(g-1)(x + 1), U_r(x) = f(x) U_(r-1)(x + 1),
// f(x) = (d + x) / (1 - d + x): one series and O(g X) steps per group where
// the per-root route takes g series and g tables, and a series whose terms
// fall with |w| rather than |w|^(1/g).  work: sowell_grouped_work_size(p, X)
// doubles.  Returns 0, kMsgCancelled, or kSowellNotGrouped when the zeros
// of Q were not all found (the per-root route is then the one to take).
inline constexpr int kSowellNotGrouped = -1;
std::int64_t sowell_grouped_work_size(int p, std::int64_t X);
int sowell_grouped_sums(double d, const double* ar, int p, int g, std::int64_t X,
                        std::int64_t hlo, std::int64_t hhi, double* S, double* work);

// gamma(0..lag) of ARFIMA(p, d, q) for unit innovation variance.  roots
// holds the p AR roots as (real, imaginary) pairs, distinct and inside the
// unit circle (the caller has checked); complex_roots says whether any has
// a non-zero imaginary part.  |d| <= 2^-26.5 takes the ARMA path.  The
// root sums go by sowell_grouped_sums when the lags of the non-zero AR
// coefficients have a gcd above 1, by sowell_root_sums otherwise.
// Returns 0, 390 (ARMA path: the system gave gamma(0) < 0), 315 (a
// gamma-function evaluation failed) or 398 (the host says the call has been
// cancelled; asked between the roots' tables).
int arfima_autocov(double* gamma, std::int64_t lag, double d, int p, int q, const double* ma,
                   const double* ar, const double* roots, bool complex_roots, double* work);

}  // namespace mvtsa
