// The sweep operator on a packed symmetric matrix: a pure kernel (arrays in,
// arrays out, no host state), placed in the service table for modules and
// called directly by tests.
#pragma once

#include <cstdint>

// Sweeps the packed symmetric matrix `a` (order n, lower triangle by rows:
// a_ij at i (i + 1) / 2 + j for j <= i) on pivot k when |a_kk| is above
// `tolerance`.  With S the set of pivots already swept (flags[i] == '1') the
// matrix holds
//   A_SS^-1 in the S block,  A_SS^-1 A_SU in the cross block,
//   A_UU - A_US A_SS^-1 A_SU in the unswept block,
// and sweeping pivot k (d = a_kk) moves k into S:
//   a_ij <- a_ij + a_ik a_kj / d   (i, j in S)
//   a_ij <- a_ij - a_ik a_kj / d   (otherwise, i, j != k)
//   a_ik <- -a_ik / d (i in S),  a_ik / d (i not in S),  a_kk <- 1 / d.
// Once every pivot is swept the matrix holds A^-1.  Returns 0 when swept;
// 1, leaving `a` and `flags` as they were, for a null array, a pivot outside
// 0 .. n-1 or already swept, or |a_kk| not above the tolerance (NaN
// included).  `work` is not used.
extern "C" std::int32_t mvts_sweep_pivot(double* a, std::int32_t k, std::int32_t n, char* flags,
                                         double* work, double tolerance) noexcept;
