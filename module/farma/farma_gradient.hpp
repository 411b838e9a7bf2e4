// Gradients of the ARFIMA log-likelihoods of farma_loglik with respect to d
// and the coefficients of the AR and MA polynomials, for the fits.
//
// Conditional method.  With u = (1 - B)^d y (u_0 = 0), a(B) = 1 + a_1 B + ...
// (a_j = -phi_j) and theta*(B) = 1 + theta*_1 B + ... (theta*_j = -theta_j),
// the residuals are e = theta*(B)^-1 a(B) u, every filter started from zeros,
// and L = -(n - m)/2 ln(S / (n - m)), S = sum_{t>=m} e_t^2.  Then
//   dL/dx = -((n - m) / S) sum_{t>=m} e_t de_t/dx,
//   de/dd        = theta*(B)^-1 a(B) du/dd,  du_t/dd = sum_j v_j y_(t-j),
//   de/da_k      =  B^k theta*(B)^-1 u,
//   de/dtheta*_k = -B^k theta*(B)^-1 e,
// v_j = dw_j/dd the derivatives of the binomial weights (frac_diff_weights,
// digamma terms), convolved like the weights themselves: one more FFT.
// For d <= -1/2 the value differences the running sum of y with d + 1, and
// so does the derivative.
//
// Exact method.  With Sigma = [gamma(|i - j|)] and alpha = Sigma^-1 y,
//   d ln det Sigma / dx = tr(Sigma^-1 dSigma) = sum_k w_k t_k dgamma(k)/dx,
//   d(y' Sigma^-1 y)/dx = -alpha' dSigma alpha = -sum_k w_k c_k dgamma(k)/dx,
// w_0 = 1, w_k = 2, t_k the sums of Sigma^-1 along its k-th diagonal and
// c_k = sum_i alpha_i alpha_(i+k).  Sigma^-1 comes from the Durbin-Levinson
// predictor of order n - 1 that the value leaves behind, by the
// Gohberg-Semencul formula (Gohberg and Semencul 1972; Kailath, Vieira and
// Morf 1978): Sigma^-1 = (L(a) L(a)' - L(b) L(b)') / v_(n-1), so that alpha,
// c and t are nine FFT convolutions of length n.  dgamma/dd and
// dgamma/dtheta*_k come from Sowell's formula (arfima_autocov_grad.hpp);
// dgamma/da_k from gamma itself: with x = a(B)^-1 w, dx/dphi_k =
// a(B)^-1 B^k x, so dgamma(s)/dphi_k = delta(s + k) + delta(k - s) with
// delta(h) = cov(z_t, x_(t+h)), z = a(B)^-1 x, which satisfies
// delta(h) = gamma(h) + sum_j phi_j delta(h + j) and is run downwards from
// far beyond the series.  So the cost beyond the value's O(n^2) is
// O((n + M) (p + q) + n log n), whatever the number of parameters.
#pragma once

#include <cstdint>

namespace mvtsa {

// A term of the gradient left out, for the tests that show that the
// comparison with differences catches a fault of that kind.
enum class FarmaGradientDrop {
  kNone,
  kMaFeedback,  // conditional: theta*(B)^-1 left out of de/dx
  kTrace,       // exact: d ln det Sigma set to 0
};

// Doubles of work space for farma_loglik_gradient (farma_loglik's included).
std::uint64_t farma_gradient_work_size(std::int64_t n, int p, int q, int method);

// The log-likelihood of farma_loglik (the same value, bit for bit, in
// work[0], and work[1], work[2] as there) and its derivatives in the
// polynomial coefficients, ordered d, a_j (j = 1..p), theta*_j (j = 1..q)
// (dL/dphi_j = -dL/da_j):
//   conditional: grad holds dL/dx, 1 + p + q values;
//   exact: grad holds d ln det Sigma / dx and then d(y' Sigma^-1 y)/dx,
//     2 (1 + p + q) values; NaN where they are not formed: the derivatives
//     in d where d is within 2^-26.5 of 0 (the value's ARMA path: the
//     others then come from the ARMA autocovariances), and all of them
//     with an AR root so near the unit circle that delta would need more
//     than 8192 further lags or a gamma-function failure in the derivatives.
// Returns farma_loglik's code (or 398 when cancelled); grad is set only
// when that is 0.
int farma_loglik_gradient(double* work, const double* y, std::int64_t n, double d, int p, int q,
                          const double* ar, const double* ma, double sigma2, int method,
                          double* grad, FarmaGradientDrop drop = FarmaGradientDrop::kNone);

}  // namespace mvtsa
