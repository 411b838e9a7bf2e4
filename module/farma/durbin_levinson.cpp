#include "module/farma/durbin_levinson.hpp"

#include <cstring>

namespace mvtsa {

// Layout of the work space at order m: the coefficients reversed,
// rev[k] = phi_(m,m-k) for k < m, in the m doubles that end at the last one,
// rev = work + n - m.  One pass does
//   rev[k] <- phi_(m,m-k) - kappa phi_(m,k+1) = rev[k] - kappa rev[m-1-k]
//           = phi_(m+1,m-k),
//   pred   += phi_(m+1,m-k) s_(k+1),   conv += phi_(m+1,m-k) gamma(k+2),
// and phi_(m+1,m+1) = kappa goes to rev[-1]: the coefficients of order
// m + 1 start one place lower.  The update pairs each coefficient with its
// mirror, so the pass runs from both ends towards the middle, two
// consecutive k at each end per step (one register of two doubles, the
// mirror's pair swapped), with every array read forwards within a pair.
// Partial sums: one pair of lanes for the lower end and one for the upper
// end of each inner product, added in a fixed order at the end.

namespace {

// Two doubles handled as one value: GCC and Clang map the arithmetic onto
// the target's vector registers (SSE2 on baseline x86-64, NEON on AArch64)
// or onto scalar code, lane by lane, so the rounding is the same everywhere.
// Loads and stores go through memcpy (no alignment is assumed).
typedef double Pair __attribute__((vector_size(2 * sizeof(double))));

inline Pair load(const double* p) {
  Pair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void store(double* p, Pair v) { std::memcpy(p, &v, sizeof v); }
inline Pair swapped(Pair v) { return Pair{v[1], v[0]}; }

}  // namespace

LevinsonSums levinson_step(double* work, std::int64_t n, std::int64_t m, double kappa,
                           const double* s, const double* gamma) {
  double* __restrict rev = work + n - m;     // rev[k] = phi_(m,m-k), k < m
  const double* __restrict sk = s + 1;       // s_(k+1)
  const double* __restrict gk = gamma + 2;   // gamma(k+2)
  const Pair kp = {kappa, kappa};
  Pair p_lo = {0.0, 0.0}, p_hi = p_lo, c_lo = p_lo, c_hi = p_lo;
  // lo, lo + 1 and their mirrors hi + 1, hi (hi = m - 2 - lo).
  std::int64_t lo = 0, hi = m - 2;
  for (; lo + 2 <= hi; lo += 2, hi -= 2) {
    const Pair a = load(rev + lo), b = load(rev + hi);
    const Pair na = a - kp * swapped(b), nb = b - kp * swapped(a);
    store(rev + lo, na);
    store(rev + hi, nb);
    p_lo += na * load(sk + lo);
    c_lo += na * load(gk + lo);
    p_hi += nb * load(sk + hi);
    c_hi += nb * load(gk + hi);
  }
  double pred = (p_lo[0] + p_lo[1]) + (p_hi[0] + p_hi[1]);
  double conv = (c_lo[0] + c_lo[1]) + (c_hi[0] + c_hi[1]);
  // Fewer than four in the middle: k = lo .. hi + 1, by mirror pairs.
  std::int64_t j = lo, k = hi + 1;
  for (; j < k; ++j, --k) {
    const double a = rev[j], b = rev[k];
    const double na = a - kappa * b, nb = b - kappa * a;
    rev[j] = na;
    rev[k] = nb;
    pred += na * sk[j] + nb * sk[k];
    conv += na * gk[j] + nb * gk[k];
  }
  if (j == k) {  // the middle coefficient is its own mirror
    const double na = rev[j] - kappa * rev[j];
    rev[j] = na;
    pred += na * sk[j];
    conv += na * gk[j];
  }
  // phi_(m+1,m+1) = kappa, just below the rest.
  rev[-1] = kappa;
  LevinsonSums out;
  out.pred = kappa * s[0] + pred;
  out.conv = kappa * gamma[1] + conv;
  return out;
}

}  // namespace mvtsa
