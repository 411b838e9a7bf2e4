// Real Schur decomposition of a general real matrix, with its Schur vectors.
// Pure routine: the caller supplies every array, nothing is allocated, no
// host service is called.
#pragma once

#include <cstdint>

namespace mvtsa {

// Iterations of the double-shift QR sweep allowed on one active block before
// the decomposition is declared failed: 30 max(10, n).
inline std::int64_t real_schur_iterations(std::int64_t n) { return 30 * (n > 10 ? n : 10); }

// Doubles of work area real_schur needs for order n.
inline std::int64_t real_schur_work(std::int64_t n) { return 2 * n; }

// A = U S U' for the row-major n x n matrix held in `a`, which is replaced by
// S; `u` (n x n, row-major) receives the orthogonal U.
//
// Method: Householder reduction to upper Hessenberg form with the reflectors
// accumulated into U, then the Francis double-shift QR iteration (Golub and
// Van Loan, Matrix Computations, sections 7.4 and 7.5; the engine of
// hessenberg_qr.hpp with Schur vectors wanted) on the whole matrix,
// with the deflation test of Ahues and Tisseur and exceptional shifts every
// tenth iteration on a block; every transformation is applied to the full
// rows and columns of S and to U.  Each 2 x 2 diagonal block is put
// in standard form by one plane rotation: a real pair is split into two 1 x 1
// blocks, a complex pair x +- i y keeps the block [[x, b], [c, x]] with
// b c < 0.
//
// On 0, S is upper quasi-triangular: a subdiagonal entry is nonzero only
// inside a 2 x 2 block of a complex pair, and every entry below the
// subdiagonal is exactly zero.  Returns the 1-based row at which the QR
// iteration needed more than max_iterations sweeps on one block (NaN or
// infinite entries end there too), or kQrCancelled (hessenberg_qr.hpp) when
// the caller cancelled the call; S and U are then not a decomposition.
// work: real_schur_work(n) doubles.
int real_schur(std::int64_t n, double* a, double* u, double* work, std::int64_t max_iterations);

}  // namespace mvtsa
