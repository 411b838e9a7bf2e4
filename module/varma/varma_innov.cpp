// Multivariate innovations algorithm (Brockwell and Davis, section 11.4)
// on the AR-filtered process W(t), for the exact VARMA likelihood.
#include "module/varma/varma_innov.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/frame/host.hpp"
#include "module/frame/sizes.hpp"
#include "module/linalg/block_ops.hpp"
#include "module/linalg/covariance.hpp"
#include "module/linalg/lu.hpp"
#include "module/linalg/sweep_inverse.hpp"

namespace mvtsa {
namespace {

// Blocks of Theta(n, j) kept: rows 1 .. min(m, T) - 1 in full (n blocks
// each), rows m .. T-1 with qmax blocks each.
std::uint64_t theta_blocks(std::int64_t T, std::int64_t m, std::int64_t qmax) {
  const std::int64_t mm = std::min(m, T);
  const std::uint64_t tri = mm >= 1 ? std::uint64_t((mm - 1) * mm / 2) : 0;
  const std::uint64_t rest = checked_mul(std::uint64_t(std::max<std::int64_t>(0, T - m)),
                                         std::uint64_t(qmax));
  return checked_add(tri, rest);
}

// Small k x k block products, row-major.
struct Blocks {
  std::int64_t k;
  // out = a b
  void mul(const double* a, const double* b, double* out) const {
    for (std::int64_t i = 0; i < k; ++i)
      for (std::int64_t j = 0; j < k; ++j) {
        double acc = 0.0;
        for (std::int64_t l = 0; l < k; ++l) acc += a[i * k + l] * b[l * k + j];
        out[i * k + j] = acc;
      }
  }
  // out += s a b'
  void add_mul_t(double s, const double* a, const double* b, double* out) const {
    for (std::int64_t i = 0; i < k; ++i)
      for (std::int64_t j = 0; j < k; ++j) {
        double acc = 0.0;
        for (std::int64_t l = 0; l < k; ++l) acc += a[i * k + l] * b[j * k + l];
        out[i * k + j] += s * acc;
      }
  }
  void transpose(const double* a, double* out) const {
    for (std::int64_t i = 0; i < k; ++i)
      for (std::int64_t j = 0; j < k; ++j) out[j * k + i] = a[i * k + j];
  }
  void zero(double* a) const { std::memset(a, 0, sizeof(double) * std::size_t(k * k)); }
  void copy(const double* a, double* out) const {
    std::memcpy(out, a, sizeof(double) * std::size_t(k * k));
  }
};

class Innovations {
 public:
  Innovations(std::int64_t T, int k, const double* ar, int pmax, const double* ma, int qmax,
              const double* gamma, double* work)
      : T_(T), k_(k), kk_(std::int64_t(k) * k), pmax_(pmax), qmax_(qmax),
        m_(std::max(pmax, qmax)), ar_(ar), ma_(ma), gamma_(gamma), b_{k} {
    double* w = work;
    theta_ = w;
    w += theta_blocks(T, m_, qmax) * kk_;
    tri_blocks_ = theta_blocks(std::min(T, m_), m_, qmax);
    V_ = w;
    w += T * kk_;
    Vinv_ = w;
    w += T * kk_;
    U_ = w;
    w += T * k;
    macov_ = w;
    w += (std::int64_t(qmax) + 1) * kk_;
    s1_ = w;
    w += kk_;
    s2_ = w;
    w += kk_;
    s3_ = w;
    w += kk_;
    packed_ = w;
    w += packed_size(k);
    scale_ = w;
    w += k;
    sweep_work_ = w;
    w += k;
    yhat_ = w;
  }

  // Theta(n, j), or null where it is exactly zero (n >= m, j > qmax).
  double* theta(std::int64_t n, std::int64_t j) const {
    if (n < m_) return theta_ + ((n - 1) * n / 2 + (j - 1)) * kk_;
    if (j > qmax_) return nullptr;
    return theta_ + (std::int64_t(tri_blocks_) + (n - m_) * qmax_ + (j - 1)) * kk_;
  }

