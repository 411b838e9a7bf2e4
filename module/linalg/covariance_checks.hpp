// The tests a covariance matrix passes before use: symmetry (within
// 2^-26.5 of its largest element) and positive definiteness (Bunch-Kaufman
// diagonal pivoting with an eigenvalue-sign count).
#pragma once

namespace mvtsa {

// 0, 10 (not symmetric beyond a * 2^-26.5, a = largest |element|) or 17
// (missing value).  Pairs that differ by a nonzero amount within the bound
// are replaced by their mean, in place.
int sym_check(double* s, int k);

// Bunch-Kaufman diagonal pivoting (alpha = (1 + sqrt 17) / 8) on the
// correlation matrix of the packed matrix (overwritten), and the
// eigenvalue-sign count from the block diagonal, a value within `tolerance`
// of zero counting as zero: scaled so, the test is the same in any units.
// 0 when positive definite, 100 otherwise (also for a diagonal element that
// is not positive), 1 when the work allocation fails (after raising the host
// error).
int pd_check(double* packed, int k, double tolerance);
// The same with caller-supplied work space of k*k doubles (no host access).
int pd_check_work(double* packed, int k, double tolerance, double* work);

inline constexpr double kBunchKaufmanAlpha = 0.6403882032022076;  // (1 + sqrt(17)) / 8

}  // namespace mvtsa
