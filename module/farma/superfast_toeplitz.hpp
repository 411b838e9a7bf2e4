// ln det Sigma and y' Sigma^-1 y for the n x n symmetric positive definite
// Toeplitz matrix Sigma = [gamma(|i - j|)] in O(n log^2 n) operations and
// O(n) memory: the superfast route of the exact likelihood beside the
// Durbin-Levinson recursion (durbin_levinson.hpp, O(n^2)).
//
// Reflection coefficients by the generalised Schur algorithm run as a
// doubling (divide-and-conquer) recursion (Brent, Gustavson and Yun 1980;
// Ammar and Gragg 1988).  With a_m(z) = 1 - sum_j phi_(m,j) z^j the
// predictor of order m, the Schur generators are the correlations of the
// forward and backward prediction errors with the series,
//   E_m(i) = sum_j a_(m,j) gamma(m + 1 + i - j),
//   F_m(i) = sum_j a_(m,m-j) gamma(m + i - j),   i >= 0,
// E_0(i) = gamma(i + 1), F_0(i) = gamma(i), and one step is
//   kappa_(m+1) = E_m(0) / F_m(0)   (F_m(0) = v_m),
//   E_(m+1)(i) = E_m(i + 1) - kappa F_m(i + 1),  F_(m+1)(i) = F_m(i) - kappa E_m(i),
// that is (z^(j+1) E_(m+j+1), z^(j+1) F_(m+j+1)) = T(kappa) (z^j E_(m+j), z^j F_(m+j))
// with T(kappa) = [1, -kappa; -kappa z, z].  The product of k steps is
//   M = [A, B; z^k B(1/z), z^k A(1/z)],  deg A, deg B <= k - 1,
// and depends on the first k values of each generator only.  So k steps
// are the first h = k/2 steps, the generators moved on by M_1 (coefficients
// h..k-1 of A_1 E + B_1 F and of rev_h(B_1) E + rev_h(A_1) F: cyclic
// products of length N >= k, whose wrap-around falls below h), the other
// k - h steps, and M = M_2 M_1; below kSchurLeaf steps the plain recursion
// runs.  Every product is a real FFT of length N = 2^j, 3 2^j or 5 2^j >= k
// (fft_convolve.hpp's plans): T(k) = 2 T(k/2) + O(k log k).
//
// At the root (k = n - 1) the predictor of order n - 1 is a = A + z B, and
//   v_0 = gamma(0),  v_t = v_(t-1) (1 - kappa_t) (1 + kappa_t),  ln det Sigma = sum ln v_t,
// with the Durbin-Levinson pass's pivot rules on v_t (toeplitz_filter.hpp:
// 178 at the first |v_t| not above 2^-26.5 gamma(0), else 315 when some v_t
// is not above 100 x 2^-53 gamma(0)).  Then by Gohberg and Semencul (1972)
//   Sigma^-1 = (L(a) L(a)' - L(b) L(b)') / v_(n-1),  b = (0, a_(n-1), ..., a_1),
// L(x) lower triangular Toeplitz with first column x: x = Sigma^-1 y in six
// FFTs of length N >= 2n - 1 (those of a and b made once), the residual
// r = Sigma x - y by one circulant product (three more), and
//   y' Sigma^-1 y = y' x - x' r        (the error of x enters squared).
//
// The route is weakly stable only (its error grows with the generators and
// with Sigma's condition).  It checks itself and declines (kSuperfastDeclined:
// the caller then runs Durbin-Levinson) when
//   - a generator entering a leaf exceeds kGeneratorGrowth gamma(0) (in exact
//     arithmetic |E_m(i)|, |F_m(i)| <= sqrt(v_m gamma(0)) <= gamma(0));
//   - the Yule-Walker residual of the predictor, ||Sigma a - v_(n-1) e_0||_2
//     / v_(n-1), exceeds kPredictorTol;
//   - the remaining error of the quadratic form, estimated as r' Sigma^-1 r
//     (one more Gohberg-Semencul solve), exceeds kQuadTol (|q| + |ln det|);
//   - FFTW makes no plan.
// Measured (bench/superfast_toeplitz.md, tests/farma/superfast_toeplitz_test.cpp):
// over d in (-0.49, 0.49) with AR roots up to 0.99, complex pairs and MA
// roots up to 0.99, the log-likelihood within 6.8e-10 relative of
// Durbin-Levinson's and 3.5e-10 of long double Durbin-Levinson for
// n = 4096 .. 2e4 where the route does not decline (1 of 168; 5 of 84 at
// 1e5, 8 of 84 at 1e6: d >= 0.4 with a root of 0.9 .. 0.99, where double
// Durbin-Levinson itself is off by up to 1e-9).  Time at n = 1e6: 2.2 s;
// work 106 MB.
#pragma once