  // Ma(h) = sum_{r=0..qmax-h} C(r+h) Sigma C(r)',  C(0) = I, C(r) = -Theta_r.
  // The pairs (a, b) = (r+h, r) are visited with a outer and b inner, both
  // ascending, which adds the terms of every Ma(h) in increasing r as the sum
  // says; a pair with a zero block (an unlisted lag of a sparse MA lag list)
  // is skipped, so one block at a distant lag costs O(qmax), not O(qmax^2).
  void ma_covariances(const double* sigma) {
    for (std::int64_t h = 0; h <= qmax_; ++h) b_.zero(macov_ + h * kk_);
    auto nonzero = [this](std::int64_t r) {
      if (r == 0) return true;
      const double* t = ma_ + (r - 1) * kk_;
      return std::any_of(t, t + kk_, [](double x) { return x != 0.0; });
    };
    for (std::int64_t a = 0; a <= qmax_; ++a) {
      if (!nonzero(a)) continue;
      // s1 = C(a) Sigma
      if (a == 0) {
        b_.copy(sigma, s1_);
      } else {
        b_.mul(ma_ + (a - 1) * kk_, sigma, s1_);
        for (std::int64_t e = 0; e < kk_; ++e) s1_[e] = -s1_[e];
      }
      for (std::int64_t b = 0; b <= a; ++b) {
        if (!nonzero(b)) continue;
        // Ma(a - b) += s1 C(b)'
        double* out = macov_ + (a - b) * kk_;
        if (b == 0) {
          for (std::int64_t e = 0; e < kk_; ++e) out[e] += s1_[e];
        } else {
          b_.add_mul_t(-1.0, s1_, ma_ + (b - 1) * kk_, out);
        }
      }
    }
  }

  // E[Y(a) Y(b)'] = Gamma(b-a) for b >= a, Gamma(a-b)' otherwise; out += s that.
  void add_eyy(double s, std::int64_t a, std::int64_t b, double* out) const {
    const std::int64_t k = k_;
    if (b >= a) {
      const double* g = gamma_ + (b - a) * kk_;
      for (std::int64_t e = 0; e < kk_; ++e) out[e] += s * g[e];
    } else {
      const double* g = gamma_ + (a - b) * kk_;
      for (std::int64_t i = 0; i < k; ++i)
        for (std::int64_t j = 0; j < k; ++j) out[i * k + j] += s * g[j * k + i];
    }
  }

  // kappa(i, j) = E[W(i) W(j)'] for i >= j >= 1.
  void kappa_lower(std::int64_t i, std::int64_t j, double* out) const {
    b_.zero(out);
    if (i <= m_) {
      add_eyy(1.0, i, j, out);
    } else if (j <= m_) {
      if (i > 2 * m_) return;
      // E[(Y(i) - sum_l Phi_l Y(i-l)) Y(j)']
      add_eyy(1.0, i, j, out);
      for (std::int64_t l = 1; l <= pmax_; ++l) {
        b_.zero(s3_);
        add_eyy(1.0, i - l, j, s3_);
        const double* phi = ar_ + (l - 1) * kk_;
        const std::int64_t k = k_;
        for (std::int64_t r = 0; r < k; ++r)
          for (std::int64_t c = 0; c < k; ++c) {
            double acc = 0.0;
            for (std::int64_t x = 0; x < k; ++x) acc += phi[r * k + x] * s3_[x * k + c];
            out[r * k + c] -= acc;
          }
      }
    } else if (i - j <= qmax_) {
      b_.copy(macov_ + (i - j) * kk_, out);
    }
  }

  // kappa(i, j) for any i, j >= 1 (kappa(i, j) = kappa(j, i)').
  void kappa(std::int64_t i, std::int64_t j, double* out) const {
    if (i >= j) {
      kappa_lower(i, j, out);
    } else {
      kappa_lower(j, i, s2_);
      b_.transpose(s2_, out);
    }
  }

  // Theta(n, n-kk) for kk = kstart .. n-1:
  //   Theta(n, n-kk) = (kappa(n+1, kk+1) - sum_l Theta(n, n-l) V(l) Theta(kk, kk-l)') V(kk)^-1
  void theta_row(std::int64_t n, std::int64_t kstart) {
    for (std::int64_t kk = kstart; kk < n; ++kk) {
      kappa(n + 1, kk + 1, s1_);
      const std::int64_t lfrom = std::max(kstart, kk >= m_ ? kk - qmax_ : std::int64_t(0));
      for (std::int64_t l = lfrom; l < kk; ++l) {
        // s1 -= Theta(n, n-l) V(l) Theta(kk, kk-l)'
        b_.mul(theta(n, n - l), V_ + l * kk_, s3_);
        b_.add_mul_t(-1.0, s3_, theta(kk, kk - l), s1_);
      }
      b_.mul(s1_, Vinv_ + kk * kk_, theta(n, n - kk));
    }
  }

