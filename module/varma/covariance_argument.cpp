#include "module/varma/covariance_argument.hpp"

#include "module/frame/status.hpp"
#include "module/frame/tolerances.hpp"
#include "module/linalg/covariance_checks.hpp"
#include "module/linalg/packed.hpp"

namespace mvtsa {

int covariance_argument(double* sigma, int k, double* packed) {
  if (sigma == nullptr) {
    packed_identity(k, packed);
    return kStatusOk;
  }
  if (int st = sym_check(sigma, k)) return st;
  pack_symmetric(sigma, k, packed);
  // A failed work allocation inside the test is a host error, not a verdict.
  if (int st = pd_check(packed, k, kCloseTol)) return st == kStatusHostError ? st : kStatusNotPd;
  pack_symmetric(sigma, k, packed);  // the test overwrote the packed copy
  return kStatusOk;
}

}  // namespace mvtsa
