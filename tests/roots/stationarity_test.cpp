// companion_roots and is_nonstationary: the documented cases, the path
// choice for first-order blocks, the determinant property of the roots,
// lag spreading and the failure paths.
#include "module/roots/stationarity.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <limits>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"

namespace {

using Vec = std::vector<double>;
using cd = std::complex<double>;

class Stationarity : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.activate();
    mvtsa::set_host_table(host_.table());
  }
  void TearDown() override {
    EXPECT_EQ(host_.live_blocks(), 0);
    EXPECT_EQ(host_.live_temp_blocks(), 0);
  }
  // is_nonstationary on a copy of coef (k x k blocks, p of them).
  int test(Vec coef, int k, int p, Vec* roots, int* st = nullptr) {
    roots->assign(2 * k * p, 0.0);
    return mvtsa::is_nonstationary(coef.data(), p, p, nullptr, k, roots->data(), st);
  }
  mvts::Host host_;
};

TEST_F(Stationarity, UnivariateFirstOrder) {
  Vec r;
  EXPECT_EQ(test({0.5}, 1, 1, &r), 0);
  EXPECT_EQ(r, (Vec{0.5, 0.0}));
  EXPECT_EQ(test({-1.0}, 1, 1, &r), 1);
  EXPECT_EQ(r, (Vec{-1.0, 0.0}));
  // Modulus 1 - 1e-8 lies within 2^-26.5 of the circle.
  EXPECT_EQ(test({0.99999999}, 1, 1, &r), 1);
  EXPECT_EQ(test({0.9999999}, 1, 1, &r), 0);
  EXPECT_EQ(test({1.5}, 1, 1, &r), 1);
}

TEST_F(Stationarity, SecondOrderComplexPair) {
  // C = [[0, -0.25], [1, 0]]: roots +-0.5i, positive imaginary part first.
  Vec r;
  EXPECT_EQ(test({0.0, -0.25}, 1, 2, &r), 0);
  EXPECT_NEAR(r[0], 0.0, 1e-16);
  EXPECT_NEAR(r[1], 0.5, 1e-16);
  EXPECT_NEAR(r[2], 0.0, 1e-16);
  EXPECT_NEAR(r[3], -0.5, 1e-16);
  // Phi_2 = -1: roots +-i on the circle.
  EXPECT_EQ(test({0.0, -1.0}, 1, 2, &r), 1);
}

TEST_F(Stationarity, SymmetricFirstOrderBlockTakesTheSymmetricPath) {
  Vec r;
  EXPECT_EQ(test({0.5, 0.1, 0.1, 0.5}, 2, 1, &r), 0);
  EXPECT_NEAR(r[0], 0.6, 1e-15);
  EXPECT_NEAR(r[2], 0.4, 1e-15);
  EXPECT_EQ(r[1], 0.0);
  EXPECT_EQ(r[3], 0.0);
  // The symmetric path takes three work blocks, the general path two:
  // failing the third allocation stops only the symmetric one.
  host_.fail_allocation_at(3);
  int st = -1;
  r.assign(4, 0.0);
  Vec sym = {0.5, 0.1, 0.1, 0.5};
  EXPECT_EQ(mvtsa::companion_roots(sym.data(), 2, 1, r.data()), mvtsa::kRootsHostError);
  EXPECT_EQ(r, Vec(4, 0.0));  // untouched
  EXPECT_NE(host_.current().raised_error, 0);
  host_.fail_allocation_at(3);
  EXPECT_EQ(test({0.5, 0.2, 0.1, 0.5}, 2, 1, &r, &st), 0);
  EXPECT_EQ(st, mvtsa::kRootsOk);
  host_.fail_allocation_at(0);
  // Symmetric within 2^-26.5 of the largest entry: averaged in place.
  Vec near = {0.5, 0.1, 0.1 + 1e-12, 0.5};
  EXPECT_EQ(mvtsa::companion_roots(near.data(), 2, 1, r.data()), mvtsa::kRootsOk);
  EXPECT_EQ(near[1], near[2]);
}

