// Characteristic roots of a VARMA polynomial and the stationarity
// (invertibility) test shared by the VARMA functions.
//
// The polynomial I - C_1 z - ... - C_p z^p (C = Phi for the AR part, Theta
// for the MA part) is stationary (invertible) when every eigenvalue of its
// companion matrix lies strictly inside the unit circle.  The coefficient
// array holds p blocks of k x k doubles one after the other, block j = C_{j+1}
// row by row: the (k p) x k layout of the phi and theta arguments, already
// expanded to the full order (zero blocks at lags a lag list leaves out).
//
// Typical use in an entry point (work from the host, zero-filled):
//
//   WorkBlock<double> roots(2 * std::uint64_t(k) * p);   // 16 k p bytes
//   if (!roots) return roots.status();
//   WorkBlock<double> work(is_nonstationary_work(phi_copy, p, p, nullptr, k));
//   if (!work) return work.status();
//   const int nonstationary =
//       is_nonstationary(phi_copy, p, p, nullptr, k, roots.data(), work.data());
//   if (nonstationary) ...
#pragma once

#include <cstdint>

#include "module/frame/tolerances.hpp"

namespace mvtsa {

// companion_roots results.
enum CompanionRootsCode : int {
  kCompanionRootsOk = 0,
  kCompanionRootsFailed = 2,     // the eigenvalue routine failed
  kCompanionRootsMissing = 17,   // a missing value in a first-order block
  kCompanionRootsCancelled = 3,  // the caller cancelled the call: end it (398)
};

// Tolerance of the unit-circle test: 2^-26.5.
inline constexpr double kUnitCircleTol = kCloseTol;

// Fills roots (2 k p doubles: m = k p (real, imaginary) pairs) with the
// eigenvalues of the m x m companion matrix
//   C = [C_1 C_2 ... C_p; I 0 ... 0; ...; 0 ... I 0]   (C = C_1 when p = 1),
// real parts descending, a conjugate pair adjacent with the positive
// imaginary part first.  A symmetric first-order block (within the symmetry
// check's tolerance; the check averages it into exact symmetry in place)
// goes to the symmetric solver, and its roots are real, descending.
// work: companion_roots_work(coef, k, p) doubles, from the caller; nothing
// is allocated.  On any failure the roots are left as they were and the
// result says why (kCompanionRoots*).
int companion_roots(double* coef, int k, int p, double* roots, double* work);

// Doubles of work companion_roots needs for these coefficients: the order of
// the companion matrix it builds depends on which blocks are zero (blocks
// at lags g, 2g, ..., r g only: order k r), so one distant lag costs O(k^2),
// not O((k p)^2).  The full companion matrix takes (k p)^2 + 5 k p + 260.
std::uint64_t companion_roots_work(const double* coef, int k, int p);

// 1 when some root of the polynomial has modulus >= 1 - kUnitCircleTol
// (on or outside the unit circle), else 0.  coef holds `blocks` blocks; when
// blocks equals p (every caller) they stand at lags 1..p and `lags` is not
// read.  Otherwise lags[j] (1-based) names the lag of block j, and the blocks
// are spread over a zero-filled array of p blocks first (a lag outside 1..p
// places its block nowhere).  roots: 2 k p doubles of caller scratch.
//
// work: is_nonstationary_work(coef, blocks, p, lags, k) doubles.
//
// When the roots cannot be computed (eigenvalue failure, a missing value)
// the polynomial is NOT taken as stationary: the result is 1.  roots_status,
// when given, receives the companion_roots result, so that a cancelled call
// (kCompanionRootsCancelled: end it with cancelled()) is told from a root on
// or outside the circle.
int is_nonstationary(double* coef, int blocks, int p, const int* lags, int k, double* roots,
                     double* work, int* roots_status = nullptr);

// Doubles of work of is_nonstationary: companion_roots_work when blocks
// equals p; otherwise the spread blocks (k k p) and room for the roots of
// any placement of the blocks (about (k p)^2 + 2 k k p).
std::uint64_t is_nonstationary_work(const double* coef, int blocks, int p, const int* lags,
                                    int k);

}  // namespace mvtsa
