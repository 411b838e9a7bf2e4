#include "module/varma/mvn_draw.hpp"

#include <algorithm>
#include <cstring>

#include "module/frame/host.hpp"
#include "module/frame/sizes.hpp"
#include "module/frame/status.hpp"
#include "module/linalg/cholesky.hpp"
#include "module/linalg/packed.hpp"

namespace mvtsa {

// Plain loops rather than one short vector call per element: for the small
// k of a multivariate draw the call overhead would cost more than the
// arithmetic, and the generator itself is the floor.
void mvn_transform(double* out, const double* z, const double* l, std::int64_t n, int k) {
  for (std::int64_t t = 0; t < n; ++t) {
    const double* zt = z + t * k;
    double* ot = out + t * k;
    const double* lm = l;
    for (int m = 0; m < k; ++m) {
      double s = 0.0;
      for (int g = 0; g <= m; ++g) s += lm[g] * zt[g];
      ot[m] = s;
      lm += m + 1;
    }
  }
}

// Rows of deviates drawn at a time by mvn_draw.
constexpr std::int64_t kDrawBlockRows = 4096;

int mvn_draw(double* out, const double* mu, const double* packed_sigma, std::int64_t n, int k,
             double seed, double* work, Stream stream) {
  // The generator record in the host context (made on first use).
  RngState* state = nullptr;
  if (int st = rng_state(&state)) return st;
  // L from a copy of sigma; any pivot below 1e-14 of its variable's variance
  // ends the draw.
  const std::int64_t np = packed_size(k);
  double* l = work;
  std::memcpy(l, packed_sigma, sizeof(double) * np);
  if (cholesky_packed(l, k, kCholeskyTol, kCholeskyTol) != 0) return -1;
  // k (n + 1) deviates are drawn and the first k n used: the stream
  // advances by k (n + 1).  Each deviate takes its own two uniforms, so the
  // draws may be made a block of rows at a time into a small buffer: the
  // work stays that block whatever n is.
  const std::int64_t rows = std::min<std::int64_t>(n + 1, kDrawBlockRows);
  WorkBlock<double> z(checked_mul(std::uint64_t(k), std::uint64_t(rows)));
  if (!z) return z.status();
  // The stream's seed, then every deviate in index order.
  std::uint32_t* seed_var = nullptr;
  if (int st = rng_start(stream, seed, &seed_var)) return st;
  // x_t = L z_t, skipped when L is exactly the identity.
  bool identity = true;
  for (int i = 0; i < k && identity; ++i)
    for (int j = 0; j <= i && identity; ++j)
      identity = l[packed_index(i, j)] == (i == j ? 1.0 : 0.0);
  for (std::int64_t t = 0; t < n; t += rows) {
    const std::int64_t m = std::min(rows, n - t);
    double* target = identity ? out + t * k : z.data();
    rng_normal_fill(seed_var, target, m * k);
    if (!identity) mvn_transform(out + t * k, z.data(), l, m, k);
  }
  rng_normal_fill(seed_var, z.data(), k);  // the row drawn and not used
  // Plus the mean.
  if (mu)
    for (std::int64_t t = 0; t < n; ++t)
      for (int j = 0; j < k; ++j) out[t * k + j] += mu[j];
  return kStatusOk;
}

}  // namespace mvtsa
