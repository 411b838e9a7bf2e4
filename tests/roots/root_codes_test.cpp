// The two root finders side by side.  This file includes both of their
// headers: their return codes are two families (kPolyRoots*, kCompanionRoots*)
// and must keep distinct names for it to compile.  The test checks that the
// two agree on a scalar AR polynomial: the eigenvalues of the companion
// matrix of 1 - phi_1 z - ... - phi_p z^p are the zeros of
// w^p - phi_1 w^(p-1) - ... - phi_p.
#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <vector>

#include "host/host.hpp"
#include "module/farma/poly_roots.hpp"
#include "module/frame/host.hpp"
#include "module/linalg/companion_roots.hpp"

namespace {

using cplx = std::complex<double>;

bool by_real_then_imaginary(const cplx& a, const cplx& b) {
  return a.real() != b.real() ? a.real() > b.real() : a.imag() > b.imag();
}

TEST(RootCodes, CompanionEigenvaluesAreTheJenkinsTraubZeros) {
  mvts::Host host;
  host.activate();
  mvtsa::set_host_table(host.table());
  // AR(3) with a real root 0.5 and the pair 0.6 +- 0.3i (phi from the
  // expansion of (w - 0.5)(w^2 - 1.2 w + 0.45)).
  const std::vector<double> phi = {1.7, -1.05, 0.225};
  const int p = static_cast<int>(phi.size());

  std::vector<double> coef = phi, roots(2 * p, 0.0);
  std::vector<double> roots_work(mvtsa::companion_roots_work(coef.data(), 1, p));
  ASSERT_EQ(mvtsa::companion_roots(coef.data(), 1, p, roots.data(), roots_work.data()),
            mvtsa::kCompanionRootsOk);

  std::vector<double> poly = {1.0};
  for (double f : phi) poly.push_back(-f);
  int degree = p;
  std::vector<double> re(p), im(p), work(mvtsa::poly_roots_work_size(p));
  ASSERT_EQ(mvtsa::poly_roots(poly.data(), &degree, re.data(), im.data(), work.data()),
            mvtsa::kPolyRootsOk);
  ASSERT_EQ(degree, p);

  std::vector<cplx> a, b;
  for (int i = 0; i < p; ++i) {
    a.emplace_back(roots[2 * i], roots[2 * i + 1]);
    b.emplace_back(re[i], im[i]);
  }
  std::sort(b.begin(), b.end(), by_real_then_imaginary);
  const std::vector<cplx> exact = {{0.6, 0.3}, {0.6, -0.3}, {0.5, 0.0}};
  for (int i = 0; i < p; ++i) {
    EXPECT_NEAR(std::abs(a[i] - exact[i]), 0.0, 1e-14) << "companion root " << i;
    EXPECT_NEAR(std::abs(b[i] - exact[i]), 0.0, 1e-14) << "Jenkins-Traub zero " << i;
  }
  EXPECT_EQ(host.live_blocks(), 0);
}

}  // namespace
