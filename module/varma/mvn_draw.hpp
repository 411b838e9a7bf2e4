// Multivariate normal draws for VNORMAL and VARMASIM: x_t = mu + L z_t with
// L L' = Sigma (the packed Cholesky factor) and z_t independent standard
// normal deviates from the module's generator (frame/rng.hpp).
#pragma once

#include <cstdint>

#include "module/frame/rng.hpp"

namespace mvtsa {

// Draws n vectors of dimension k with covariance L L' (packed sigma,
// factored here) and mean mu (or none) from the given stream; the work area
// holds k(k+1)/2 + k doubles.  k (n + 1) deviates are drawn and the first
// k n used, in index order.  Returns 0, 1 (host error) or -1 (a Cholesky
// pivot below kCholeskyTol of its diagonal).
int mvn_draw(double* out, const double* mu, const double* packed_sigma, std::int64_t n, int k,
             double seed, double* work, Stream stream);

// The transform of mvn_draw alone: out(t, m) = sum_{g <= m} L(m, g) z(t, g).
void mvn_transform(double* out, const double* z, const double* packed_l, std::int64_t n, int k);

}  // namespace mvtsa