#include <cstdint>

namespace mvtsa {

// Steps below which the doubling recursion runs the plain Schur recursion.
inline constexpr std::int64_t kSchurLeaf = 64;

// Nodes of this many steps and more work in four transforms' room and make
// M_1's four transforms again for M = M_2 M_1 rather than hold them through
// the second half (at n = 1e6 that saves 55 MB for some 10% more time).
inline constexpr std::int64_t kKeepTransformsBelow = std::int64_t(1) << 15;

// The route's self-checks (see above).
inline constexpr double kGeneratorGrowth = 1.0 + 0x1p-20;
inline constexpr double kPredictorTol = 0x1p-27;  // 7.5e-9
inline constexpr double kQuadTol = 0x1p-36;       // 1.5e-11

// The superfast route's answer when its checks fail: not a status.
inline constexpr int kSuperfastDeclined = -1;

// Doubles of work space for toeplitz_superfast over n values (n >= 2).
std::uint64_t superfast_work_size(std::int64_t n);

// What the checks measured, for the tests and the benchmarks.
struct SuperfastChecks {
  double generator_growth = 0.0;    // max |generator| at a leaf / gamma(0)
  double predictor_residual = 0.0;  // ||Sigma a - v e_0||_2 / v
  double quad_error = 0.0;          // |r' Sigma^-1 r| / (|q| + |ln det|)
};

// ln det Sigma and y' Sigma^-1 y as above (n >= 2); with a status the
// statuses of toeplitz_loglik (178, 315, 398), or kSuperfastDeclined.  On
// 0, work[0..n) holds the predictor as the Durbin-Levinson pass leaves it
// (phi_(n-1,j) at work[n - j], j = 1..n-1) and *last_pivot v_(n-1); when
// the route declines after its pivots passed, the three hold the values it
// did not vouch for (for the measurements).  checks may be null.
int toeplitz_superfast(const double* gamma, const double* y, std::int64_t n, double* work,
                       double* logdet, double* quad, double* last_pivot,
                       SuperfastChecks* checks = nullptr);

// The same with the mean of y profiled out at its GLS value, as
// toeplitz_loglik_gls forms it (farma_loglik.hpp):
//   mu = (1' Sigma^-1 y) / (1' Sigma^-1 1),  quad = (y - mu 1)' Sigma^-1 (y - mu 1),
// the two forms of mu to second order in the solves' errors (u' x - x_u' r
// with r the residual of x), then the quadratic form as above.  Statuses as
// toeplitz_superfast, and 315 when 1' Sigma^-1 1 is not positive.  work:
// superfast_gls_work_size(n) doubles.
std::uint64_t superfast_gls_work_size(std::int64_t n);
int toeplitz_superfast_gls(const double* gamma, const double* y, std::int64_t n, double* work,
                           double* logdet, double* quad, double* mean,
                           SuperfastChecks* checks = nullptr);

// The reflection coefficients kappa_1..kappa_(n-1) (kappa[0] = 0) and the
// predictor a (n values, a_0 = 1) by the doubling recursion alone (n >= 2);
// work: schur_work_size(n) doubles.  0, 398 when cancelled, or
// kSuperfastDeclined when FFTW makes no plan; *growth as above.
std::int64_t schur_work_size(std::int64_t n);
int schur_doubling(const double* gamma, std::int64_t n, double* kappa, double* a, double* work,
                   double* growth);

}  // namespace mvtsa
