#include "module/farma/arfima_autocov_grad.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

#include "module/farma/arfima_autocov.hpp"
#include "module/farma/gamma.hpp"
#include "module/frame/host.hpp"
#include "module/frame/status.hpp"

namespace mvtsa {
namespace {

// The series F(a, c, rho) with a = d + X, c = 1 - d + X (X >= 1, so a and c
// are positive and a < c) differentiated in d term by term:
//   t_k = t_(k-1) rho (a + k - 1) / (c + k - 1),
//   dt_k = dt_(k-1) rho (a + k - 1) / (c + k - 1)
//          + t_(k-1) rho ((a + k - 1) + (c + k - 1)) / (c + k - 1)^2.
// With l_k = sum_{i<k} (1/(a + i) + 1/(c + i)) (so |dt_k| <= |t_k| l_k) and
// |t_(k+j)| <= |t_k| r^j, the tail after term k is at most
//   |t_k| (l_k r / (1 - r) + 2 r / ((a + k) (1 - r)^2)),
// summed until that cannot change the sum.
template <class T>
T hyper_series_dd(double a, double c, T rho) {
  const double r = std::abs(rho);
  T term = 1.0, dterm = 0.0, dsum = 0.0;
  double l = 0.0;
  for (std::int64_t k = 1; k <= kHyperMaxTerms; ++k) {
    const double ak = a + double(k - 1), ck = c + double(k - 1);
    const T ratio = rho * (ak / ck);
    dterm = dterm * ratio + term * (rho * ((ak + ck) / (ck * ck)));
    term *= ratio;
    dsum += dterm;
    l += 1.0 / ak + 1.0 / ck;
    if (k >= kHyperMinTerms && r < 1.0) {
      const double tail = std::abs(term) * (l * r / (1.0 - r) +
                                            2.0 * r / ((a + double(k)) * (1.0 - r) * (1.0 - r)));
      if (tail <= kUnitRoundoff * std::abs(dsum)) break;
    }
    if (!(std::abs(term) > 0.0) || !std::isfinite(std::abs(dterm))) break;
  }
  return dsum;
}

template <class T>
void hyper_table_dd(double d, T rho, std::int64_t X, const T* F, T* dF) {
  F += X;
  dF += X;
  dF[X] = hyper_series_dd(d + double(X), 1.0 - d + double(X), rho);
  for (std::int64_t x = X - 1; x >= -X; --x) {
    const double dx = double(x);
    const double a = d + dx, c = (dx + 1.0) - d;
    dF[x] = rho * ((a / c) * dF[x + 1] + ((2.0 * dx + 1.0) / (c * c)) * F[x + 1]);
  }
}

// Fractional noise: gamma(0..lag) and dgamma/dd (0..dlag).
int fractional_noise(double* gamma, std::int64_t lag, double* dgamma, std::int64_t dlag,
                     double d) {
  double g12, g1;
  if (gamma_eval(1.0 - 2.0 * d, &g12) != 0 || gamma_eval(1.0 - d, &g1) != 0)
    return kStatusGammaFailed;
  gamma[0] = g12 / (g1 * g1);
  for (std::int64_t k = 1; k <= lag; ++k)
    gamma[k] = gamma[k - 1] * (double(k) - 1.0 + d) / (double(k) - d);
  double dlog = -2.0 * digamma(1.0 - 2.0 * d) + 2.0 * digamma(1.0 - d);
  for (std::int64_t k = 0; k <= dlag; ++k) {
    if (k > 0) dlog += 1.0 / (double(k) - 1.0 + d) + 1.0 / (double(k) - d);
    dgamma[k] = gamma[k] * dlog;
  }
  return 0;
}

// G(h) and dG(h)/dd over h = hlo..hhi (nh values), G = R S, S = 1 when p = 0.
struct SowellTables {
  double* G;
  double* dG;
  double* S;
  double* dS;
  double* F;   // 2X + 1 values, complex when the roots are
  double* dF;
};

// S(h) and dS(h)/dd summed over the roots into t.S and t.dS.
int root_sums(const SowellTables& t, double d, int p, const double* roots, bool complex_roots,
              const double* zeta, std::int64_t hlo, std::int64_t hhi) {
  const std::int64_t X = -hlo > hhi ? -hlo : hhi;
  const std::int64_t nh = hhi - hlo + 1;
  std::fill_n(t.S, nh, 0.0);
  std::fill_n(t.dS, nh, 0.0);
  for (int j = 0; j < p; ++j) {
    if (cancel_requested()) return kMsgCancelled;
    if (complex_roots) {
      const std::complex<double> rj(roots[2 * j], roots[2 * j + 1]);
      const std::complex<double> zj(zeta[2 * j], zeta[2 * j + 1]);
      auto* Fc = reinterpret_cast<std::complex<double>*>(t.F);
      auto* dFc = reinterpret_cast<std::complex<double>*>(t.dF);
      hyper_table_complex(d, rj, X, Fc);
      hyper_table_dd(d, rj, X, Fc, dFc);
      Fc += X;
      dFc += X;
      std::complex<double> rho2p = 1.0;
      for (int i = 0; i < 2 * p; ++i) rho2p *= rj;
      for (std::int64_t h = hlo; h <= hhi; ++h) {
        t.S[h - hlo] += (zj * (rho2p * Fc[h] + Fc[-h] - 1.0)).real();
        t.dS[h - hlo] += (zj * (rho2p * dFc[h] + dFc[-h])).real();
      }
    } else {
      const double rj = roots[2 * j];
      hyper_table_real(d, rj, X, t.F);
      hyper_table_dd(d, rj, X, static_cast<const double*>(t.F), t.dF);
      const double* Fr = t.F + X;
      const double* dFr = t.dF + X;
      double rho2p = 1.0;
      for (int i = 0; i < 2 * p; ++i) rho2p *= rj;
      for (std::int64_t h = hlo; h <= hhi; ++h) {
        t.S[h - hlo] += zeta[2 * j] * (rho2p * Fr[h] + Fr[-h] - 1.0);
        t.dS[h - hlo] += zeta[2 * j] * (rho2p * dFr[h] + dFr[-h]);
      }
    }
  }
  return 0;
}

// R(h) into G and its logarithmic derivative digamma(d + h) + digamma(1 - d + h)
// into dG, from h = 0 both ways by psi(x + 1) = psi(x) + 1/x.
int ratio_tables(double d, std::int64_t hlo, std::int64_t hhi, double* G, double* dG) {
  if (int st = gamma_ratio_table(d, hlo, hhi, G)) return st;
  const double r0 = digamma(d) + digamma(1.0 - d);
  double r = r0;
  for (std::int64_t h = 0; h <= hhi; ++h) {
    if (h > 0) r += 1.0 / (d + double(h) - 1.0) + 1.0 / (double(h) - d);
    if (h >= hlo) dG[h - hlo] = r;
  }
  r = r0;
  for (std::int64_t h = -1; h >= hlo; --h) {
    r -= 1.0 / (d + double(h)) + 1.0 / (double(h) + 1.0 - d);
    if (h <= hhi) dG[h - hlo] = r;
  }
  return 0;
}

}  // namespace

void hyper_table_dd_real(double d, double rho, std::int64_t X, const double* F, double* dF) {
  hyper_table_dd(d, rho, X, F, dF);
}
void hyper_table_dd_complex(double d, std::complex<double> rho, std::int64_t X,
                            const std::complex<double>* F, std::complex<double>* dF) {
  hyper_table_dd(d, rho, X, F, dF);
}

std::int64_t arfima_autocov_derivs_work_size(int p, int q, std::int64_t lag) {
  const std::int64_t nh = lag + 2 * std::int64_t(q) + 1;
  const std::int64_t X = std::max(lag + q - std::int64_t(p), std::int64_t(p) + q);
  const std::int64_t roots = p > 0 ? 2 * nh + 4 * (2 * X + 1) : 0;
  return (2 * std::int64_t(q) + 1) + 2 * std::int64_t(p) + 2 * nh + roots;
}

int arfima_autocov_derivs(double* gamma, std::int64_t lag, double* dgamma, std::int64_t dlag,
                          double d, int p, int q, const double* ma, const double* roots,
                          bool complex_roots, double* work) {
  if (std::fabs(d) <= kCloseTol) return kAutocovNoDerivative;
  if (p == 0 && q == 0) return fractional_noise(gamma, lag, dgamma, dlag, d);
  // psi(l), l = -q..q, and the scale K with its logarithmic derivative.
  double* psi = work + q;
  for (int l = -q; l <= q; ++l) {
    double s = 0.0;
    for (int t = (l > 0 ? l : 0); t <= (q < q + l ? q : q + l); ++t) s += ma[t] * ma[t - l];
    psi[l] = s;
  }
  double g12, g1, gd;
  if (gamma_eval(1.0 - 2.0 * d, &g12) != 0 || gamma_eval(1.0 - d, &g1) != 0 ||
      gamma_eval(d, &gd) != 0)
    return kStatusGammaFailed;
  const double K = g12 / (g1 * gd);
  const double dlogK = -2.0 * digamma(1.0 - 2.0 * d) + digamma(1.0 - d) - digamma(d);
  // G(h) = R(h) S(h) and dG(h)/dd.
  const std::int64_t hlo = std::int64_t(p) - q - lag, hhi = std::int64_t(p) + q;
  const std::int64_t nh = hhi - hlo + 1;
  double* zeta = work + 2 * std::int64_t(q) + 1;
  SowellTables t{};
  t.G = zeta + 2 * std::int64_t(p);
  t.dG = t.G + nh;
  if (int st = ratio_tables(d, hlo, hhi, t.G, t.dG)) return st;  // dG: d ln R
  if (p > 0) {
    const std::int64_t X = -hlo > hhi ? -hlo : hhi;
    t.S = t.dG + nh;
    t.dS = t.S + nh;
    t.F = t.dS + nh;
    t.dF = t.F + 2 * (2 * X + 1);
    sowell_weights(roots, p, complex_roots, zeta);
    if (int st = root_sums(t, d, p, roots, complex_roots, zeta, hlo, hhi)) return st;
    for (std::int64_t i = 0; i < nh; ++i) {
      t.dG[i] = t.G[i] * (t.dG[i] * t.S[i] + t.dS[i]);
      t.G[i] *= t.S[i];
    }
  } else {
    for (std::int64_t i = 0; i < nh; ++i) t.dG[i] *= t.G[i];
  }
  // gamma(s), then the derivatives for s <= dlag.
  const double* G = t.G - hlo + p;  // G[l - s] = G(p + l - s)
  const double* dG = t.dG - hlo + p;
  for (std::int64_t s = 0; s <= lag; ++s) {
    double sum = 0.0;
    for (int l = -q; l <= q; ++l) sum += psi[l] * G[l - s];
    gamma[s] = K * sum;
    if (s > dlag) continue;
    double dsum = 0.0;
    for (int l = -q; l <= q; ++l) dsum += psi[l] * dG[l - s];
    dgamma[s] = K * (dlogK * sum + dsum);
    for (int k = 1; k <= q; ++k) {
      // dpsi(l)/dtheta*_k = theta*_(k-l) + theta*_(k+l) where 0 <= index <= q
      double mk = 0.0;
      for (int l = -q; l <= q; ++l) {
        double dpsi = 0.0;
        if (k - l >= 0 && k - l <= q) dpsi += ma[k - l];
        if (k + l >= 0 && k + l <= q) dpsi += ma[k + l];
        mk += dpsi * G[l - s];
      }
      dgamma[std::int64_t(k) * (dlag + 1) + s] = K * mk;
    }
  }
  return 0;
}

}  // namespace mvtsa
