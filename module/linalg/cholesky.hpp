// Factorisations of packed symmetric matrices: the Cholesky factorisation
// with a pivot tolerance relative to each row's diagonal, and the floored
// LDL' factorisation of a Gaussian density's covariance with its quadratic
// form.
#pragma once

namespace mvtsa {

inline constexpr double kCholeskyTol = 1e-14;

// One row r of the packed Cholesky factorisation, rows 0..r-1 already
// factored: L(r, r) = sqrt(s) for the pivot s = A(r, r) - sum_c L(r, c)^2
// when s > tolerance |A(r, r)| (and s > 0), else 0; the tolerance is relative
// to the row's own diagonal, so it does not depend on the units.  Returns s.
double cholesky_packed_row(double* a, int r, double tolerance);
// All rows; when min_pivot >= 0 stops at the first row whose |pivot| is
// below min_pivot |A(r, r)| (or whose diagonal is 0) and returns that row + 1
// (0 on success).
int cholesky_packed(double* a, int k, double tolerance, double min_pivot = -1.0);

// Scale-free singularity floor of a Gaussian density's covariance.  The LDL'
// factorisation of the packed symmetric k x k matrix a, in place (the unit
// lower factor L below the diagonal, the pivots d_j on it), in row order,
// with each pivot -- the conditional variance of variable j given variables
// 0 .. j-1 -- raised to at least floor * a_jj, its share of the variable's own
// variance.  The raised matrix L D L' is a covariance again, equal to `a`
// wherever no pivot was raised, so the density it gives stays bounded as `a`
// nears singularity, and rescaling variable j by c_j rescales row and column j
// of the factors alike: the floor does not depend on the units.  A variable
// with a_jj = 0 carries no variance: its pivot is 0 and it is left out of the
// determinant and the quadratic form (a generalized inverse).  *logdet
// receives the sum of log d_j over the positive pivots.  Returns the number of
// pivots raised, or -1 when a diagonal element is negative or not finite.
int floored_ldl(double* a, int k, double floor, double* logdet);

// v' (L D L')^- v for the factors floored_ldl left (pivots 0 left out).
// w: k doubles of scratch.
double ldl_quadratic(const double* ldl, int k, const double* v, double* w);

}  // namespace mvtsa
