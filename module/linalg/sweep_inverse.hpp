// Inversion of a packed symmetric matrix by sweeping every pivot in turn
// through the host's sweep operation.
#pragma once

namespace mvtsa {

// Inverts the packed symmetric k x k matrix in place by sweeping pivots
// 0, 1, ..., k-1, pivot i with tolerance 2^-26.5 times its diagonal value
// before any sweep.  `flags` holds k characters (set to '0' here), `work` k
// doubles (the saved diagonal).  Returns the number of pivots swept; fewer
// than k means singular.
int sweep_inverse(double* packed, int k, char* flags, double* work);

}  // namespace mvtsa
