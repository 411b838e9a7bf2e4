#include "module/farma/durbin_levinson.hpp"

#include <cstring>

namespace mvtsa {

// Layout of the work space at order m: fwd[k] = phi_(m,k+1) (k < m) from the
// start, and the reversed copy phi_(m,m), ..., phi_(m,1) in the m doubles
// that end one before the last (the last one is never used).  With rev
// pointing at the first of them, rev[k] = phi_(m,m-k), one forward pass does
//   fwd[k] <- phi_(m,k+1) - kappa phi_(m,m-k)   = phi_(m+1,k+1),
//   rev[k] <- phi_(m,m-k) - kappa phi_(m,k+1)   = phi_(m+1,m-k),
//   pred   += phi_(m+1,m-k) s_(k+1),   conv += phi_(m+1,m-k) gamma(k+2),
// and phi_(m+1,m+1) = kappa goes to rev[-1]: the reversed copy of order
// m + 1 starts one place lower.  Every array is read at index k, so the loop
// runs four consecutive k at a time in vector registers.  Each inner product
// is kept as four interleaved partial sums (terms k = 0, 1, 2, 3 mod 4),
// which keeps the additions independent and fixes the rounding order.
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

}  // namespace

LevinsonSums levinson_step(double* work, std::int64_t n, std::int64_t m, double kappa,
                           const double* s, const double* gamma) {
  double* __restrict fwd = work;
  double* __restrict rev = work + 2 * n - 1 - m;  // rev[k] = phi_(m,m-k), k < m
  const double* __restrict sk = s + 1;            // s_(k+1)
  const double* __restrict gk = gamma + 2;        // gamma(k+2)
  const Pair kp = {kappa, kappa};
  // Partial sums: p01 holds the terms with k = 0, 1 mod 4, p23 those with
  // k = 2, 3 mod 4; likewise c01 and c23.
  Pair p01 = {0.0, 0.0}, p23 = p01, c01 = p01, c23 = p01;
  std::int64_t k = 0;
  for (; k + 4 <= m; k += 4) {
    const Pair f0 = load(fwd + k), f2 = load(fwd + k + 2);
    const Pair r0 = load(rev + k), r2 = load(rev + k + 2);
    const Pair n0 = r0 - kp * f0, n2 = r2 - kp * f2;
    store(fwd + k, f0 - kp * r0);
    store(fwd + k + 2, f2 - kp * r2);
    store(rev + k, n0);
    store(rev + k + 2, n2);
    p01 += n0 * load(sk + k);
    p23 += n2 * load(sk + k + 2);
    c01 += n0 * load(gk + k);
    c23 += n2 * load(gk + k + 2);
  }
  double p[4] = {p01[0], p01[1], p23[0], p23[1]}, c[4] = {c01[0], c01[1], c23[0], c23[1]};
  for (int l = 0; k < m; ++k, ++l) {
    const double f = fwd[k], r = rev[k];
    const double nr = r - kappa * f;
    fwd[k] = f - kappa * r;
    rev[k] = nr;
    p[l] += nr * sk[k];
    c[l] += nr * gk[k];
  }
  // phi_(m+1,m+1) = kappa, in order at fwd[m] and reversed just below the rest.
  fwd[m] = kappa;
  rev[-1] = kappa;
  LevinsonSums out;
  out.pred = kappa * s[0] + ((p[0] + p[1]) + (p[2] + p[3]));
  out.conv = kappa * gamma[1] + ((c[0] + c[1]) + (c[2] + c[3]));
  return out;
}

}  // namespace mvtsa