  // V(n) = kappa(n+1, n+1) - sum_kk Theta(n, n-kk) V(kk) Theta(n, n-kk)',
  // symmetrised; V(n)^-1 by sweeping, log det V(n) by LU into *log_det.
  // *det_status: the LU's result.  0, or message kMsgSingular.
  int innovation_variance(std::int64_t n, std::int64_t kstart, char* flags, double* log_det,
                          int* det_status) {
    const std::int64_t k = k_;
    double* Vn = V_ + n * kk_;
    kappa(n + 1, n + 1, Vn);
    for (std::int64_t kk = kstart; kk < n; ++kk) {
      const double* th = theta(n, n - kk);
      b_.mul(th, V_ + kk * kk_, s3_);
      b_.add_mul_t(-1.0, s3_, th, Vn);
    }
    for (std::int64_t i = 0; i < k; ++i)
      for (std::int64_t j = 0; j < i; ++j)
        Vn[i * k + j] = Vn[j * k + i] = 0.5 * (Vn[i * k + j] + Vn[j * k + i]);
    pack_symmetric(Vn, int(k), packed_);
    if (sweep_inverse(packed_, int(k), flags, sweep_work_) < k) return fail_message(kMsgSingular);
    unpack_symmetric(packed_, int(k), Vinv_ + n * kk_);
    b_.copy(Vn, s1_);
    double det = 0.0;
    *det_status = lu_solve(s1_, k, nullptr, scale_, &det);
    // every pivot passed the sweep's test relative to its variance, so
    // det V(n) > 0 and needs no floor (one in absolute units would
    // depend on the units of the data)
    *log_det = lu_log_det(s1_, k, det);
    if (!std::isfinite(*log_det)) return fail_message(kMsgSingular);
    return kStatusOk;
  }

  // Yhat(n+1) = sum_j Phi_j Y(n+1-j) (from n >= m on) + sum_j Theta(n, j) U(n+1-j),
  // the innovation U(n+1) = Y(n+1) - Yhat(n+1), and its U' V(n)^-1 U.
  double innovation(std::int64_t n, const double* series) {
    const std::int64_t k = k_;
    std::memset(yhat_, 0, sizeof(double) * std::size_t(k));
    if (n >= m_)
      for (std::int64_t j = 1; j <= pmax_; ++j)
        block_mul_add(ar_ + (j - 1) * kk_, series + (n - j) * k, k, yhat_);
    const std::int64_t jmax = n >= m_ ? std::min<std::int64_t>(qmax_, n) : n;
    for (std::int64_t j = 1; j <= jmax; ++j) block_mul_add(theta(n, j), U_ + (n - j) * k, k, yhat_);
    double* u = U_ + n * k;
    const double* y = series + n * k;
    for (std::int64_t r = 0; r < k; ++r) u[r] = y[r] - yhat_[r];
    const double* vi = Vinv_ + n * kk_;
    double q = 0.0;
    for (std::int64_t r = 0; r < k; ++r) {
      double acc = 0.0;
      for (std::int64_t c = 0; c < k; ++c) acc += vi[r * k + c] * u[c];
      q += u[r] * acc;
    }
    return q;
  }

  // The recursion over n = 0 .. T-1: D = sum log det V(n), S = sum U' V^-1 U,
  // log-likelihood -(D + S) / 2.  Returns the last LU result, or the
  // failure's status.
  int run(double* loglik, double* logdet, double* quad, const double* series, char* flags) {
    double D = 0.0, S = 0.0;
    int det_status = 0;
    for (std::int64_t n = 0; n < T_; ++n) {
      // O(n) block products per step: ask every 64 steps whether the call
      // has been cancelled
      if (n % 64 == 63 && cancel_requested()) return cancelled();
      const std::int64_t kstart = n >= m_ ? std::max<std::int64_t>(0, n - qmax_) : 0;
      theta_row(n, kstart);
      double log_det = 0.0;
      if (int st = innovation_variance(n, kstart, flags, &log_det, &det_status)) return st;
      D += log_det;
      S += innovation(n, series);
    }
    *logdet = D;
    *quad = S;
    *loglik = -(D + S) / 2.0;
    return det_status;
  }

 private:
  std::int64_t T_, k_, kk_, pmax_, qmax_, m_;
  const double *ar_, *ma_, *gamma_;
  Blocks b_;
  std::uint64_t tri_blocks_ = 0;
  double *theta_, *V_, *Vinv_, *U_, *macov_, *s1_, *s2_, *s3_, *packed_, *scale_, *sweep_work_,
      *yhat_;
};

}  // namespace

std::uint64_t varma_innov_work_size(std::int64_t T, int k, int pmax, int qmax) {
  const std::uint64_t kk = checked_mul(std::uint64_t(k), std::uint64_t(k));
  std::uint64_t blocks = theta_blocks(T, std::max(pmax, qmax), qmax);
  blocks = checked_add(blocks, checked_mul(2, std::uint64_t(T)));
  blocks = checked_add(blocks, std::uint64_t(qmax) + 4);
  std::uint64_t n = checked_mul(blocks, kk);
  n = checked_add(n, checked_mul(std::uint64_t(T), std::uint64_t(k)));
  n = checked_add(n, std::uint64_t(packed_size(k)) + 3 * std::uint64_t(k));
  return n;
}

int varma_innov_loglik(double* loglik, double* logdet, double* quad, const double* series,
                       std::int64_t T, int k, const double* ar, int pmax, const double* ma,
                       int qmax, const double* sigma, const double* gamma, double* work,
                       char* flags) {
  Innovations in(T, k, ar, pmax, ma, qmax, gamma, work);
  in.ma_covariances(sigma);
  return in.run(loglik, logdet, quad, series, flags);
}

}  // namespace mvtsa
