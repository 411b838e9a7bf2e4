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
#pragma once

#include <cstdint>

namespace mvtsa {

// A term of the gradient left out, for the tests that show that the
// comparison with differences catches a fault of that kind.
enum class FarmaGradientDrop {
  kNone,
  kMaFeedback,  // conditional: theta*(B)^-1 left out of de/dx
};

// Doubles of work space for farma_loglik_gradient (farma_loglik's included).
std::uint64_t farma_gradient_work_size(std::int64_t n, int p, int q, int method);

// The log-likelihood of farma_loglik (the same value, bit for bit, in
// work[0], and work[1], work[2] as there) and its gradient in grad:
// 1 + p + q values, dL/dd, dL/da_j (j = 1..p), dL/dtheta*_j (j = 1..q), in
// the polynomial coefficients (dL/dphi_j = -dL/da_j).  Returns farma_loglik's
// code; grad is set only when that is 0.
int farma_loglik_gradient(double* work, const double* y, std::int64_t n, double d, int p, int q,
                          const double* ar, const double* ma, double sigma2, int method,
                          double* grad, FarmaGradientDrop drop = FarmaGradientDrop::kNone);

}  // namespace mvtsa