TEST_F(Stationarity, RootsAnnihilateTheMatrixPolynomial) {
  // Every root z of the companion matrix makes
  // det(z^p I - z^(p-1) Phi_1 - ... - Phi_p) vanish; there are k p of them.
  std::mt19937_64 rng(3);
  std::normal_distribution<double> g(0.0, 0.4);
  const int k = 2, p = 3;
  Vec phi(k * k * p);
  for (double& x : phi) x = g(rng);
  Vec r;
  test(phi, k, p, &r);
  for (int i = 0; i < k * p; ++i) {
    const cd z(r[2 * i], r[2 * i + 1]);
    cd m[2][2];
    for (int a = 0; a < 2; ++a)
      for (int b = 0; b < 2; ++b) {
        m[a][b] = a == b ? std::pow(z, p) : 0.0;
        for (int j = 1; j <= p; ++j) m[a][b] -= std::pow(z, p - j) * phi[(j - 1) * 4 + a * 2 + b];
      }
    const double scale = std::pow(std::max(1.0, std::abs(z)), 2 * p);
    EXPECT_LT(std::abs(m[0][0] * m[1][1] - m[0][1] * m[1][0]) / scale, 1e-12) << i;
  }
  // Ordering: real parts descending, pairs (+, -) adjacent.
  for (int i = 0; i + 1 < k * p; ++i) EXPECT_GE(r[2 * i], r[2 * i + 2] - 1e-15);
  for (int i = 0; i < k * p; ++i)
    if (r[2 * i + 1] > 0) {
      EXPECT_EQ(r[2 * i + 3], -r[2 * i + 1]);
      ++i;
    } else {
      EXPECT_EQ(r[2 * i + 1], 0.0) << "negative imaginary part leads a pair at " << i;
    }
}

TEST_F(Stationarity, HugeRootIsMeasuredWithoutOverflow) {
  Vec r;
  EXPECT_EQ(test({2e152, 0.0, 0.0, 0.5}, 2, 1, &r), 1);
  EXPECT_EQ(r[0], 2e152);
  // Non-symmetric with a huge complex pair.
  EXPECT_EQ(test({0.0, -4e304, 1.0, 0.0}, 2, 1, &r), 1);
  EXPECT_NEAR(r[1] / 2e152, 1.0, 1e-15);
}

TEST_F(Stationarity, LagIndexArraySpreadsBlocks) {
  // One block Phi = -0.25 standing at lag 2 of a second-order polynomial.
  Vec coef = {-0.25}, r(4, 0.0);
  const int lags[] = {2};
  EXPECT_EQ(mvtsa::is_nonstationary(coef.data(), 1, 2, lags, 1, r.data()), 0);
  EXPECT_NEAR(r[1], 0.5, 1e-16);
  EXPECT_NEAR(r[3], -0.5, 1e-16);
}

TEST_F(Stationarity, FailuresCountAsNonstationary) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Vec r;
  int st = -1;
  // Missing value in a first-order block: no roots written.
  EXPECT_EQ(test({0.1, nan, 0.0, 0.2}, 2, 1, &r, &st), 1);
  EXPECT_EQ(st, mvtsa::kRootsMissing);
  EXPECT_EQ(r, Vec(4, 0.0));
  // Missing value in a higher-order polynomial: the eigenvalue routine refuses.
  EXPECT_EQ(test({0.1, 0.0, nan, 0.2}, 1, 4, &r, &st), 1);
  EXPECT_EQ(st, mvtsa::kRootsFailed);
  EXPECT_EQ(r, Vec(8, 0.0));
  // The temporary block refused: host error raised, nothing live.
  host_.fail_allocation_at(1);
  EXPECT_EQ(test({0.1, 0.2}, 1, 2, &r, &st), 1);
  EXPECT_EQ(st, mvtsa::kRootsHostError);
  EXPECT_NE(host_.current().raised_error, 0);
}

}  // namespace
