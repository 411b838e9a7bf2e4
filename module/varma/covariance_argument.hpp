// The innovation covariance argument of the VARMA functions (VNORMAL,
// VARMACOV, VARMALIK, VARMASIM and the statistics built on them), made ready
// for their kernels.
#pragma once

namespace mvtsa {

// With sigma given (k x k, row-major, the argument's own values): sym_check
// (averaging in place), packing, pd_check at 2^-26.5 (kCloseTol) and packing
// again; without it the packed identity.  Returns 0, 10 or 17 from the
// symmetry check, 8 when not positive definite, or 1 when the test's work
// allocation failed.
int covariance_argument(double* sigma, int k, double* packed);

}  // namespace mvtsa
