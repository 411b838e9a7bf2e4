// Gaussian log-likelihood of a series under an ARFIMA(p, d, q) model
//   phi(B) (1 - B)^d y_t = theta(B) eps_t,  var(eps_t) = sigma^2,
// by the exact method (the n x n Toeplitz covariance matrix) or the
// conditional sum of squares method.  Shared by FARMALIK and FARMAFIT.
//
// Use:
//   WorkBlock<double> w(farma_loglik_work_size(n, p, q, method));
//   if (!w) return w.status();
//   int code = farma_loglik(w.data(), y, n, d, p, q, ar, ma, sigma2, method);
//   // code 0: w[0] = log-likelihood, w[1] = ln det Sigma, w[2] = y' Sigma^-1 y
//   // (w[1], w[2] missing for the conditional method); else 178, 315, 373, 390.
//   // The conditional method leaves u = (1 - B)^d y (u_0 = 0) in w[3 .. 3+n)
//   // and the residuals e in w[3+n .. 3+2n).
#pragma once

#include <cstdint>

namespace mvtsa {

inline constexpr int kFarmaCss = 0;    // conditional sum of squares
inline constexpr int kFarmaExact = 1;  // exact method
// The exact method at the GLS mean of y (profiled): results
// (-(q + ln det)/2, ln det Sigma, q, mu) with
// mu = (1' Sigma^-1 y) / (1' Sigma^-1 1) and q = (y - mu 1)' Sigma^-1 (y - mu 1).
inline constexpr int kFarmaExactGls = 2;

// Doubles of work space farma_loglik needs (the three results included):
//   exact: 3 + n (gamma) and toeplitz_loglik's room, plus the
//   autocovariance routine's and the root finder's room, O(n + p + q);
//   exact at the GLS mean: one result and 2n more;
//   conditional: 3 + 2n + frac_diff_work_size(n).
// Computed in 64 bits; a size no host can give makes the allocation fail.
std::uint64_t farma_loglik_work_size(std::int64_t n, int p, int q, int method);

// ln det Sigma and q_y = y' Sigma^-1 y for the n x n Toeplitz matrix
// Sigma = [gamma(|i - j|)], by one of two routes chosen by n alone:
//   n < kSuperfastFrom: the Durbin-Levinson prediction-error decomposition
//     (module/farma/durbin_levinson.hpp): ln det Sigma = sum ln v_t,
//     q_y = sum e_t^2 / v_t, in O(n^2) operations;
//   n >= kSuperfastFrom: the doubling Schur recursion and Gohberg-Semencul
//     (superfast_toeplitz.hpp), O(n log^2 n), which falls back on the
//     Durbin-Levinson route where its own checks say that it may be off by
//     more than about 1e-10 relative (route then kSuperfastDeclined).
// The same n takes the same route, so that a call gives the same bits
// wherever it runs.  work: toeplitz_loglik_work_size(n) doubles.  The pivot
// v_t is the value that sweeping pivots 0..t-1 of Sigma leaves at t, and
// the rules are those of sweeping every pivot with the tolerance
// 2^-26.5 gamma(0) and then factoring Sigma = L L' by rows with the
// tolerance 100 x 2^-53 (kHundredRoundoffTol), on either route:
//   178 at the first t with |v_t| not above 2^-26.5 gamma(0) (the sweep stops
//       short of n pivots);
//   otherwise 315 when some v_t is not above 100 x 2^-53 (a zero diagonal in L,
//       a determinant that is not positive);
//   otherwise 0;
//   398 (kMsgCancelled) when the host says the call has been cancelled (asked
//       every 1024 pivots).
// Agrees with the dense sweep and factorisation to 2.3e-11 relative or
// better for n <= 500 and |d| <= 0.49 with AR roots up to modulus 0.95;
// where Sigma's condition number reaches 1e7 .. 1e9 (d = 0.49 with an AR
// root of 0.95) both lose up to 1e-8 (tests/farma/farma_loglik_test.cpp).
// With last_pivot, also v_(n-1) there; work then holds the predictor of
// order n - 1 as levinson_step leaves it (phi_(n-1,j) at work[n - j]).
enum class ToeplitzRoute { kDurbinLevinson, kSuperfast, kSuperfastDeclined };
// The crossover, measured (bench/superfast_toeplitz.md).
inline constexpr std::int64_t kSuperfastFrom = 2048;
std::uint64_t toeplitz_loglik_work_size(std::int64_t n);
int toeplitz_loglik(const double* gamma, const double* y, std::int64_t n, double* work,
                    double* logdet, double* quad, double* last_pivot = nullptr,
                    ToeplitzRoute* route = nullptr);

// The Durbin-Levinson route alone (whatever n); work: levinson_work_size(n).
int toeplitz_loglik_levinson(const double* gamma, const double* y, std::int64_t n, double* work,
                             double* logdet, double* quad, double* last_pivot = nullptr);

// The same with the mean of y profiled out at its GLS value, on the
// Durbin-Levinson route (the exact method at the GLS mean takes
// toeplitz_superfast_gls from n = kSuperfastFrom, this where that declines):
// with a_t and
// b_t the standardised innovations of y and of the ones vector (std_y,
// std_one: n doubles each, both written; 0 at a pivot the rules leave out),
//   mu = sum a_t b_t / sum b_t^2,  quad = sum (a_t - mu b_t)^2,
// both from the one pass (the ones vector's innovations follow from the
// reflection coefficients: e1_t = (1 - kappa_t) e1_(t-1)).  Statuses as
// toeplitz_loglik, and 315 when sum b_t^2 is not positive.
int toeplitz_loglik_gls(const double* gamma, const double* y, std::int64_t n, double* work,
                        double* std_y, double* std_one, double* logdet, double* quad,
                        double* mean);

// Doubles of work space for farma_model_gamma up to lag `lag`.
std::uint64_t farma_model_gamma_work_size(std::int64_t lag, int p, int q);

// gamma(0..lag) of the ARFIMA(p, d, q) model with innovation variance sigma2
// (ar, ma as for farma_loglik): the AR roots (notes 88 and 89 from the root
// finder; 390 for a root of modulus >= 1, 373 for two equal roots), then
// arfima_autocov (|d| <= 2^-26.5 is the ARMA model), then the scaling;
// subnormal values (below 2^-1022) are set to 0.  Returns 0 or the failing
// code.
int farma_model_gamma(double* gamma, std::int64_t lag, double d, int p, int q, const double* ar,
                      const double* ma, double sigma2, double* work);

// The conditional method's filter: e_t (n values into e) as described for
// farma_loglik below, the values before the start 0 and u_0 = 0.  work:
// farma_loglik_work_size(n, p, q, kFarmaCss) doubles; e: n doubles at
// work + 3 + n (where farma_loglik keeps them) or outside work.  315 when
// some partial e_t reaches 2^512.
int farma_css_residuals(double* work, const double* y, std::int64_t n, double d, int p, int q,
                        const double* ar, const double* ma, double* e);

// y: n values, used as given (no mean removed).  ar: p + 1 values, a_0 = 1,
// a_j = -phi_j; ma: q + 1 values, theta*_0 = 1, theta*_j = -theta_j.
// sigma2 is used by the exact method only.
//
// Exact method: the AR roots (notes 88 and 89 from the root finder; a root
// of modulus >= 1 returns 390, two equal roots 373), gamma(0..n-1) from
// arfima_autocov times sigma^2, then toeplitz_loglik; results
// (-(q_y + ln det)/2, ln det, q_y).
//
// Conditional method: u = (1 - B)^d y with u_0 = 0; e_t = u_t - sum phi_j
// u_(t-j) + sum theta_j e_(t-j) (values before the start are 0); with
// m = max(p, q) < n, S = sum_{t=m..n-1} e_t^2; result -(n - m)/2 ln(S/(n - m)).
// 315 for e_t >= 2^512, S reaching 2^512, S <= 0, m >= n or a gamma failure.
int farma_loglik(double* work, const double* y, std::int64_t n, double d, int p, int q,
                 const double* ar, const double* ma, double sigma2, int method);

}  // namespace mvtsa
