#include "module/farma/arfima_autocov.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>

#include "module/farma/frac_diff.hpp"
#include "module/farma/gamma.hpp"
#include "module/frame/host.hpp"
#include "module/frame/status.hpp"
#include "module/farma/poly_roots.hpp"
#include "module/linalg/lag_gcd.hpp"
#include "module/linalg/lu.hpp"

namespace mvtsa {
namespace {

// A product m 2^e of real or complex factors, the mantissa m rescaled by a
// power of two whenever its magnitude leaves [2^-400, 2^400].  Rescaling is
// exact, so reciprocal() equals 1 / (the plain product) whenever the plain
// product never left the range of doubles.
template <class T>
class ScaledProduct {
 public:
  explicit ScaledProduct(T first) : m_(first) { rescale(); }
  ScaledProduct& operator*=(T factor) {
    m_ *= factor;
    rescale();
    return *this;
  }
  // 1 / (m 2^e) = (1 / m) 2^-e; infinite or zero where that is beyond the
  // doubles, as the plain reciprocal would be.
  T reciprocal() const { return scaled(T(1.0) / m_, -e_); }

 private:
  static double size(double x) { return std::fabs(x); }
  static double size(std::complex<double> z) { return std::fmax(std::fabs(z.real()), std::fabs(z.imag())); }
  static double scaled(double x, long e) { return std::ldexp(x, int(std::clamp(e, -4000L, 4000L))); }
  static std::complex<double> scaled(std::complex<double> z, long e) {
    return {scaled(z.real(), e), scaled(z.imag(), e)};
  }
  void rescale() {
    const double a = size(m_);
    if (!(a > 0x1p-400 && a < 0x1p400) || !std::isfinite(a)) {
      if (!(a > 0.0) || !std::isfinite(a)) return;  // 0 or not a number: nothing to gain
      int k = 0;
      (void)std::frexp(a, &k);
      m_ = scaled(m_, -k);
      e_ += k;
    }
  }
  T m_;
  long e_ = 0;
};

// A tail below kUnitRoundoff (half an ulp) of the sum cannot change it.

// Tail bound of F(a, c, rho) after a term: with the current a and c (those
// of the next ratio) and c - a in (0, 2), every later term is
//   |term_(k+m)| = |term_k| |rho|^m prod_{i<m} |a + i| / |c + i|,
// and the partial products are bounded by
//   1                                          once c > 0 and a + c >= 0,
//   e^2 (|c| + 1)^2 * 3/f * 2/(1 - f)          before,
// f = ceil(c) - c in (0, 1): while c + i <= -1 each factor is
// 1 + (c - a)/|c + i| (product at most e^2 (|c| + 1)^2); the factor at
// c + i = -f is at most 3/f, the one at c + i = 1 - f at most 2/(1 - f), and
// every factor after it at most 1.  So the tail is at most
// |term_k| B |rho| / (1 - |rho|).
template <class T>
T hyper_series_t(double a, double c, T rho) {
  const double r = std::abs(rho);
  T term = 1.0, sum = 1.0;
  for (std::int64_t k = 1;; ++k) {
    // term_k = term_(k-1) rho (a + k - 1) / (c + k - 1); a and c then step by 1.
    term *= rho * (a / c);
    a += 1.0;
    c += 1.0;
    sum += term;
    if (k >= kHyperMinTerms && r < 1.0) {
      double bound;
      if (c > 0.0 && a + c >= 0.0) {
        bound = 1.0;
      } else {
        const double f = std::ceil(c) - c;
        const double ac = std::fabs(c) + 1.0;
        bound = f > 0.0 && f < 1.0
                    ? 7.38905609893065 * ac * ac * (3.0 / f) * (2.0 / (1.0 - f))  // e^2 ...
                    : std::numeric_limits<double>::infinity();
      }
      const double tail = std::abs(term) * bound * r / (1.0 - r);
      if (tail <= kUnitRoundoff * std::abs(sum)) break;
    }
    if (k >= kHyperMaxTerms || !(std::abs(term) < std::numeric_limits<double>::infinity())) break;
  }
  return sum;
}

// F(d + x, 1 - d + x, rho) for x = -X..X into F[x + X] (X >= 0): the series
// at x = X, then downwards by the contiguous relation of consecutive shifts,
//   F(a, c, rho) = 1 + rho (a / c) F(a + 1, c + 1, rho),
// which is the series itself evaluated from its tail inwards.  A relative
// error in F(x + 1) reaches F(x) multiplied by |F(x) - 1| / |F(x)|, so the
// step loses accuracy only where F(x) itself nearly vanishes, as the series
// summed at that x would.
template <class T>
void hyper_table(double d, T rho, std::int64_t X, T* F) {
  F += X;
  F[X] = hyper_series_t(d + double(X), 1.0 - d + double(X), rho);
  // a = d + x and c = (x + 1) - d are each rounded once: c near 0 (x = -1,
  // c = -d) keeps the relative accuracy of d.
  for (std::int64_t x = X - 1; x >= -X; --x) {
    const double dx = double(x);
    F[x] = 1.0 + rho * ((d + dx) / ((dx + 1.0) - d)) * F[x + 1];
  }
}

// Gamma(x) into *v; false when gamma_eval fails.
bool gamma_ok(double x, double* v) { return gamma_eval(x, v) == 0; }

}  // namespace

int gamma_ratio_table(double d, std::int64_t hlo, std::int64_t hhi, double* R) {
  auto direct = [d](std::int64_t h, double* v) {
    double g1, g2;
    if (gamma_eval(d + double(h), &g1) != 0 || gamma_eval(1.0 - d + double(h), &g2) != 0)
      return false;
    *v = g1 / g2;
    return std::isfinite(*v);
  };
  double r0;
  if (!direct(0, &r0)) return kStatusGammaFailed;
  if (hlo <= 0 && 0 <= hhi) R[-hlo] = r0;
  double prev = r0;
  for (std::int64_t h = 1; h <= hhi; ++h) {
    double v;
    if (!direct(h, &v)) v = prev * (d + double(h) - 1.0) / (double(h) - d);
    if (!std::isfinite(v)) return kStatusGammaFailed;
    if (h >= hlo) R[h - hlo] = v;
    prev = v;
  }
  prev = r0;
  for (std::int64_t h = -1; h >= hlo; --h) {
    double v;
    if (!direct(h, &v)) v = prev * (1.0 - d + double(h)) / (d + double(h));
    if (!std::isfinite(v)) return kStatusGammaFailed;
    if (h <= hhi) R[h - hlo] = v;
    prev = v;
  }
  return 0;
}

namespace {

// The gcd g of the lags j >= 1 with a non-zero coefficient ar[j] (1 when
// there is none).
int ar_lag_gcd(const double* ar, int p) {
  int g = 0;
  for (int j = 1; j <= p; ++j)
    if (ar[j] != 0.0) g = lag_gcd(j, g);
  return g == 0 ? 1 : g;
}

// U_r = sum_{n>=0} c_(g n + r) w^n for r = 0..g-1 into U, with
// c_k = prod_{i<k} (a + i) / (c + i) (0 < c - a < 2, a > 0): the terms of
// F(a, c, .) split by their power modulo g, the power g n taken as w^n.
// The terms decrease (a < c), so after the term of block n the rest of
// every U_r is at most |c_k| |w|^(n+1) / (1 - |w|); summed until that is
// below half an ulp of |U_0| for each of the g residues, at least
// kHyperMinTerms blocks and at most kHyperMaxTerms.  Asks the host whether
// the call has been cancelled every 2^20 terms; false then.
template <class T>
bool residue_series(double a, double c, T w, int g, T* U) {
  const double r = std::abs(w);
  std::fill_n(U, g, T(0.0));
  U[0] = 1.0;
  double term = 1.0;
  T wn = 1.0;
  for (std::int64_t n = 0, k = 1;; ++n) {
    for (int res = n == 0 ? 1 : 0; res < g; ++res, ++k) {
      term *= a / c;
      a += 1.0;
      c += 1.0;
      U[res] += term * wn;
      if ((k & 0xfffff) == 0 && cancel_requested()) return false;
    }
    wn *= w;  // block n + 1 starts at the power g (n + 1)
    if (n + 1 >= kHyperMinTerms &&
        double(g) * std::fabs(term) * std::abs(wn) / (1.0 - r) <= kUnitRoundoff * std::abs(U[0]))
      break;
    if (n + 1 >= kHyperMaxTerms || !(std::abs(wn) > 0.0)) break;
  }
  return true;
}

// H(x) = sum_n c_(g n)(x) w^n, c_k(x) the coefficients of
// F(d + x, 1 - d + x, .), for x = -X..X into H[x + X]: with
// U_r(x) = sum_n c_(g n + r)(x) w^n and f(x) = (d + x) / (1 - d + x),
//   U_0(x) = 1 + f(x) w U_(g-1)(x + 1),   U_r(x) = f(x) U_(r-1)(x + 1),
// the table of hyper_table carried for the g residues at once, from
// residue_series at x = X downwards.  U: g values of work.  False when the
// call has been cancelled.
template <class T>
bool grouped_table(double d, T w, int g, std::int64_t X, T* H, T* U) {
  H += X;
  if (!residue_series(d + double(X), 1.0 - d + double(X), w, g, U)) return false;
  H[X] = U[0];
  for (std::int64_t x = X - 1; x >= -X; --x) {
    if ((x & 0x3ff) == 0 && cancel_requested()) return false;
    const double dx = double(x);
    const double f = (d + dx) / ((dx + 1.0) - d);
    const T last = U[g - 1];
    for (int r = g - 1; r >= 1; --r) U[r] = f * U[r - 1];
    U[0] = 1.0 + w * f * last;
    H[x] = U[0];
  }
  return true;
}

// One group's share of S(h), Re(zeta (w^(2 p_r) H(h) + H(-h) - 1)), added
// into S for h = hlo..hhi, from its table H (2X + 1 values).
template <class T>
void add_group(T zeta, T w, int pr, const T* H, std::int64_t X, std::int64_t hlo,
               std::int64_t hhi, double* S) {
  H += X;
  T w2p = 1.0;
  for (int i = 0; i < 2 * pr; ++i) w2p *= w;
  for (std::int64_t h = hlo; h <= hhi; ++h) S[h - hlo] += std::real(zeta * (w2p * H[h] + H[-h] - 1.0));
}

}  // namespace

void hyper_table_real(double d, double rho, std::int64_t X, double* F) {
  hyper_table(d, rho, X, F);
}
void hyper_table_complex(double d, std::complex<double> rho, std::int64_t X,
                         std::complex<double>* F) {
  hyper_table(d, rho, X, F);
}

double hyper_series(double a, double c, double rho) { return hyper_series_t(a, c, rho); }
std::complex<double> hyper_series(double a, double c, std::complex<double> rho) {
  return hyper_series_t(a, c, rho);
}

namespace {

template <class T>
T hyper_c_t(double d, std::int64_t h, T rho, int p) {
  T rho2p = 1.0;
  for (int i = 0; i < 2 * p; ++i) rho2p *= rho;
  const double hd = double(h);
  return rho2p * hyper_series_t(d + hd, 1.0 - d + hd, rho) +
         hyper_series_t(d - hd, 1.0 - d - hd, rho) - 1.0;
}

}  // namespace

double hyper_c_real(double d, std::int64_t h, double rho, int p) { return hyper_c_t(d, h, rho, p); }
std::complex<double> hyper_c_complex(double d, std::int64_t h, std::complex<double> rho, int p) {
  return hyper_c_t(d, h, rho, p);
}

std::int64_t arma_autocov_work_size(int p, int q) {
  const std::int64_t m = std::int64_t(p) + 1;
  return m * m + 2 * m + (std::int64_t(q) + 1);
}

void arma_autocov(int p, int q, const double* ar, const double* ma, double* gamma, double* c,
                  double* r, double* work) {
  // c_k = sum_{j=0..q-k} theta*_j theta*_(j+k)
  for (int k = 0; k <= q; ++k) {
    double s = 0.0;
    for (int j = 0; j <= q - k; ++j) s += ma[j] * ma[j + k];
    c[k] = s;
  }
  if (p == 0) {
    gamma[0] = c[0];
    for (int k = 0; k <= q; ++k) r[k] = c[k];
    return;
  }
  const int m = p + 1;
  double* A = work;
  double* rhs = A + std::int64_t(m) * m;
  double* scale = rhs + m;
  double* pi = scale + m;
  // psi-weights: pi_0 = 1, pi_i = theta*_i + sum_{j=1..min(i,p)} phi_j pi_(i-j), phi_j = -a_j
  for (int i = 0; i <= q; ++i) {
    double s = ma[i];
    for (int j = 1; j <= (i < p ? i : p); ++j) s -= ar[j] * pi[i - j];
    pi[i] = s;
  }
  // r_k = sum_{j=0..q-k} theta*_(j+k) pi_j
  for (int k = 0; k <= q; ++k) {
    double s = 0.0;
    for (int j = 0; j <= q - k; ++j) s += ma[j + k] * pi[j];
    r[k] = s;
  }
  // gamma(k) - sum_{j=1..p} phi_j gamma(|k - j|) = r_k (0 for k > q), k = 0..p
  std::memset(A, 0, sizeof(double) * std::size_t(m) * m);
  for (int k = 0; k <= p; ++k) {
    A[std::int64_t(k) * m + k] += 1.0;
    for (int j = 1; j <= p; ++j) A[std::int64_t(k) * m + std::abs(k - j)] += ar[j];
    rhs[k] = k <= q ? r[k] : 0.0;
  }
  // LU with scaled partial pivoting; a scaled pivot below 2^-44 (a zero row
  // among them) fails the solve
  if (lu_solve(A, m, rhs, scale, nullptr) != kLuOk) {
    gamma[0] = -1.0;
    return;
  }
  for (int k = 0; k <= p; ++k) gamma[k] = rhs[k];
}

std::int64_t arfima_autocov_work_size(int p, int q, std::int64_t lag) {
  // psi(-q..q), zeta (p complex), the table G(h) over lag + 2q + 1 values of
  // h, and the ARMA path: gamma(0..p), c, r and the system.
  const std::int64_t table = lag + 2 * std::int64_t(q) + 1;
  const std::int64_t arma = (std::int64_t(p) + 1) + 2 * (std::int64_t(q) + 1) +
                            arma_autocov_work_size(p, q);
  // With p > 0 also the root sums S(h) over the same h and the complex
  // table of F(d + x, 1 - d + x, rho) over x = -X..X, X = max(-hlo, hhi).
  const std::int64_t x = std::max(lag + q - std::int64_t(p), std::int64_t(p) + q);
  const std::int64_t roots =
      p > 0 ? table + std::max(2 * (2 * x + 1), sowell_grouped_work_size(p, x)) : 0;
  const std::int64_t frac = (2 * std::int64_t(q) + 1) + 2 * std::int64_t(p) + table + roots;
  return frac > arma ? frac : arma;
}

void sowell_weights(const double* roots, int p, bool complex_roots, double* zeta) {
  // zeta_j = 1 / [rho_j prod_{i=1..p} (1 - rho_i rho_j) prod_{m != j} (rho_j - rho_m)]
  // The 2p - 1 factors of the product are gathered with a separate power
  // of two, so that for many roots (an AR lag of 2000 has 2000, of modulus
  // near 1, whose differences are small) the partial products neither
  // overflow nor underflow where the product itself is a double.
  // Multiplying by a power of two is exact, so the value is that of the
  // plain product wherever the plain product stays in range.
  if (complex_roots) {
    for (int j = 0; j < p; ++j) {
      const std::complex<double> rj(roots[2 * j], roots[2 * j + 1]);
      ScaledProduct<std::complex<double>> den(rj);
      for (int i = 0; i < p; ++i) {
        const std::complex<double> ri(roots[2 * i], roots[2 * i + 1]);
        den *= 1.0 - ri * rj;
        if (i != j) den *= rj - ri;
      }
      const std::complex<double> z = den.reciprocal();
      zeta[2 * j] = z.real();
      zeta[2 * j + 1] = z.imag();
    }
  } else {
    for (int j = 0; j < p; ++j) {
      const double rj = roots[2 * j];
      ScaledProduct<double> den(rj);
      for (int i = 0; i < p; ++i) {
        const double ri = roots[2 * i];
        den *= 1.0 - ri * rj;
        if (i != j) den *= rj - ri;
      }
      zeta[2 * j] = den.reciprocal();
      zeta[2 * j + 1] = 0.0;
    }
  }
}

int sowell_root_sums(double d, const double* roots, const double* zeta, int p, bool complex_roots,
                     std::int64_t X, std::int64_t hlo, std::int64_t hhi, double* S, double* F) {
  // S(h) = sum_j Re(zeta_j C(d, h, rho_j)), C from the table of
  // F(d + x, 1 - d + x, rho_j) over x = -X..X, one root at a time.
  std::fill_n(S, hhi - hlo + 1, 0.0);
  for (int j = 0; j < p; ++j) {
    // one hypergeometric table per root: the host is asked between roots
    // whether the call has been cancelled
    if (cancel_requested()) return kMsgCancelled;
    if (complex_roots) {
      const std::complex<double> rj(roots[2 * j], roots[2 * j + 1]);
      const std::complex<double> zj(zeta[2 * j], zeta[2 * j + 1]);
      auto* Fc = reinterpret_cast<std::complex<double>*>(F);
      hyper_table_complex(d, rj, X, Fc);
      Fc += X;  // Fc[x] = F(d + x, 1 - d + x, rho_j)
      std::complex<double> rho2p = 1.0;
      for (int i = 0; i < 2 * p; ++i) rho2p *= rj;
      for (std::int64_t h = hlo; h <= hhi; ++h)
        S[h - hlo] += (zj * (rho2p * Fc[h] + Fc[-h] - 1.0)).real();
    } else {
      const double rj = roots[2 * j];
      hyper_table_real(d, rj, X, F);
      const double* Fr = F + X;
      double rho2p = 1.0;
      for (int i = 0; i < 2 * p; ++i) rho2p *= rj;
      for (std::int64_t h = hlo; h <= hhi; ++h)
        S[h - hlo] += zeta[2 * j] * (rho2p * Fr[h] + Fr[-h] - 1.0);
    }
  }
  return 0;
}

std::int64_t sowell_grouped_work_size(int p, std::int64_t X) {
  // reduced coefficients, roots (re, im, pairs), weights, the root
  // finder's work, the complex table H and the complex residues U
  return (std::int64_t(p) + 1) + 6 * std::int64_t(p) + poly_roots_work_size(p) +
         2 * (2 * X + 1) + 2 * std::int64_t(p);
}

int sowell_grouped_sums(double d, const double* ar, int p, int g, std::int64_t X,
                        std::int64_t hlo, std::int64_t hhi, double* S, double* work) {
  const int pr = p / g;
  double* coef = work;           // Q(w) = w^pr + a_g w^(pr-1) + ... + a_p
  double* re = coef + pr + 1;    // its zeros w_i
  double* im = re + pr;
  double* pairs = im + pr;       // (re, im) pairs
  double* zeta = pairs + 2 * pr; // their Sowell weights
  double* H = zeta + 2 * pr;     // 2X + 1 complex
  double* U = H + 2 * (2 * X + 1);  // g complex
  double* jt = U + 2 * std::int64_t(g);
  for (int i = 0; i <= pr; ++i) coef[i] = ar[std::int64_t(g) * i];
  int degree = pr;
  const int code = poly_zeros(coef, &degree, re, im, jt);
  if (code == kPolyRootsCancelled) return kMsgCancelled;
  if (code != kPolyRootsOk || degree != pr) return kSowellNotGrouped;
  bool complex_w = false;
  for (int i = 0; i < pr; ++i) {
    pairs[2 * i] = re[i];
    pairs[2 * i + 1] = im[i];
    complex_w = complex_w || im[i] != 0.0;
  }
  sowell_weights(pairs, pr, complex_w, zeta);
  std::fill_n(S, hhi - hlo + 1, 0.0);
  for (int i = 0; i < pr; ++i) {
    if (cancel_requested()) return kMsgCancelled;
    if (complex_w) {
      using C = std::complex<double>;
      const C w(re[i], im[i]), z(zeta[2 * i], zeta[2 * i + 1]);
      auto* Hc = reinterpret_cast<C*>(H);
      if (!grouped_table(d, w, g, X, Hc, reinterpret_cast<C*>(U))) return kMsgCancelled;
      add_group(z, w, pr, Hc, X, hlo, hhi, S);
    } else {
      if (!grouped_table(d, re[i], g, X, H, U)) return kMsgCancelled;
      add_group(zeta[2 * i], re[i], pr, H, X, hlo, hhi, S);
    }
  }
  return 0;
}

namespace {

// d = 0: the ARMA(p, q) autocovariances, then the AR recursion
// gamma(k) = sum_j phi_j gamma(k - j) + r_k (k <= q) for k > p.
int arma_route(double* gamma, std::int64_t lag, int p, int q, const double* ma, const double* ar,
               double* work) {
  double* g = work;
  double* c = g + p + 1;
  double* r = c + q + 1;
  arma_autocov(p, q, ar, ma, g, c, r, r + q + 1);
  if (!(g[0] >= 0.0)) return kStatusNonstationary;
  if (p == 0) {
    for (std::int64_t k = 0; k <= lag; ++k) gamma[k] = k <= q ? c[k] : 0.0;
    return 0;
  }
  for (std::int64_t k = 0; k <= lag && k <= p; ++k) gamma[k] = g[k];
  for (std::int64_t k = p + 1; k <= lag; ++k) {
    double s = k <= q ? r[k] : 0.0;
    for (int j = 1; j <= p; ++j) s -= ar[j] * gamma[k - j];
    gamma[k] = s;
  }
  return 0;
}

}  // namespace

int arfima_autocov(double* gamma, std::int64_t lag, double d, int p, int q, const double* ma,
                   const double* ar, const double* roots, bool complex_roots, double* work) {
  if (std::fabs(d) <= kCloseTol) return arma_route(gamma, lag, p, q, ma, ar, work);

  // Fractional noise (p = q = 0): gamma(0) = Gamma(1 - 2d) / Gamma(1 - d)^2,
  // gamma(k) = gamma(k - 1) (k - 1 + d) / (k - d).
  if (p == 0 && q == 0) {
    double g12, g1;
    if (!gamma_ok(1.0 - 2.0 * d, &g12) || !gamma_ok(1.0 - d, &g1)) return kStatusGammaFailed;
    gamma[0] = g12 / (g1 * g1);
    for (std::int64_t k = 1; k <= lag; ++k)
      gamma[k] = gamma[k - 1] * (double(k) - 1.0 + d) / (double(k) - d);
    return 0;
  }

  // Otherwise Sowell's sum.  The MA part enters through
  // psi(l) = sum_{s=max(0,l)..min(q,q+l)} theta*_s theta*_(s-l), l = -q..q,
  // and the scale is K = Gamma(1 - 2d) / (Gamma(1 - d) Gamma(d)).
  double* psi = work + q;  // psi[l], l = -q..q
  for (int l = -q; l <= q; ++l) {
    double s = 0.0;
    for (int t = (l > 0 ? l : 0); t <= (q < q + l ? q : q + l); ++t) s += ma[t] * ma[t - l];
    psi[l] = s;
  }
  double g12, g1, gd;
  if (!gamma_ok(1.0 - 2.0 * d, &g12) || !gamma_ok(1.0 - d, &g1) || !gamma_ok(d, &gd))
    return kStatusGammaFailed;
  const double K = g12 / (g1 * gd);

  // The lags enter only through h = p + l - s, from p - q - lag to
  // p + q: G(h) = [Gamma(d + h) / Gamma(1 - d + h)] sum_j Re(zeta_j C(d, h, rho_j))
  // (the sum is 1 when p = 0) is formed once per h, then
  // gamma(s) = K sum_{l=-q..q} psi(l) G(p + l - s).  The two series of each
  // C(d, h, rho_j) come from one table per root, so that the cost is one
  // series and O(lag) steps per root rather than two series per lag.
  double* zeta = work + 2 * std::int64_t(q) + 1;  // p complex (or p real) weights
  double* G = zeta + 2 * std::int64_t(p);
  const std::int64_t hlo = std::int64_t(p) - q - lag, hhi = std::int64_t(p) + q;
  if (int st = gamma_ratio_table(d, hlo, hhi, G)) return st;

  if (p > 0) {
    const std::int64_t X = -hlo > hhi ? -hlo : hhi;
    const std::int64_t nh = hhi - hlo + 1;
    double* S = G + nh;
    double* rest = S + nh;
    const int g = ar_lag_gcd(ar, p);
    int st = g > 1 ? sowell_grouped_sums(d, ar, p, g, X, hlo, hhi, S, rest) : kSowellNotGrouped;
    if (st == kSowellNotGrouped) {
      sowell_weights(roots, p, complex_roots, zeta);
      st = sowell_root_sums(d, roots, zeta, p, complex_roots, X, hlo, hhi, S, rest);
    }
    if (st != 0) return st;
    for (std::int64_t i = 0; i < nh; ++i) G[i] *= S[i];
  }

  for (std::int64_t s = 0; s <= lag; ++s) {
    double sum = 0.0;
    for (int l = -q; l <= q; ++l) sum += psi[l] * G[std::int64_t(p) + l - s - hlo];
    gamma[s] = K * sum;
  }
  return 0;
}

}  // namespace mvtsa
