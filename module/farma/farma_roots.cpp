#include "module/farma/farma_roots.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/farma/poly_roots.hpp"
#include "module/frame/host.hpp"
#include "module/frame/status.hpp"
#include "module/linalg/complex_modulus.hpp"

namespace mvtsa {

int farma_ar_roots(const double* ar, int p, double* roots, double* work, bool* complex_flag) {
  double* re = work;
  double* im = re + p;
  double* jt = im + p;
  std::memset(re, 0, sizeof(double) * std::size_t(2 * p));
  int degree = p;
  const int code = poly_zeros(ar, &degree, re, im, jt);
  if (code == kPolyRootsLeadingZero) issue_message(kMsgNoRoots);
  if (code == kPolyRootsNoConvergence) issue_message(kMsgRootsGaveUp, {degree});
  // Real parts ascending, then imaginary parts (a missing value last), so
  // that equal roots are neighbours; the index array lies over the root
  // finder's work space, free again.
  int* order = reinterpret_cast<int*>(jt);
  for (int j = 0; j < p; ++j) order[j] = j;
  auto less = [](double a, double b) {
    const bool na = std::isnan(a), nb = std::isnan(b);
    return na != nb ? nb : (!na && a < b);
  };
  std::sort(order, order + p, [&](int a, int b) {
    if (less(re[a], re[b]) || less(re[b], re[a])) return less(re[a], re[b]);
    return less(im[a], im[b]);
  });
  *complex_flag = false;
  for (int j = 0; j < p; ++j) {
    roots[2 * j] = re[order[j]];
    roots[2 * j + 1] = im[order[j]];
    if (im[order[j]] != 0.0) *complex_flag = true;
  }
  return code;
}

int farma_root_check(const double* roots, int p) {
  for (int j = 0; j < p; ++j)
    if (complex_modulus(roots + 2 * j) >= 1.0) return kStatusNonstationary;
  // Sorted: a repeated root has its copy next to it.
  for (int j = 0; j + 1 < p; ++j)
    if (roots[2 * j] == roots[2 * j + 2] && roots[2 * j + 1] == roots[2 * j + 3])
      return kMsgRepeatedRoots;
  return 0;
}

}  // namespace mvtsa
