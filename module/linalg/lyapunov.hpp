// The discrete Lyapunov (Stein) equation X = A X A' + Q.  Pure routine: the
// caller supplies every array, nothing is allocated, no host service is
// called.
#pragma once

#include <cstdint>

namespace mvtsa {

// Outcomes of discrete_lyapunov.
enum LyapunovStatus : int {
  kLyapunovOk = 0,
  kLyapunovSingular = 1,  // 1 - lambda_i lambda_j is too small for some pair of eigenvalues
  kLyapunovNoSchur = 2,   // the Schur form of A could not be computed
};

// Doubles of work area discrete_lyapunov needs for order n: 4 n^2 + 6 n + 2
// (UINT64_MAX when that cannot be represented).
std::uint64_t discrete_lyapunov_work(std::int64_t n);

// Solves X = A X A' + Q for the row-major n x n matrices A and Q into x
// (n x n), in O(n^3) operations and O(n^2) memory, by the Bartels-Stewart
// method in its form for the discrete equation (Bartels and Stewart 1972,
// Barraud 1977): A = U S U' (real_schur), C = U' Q U, then Y = S Y S' + C is
// solved one block column J at a time from the last, and within it one block
// row I at a time from the last, S being upper quasi-triangular.  With
// Z_IJ = sum_{L > J} Y_IL S_JL' known from the columns already solved, each
// block Y_IJ solves the system of order 1, 2 or 4
//   Y_IJ - S_II Y_IJ S_JJ' = C_IJ + S_II Z_IJ + sum_{K > I} S_IK (Z_KJ + Y_KJ S_JJ'),
// and X = U Y U'.  One step of iterative refinement follows: the residual
// R = Q - X + A X A' is accumulated in long double (64-bit significand on
// x86-64) and X += the solution for R on the same Schur form.  It matters
// near a unit root, where the rounding of the Schur form alone would cost
// about u / (1 - |lambda|^2) relative.  Every block system I - S_II (x) S_JJ
// is solved by Gaussian elimination with partial pivoting; a pivot below
// pivot_tol in magnitude stops the solve with kLyapunovSingular, as does a
// pivot that is not a number.  x is not symmetrised (for a symmetric Q it is symmetric up to
// rounding).  kLyapunovNoSchur: the QR iteration did not converge within
// real_schur_iterations(n) sweeps (also the outcome for NaN or infinite A).
// work: discrete_lyapunov_work(n) doubles.
int discrete_lyapunov(std::int64_t n, const double* a, const double* q, double pivot_tol,
                      double* x, double* work);

}  // namespace mvtsa
