// The coefficient arguments of the VARMA entry points (VARMACOV, VARMASIM):
// the blocks spread over their lag lists, and the AR stationarity verdict.
#pragma once

#include "module/frame/args.hpp"
#include "module/frame/host.hpp"

namespace mvtsa {

// The coefficient blocks of one part of the model after its lag list: order
// blocks of k x k (zero at unlisted lags).
struct ModelPart {
  int count = 0;            // blocks given by the caller (rows / k)
  MatrixArg arg;            // the coefficient argument as fetched
  WorkBlock<double> blocks; // order blocks, spread over their lags
  int order = 0;            // the largest lag (0 when not given)
};

// Reads the coefficient blocks of `part` (already checked with
// ArgList::coefficients into part->arg / part->count) and applies the lag
// list in slot `lag_slot` (when given; "AR" or "MA" names the part in
// messages).  Returns 0 or the status that ends the call.
int load_model_part(const ArgList& in, int lag_slot, const char* which, int k, ModelPart* part);

// The AR stationarity verdict of Phi_1 .. Phi_p (p > 0): *nonstationary set
// to 1 when a root of the companion matrix lies on or outside the unit
// circle (also when the roots cannot be computed).  Works on a copy of the
// blocks.  Returns 0, or 1 after a failed allocation (host error raised).
int ar_nonstationary(const double* phi, int p, int k, int* nonstationary);

}  // namespace mvtsa
