// Symmetry check, positive-definiteness test and the packed Cholesky factor.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "module/frame/status.hpp"
#include "module/linalg/covariance.hpp"

namespace {

using mvtsa::packed_index;

TEST(PackedStorage, IndexRunsRowByRowThroughTheLowerTriangle) {
  EXPECT_EQ(packed_index(0, 0), 0);
  EXPECT_EQ(packed_index(1, 0), 1);
  EXPECT_EQ(packed_index(1, 1), 2);
  EXPECT_EQ(packed_index(2, 0), 3);
  EXPECT_EQ(packed_index(0, 2), 3);
  EXPECT_EQ(packed_index(2, 2), 5);
  const double s[9] = {1, 2, 3, 2, 4, 5, 3, 5, 6};
  double p[6];
  mvtsa::pack_symmetric(s, 3, p);
  EXPECT_EQ(std::vector<double>(p, p + 6), (std::vector<double>{1, 2, 4, 3, 5, 6}));
}

TEST(SymCheck, AveragesSmallDifferencesInPlace) {
  double s[4] = {2.0, 1.0, 1.0 + 1e-9, 2.0};
  EXPECT_EQ(mvtsa::sym_check(s, 2), 0);
  EXPECT_EQ(s[1], s[2]);
  EXPECT_DOUBLE_EQ(s[1], 1.0 + 0.5e-9);
}

TEST(SymCheck, RejectsDifferencesBeyondTheRelativeBound) {
  double s[4] = {2.0, 1.0, 1.0 + 3e-8, 2.0};  // bound 2 * 2^-26.5 = 2.1e-8
  EXPECT_EQ(mvtsa::sym_check(s, 2), mvtsa::kStatusNotSymmetric);
  double t[4] = {2.0, 1.0, 1.0 + 2e-8, 2.0};
  EXPECT_EQ(mvtsa::sym_check(t, 2), 0);
}

TEST(SymCheck, MissingValueGives17) {
  double s[4] = {1.0, 0.0, 0.0, std::nan("")};
  EXPECT_EQ(mvtsa::sym_check(s, 2), mvtsa::kStatusMissing);
  double t[4] = {1.0, INFINITY, 0.0, 1.0};
  EXPECT_EQ(mvtsa::sym_check(t, 2), mvtsa::kStatusMissing);
}

int pd(std::vector<double> full, int k) {
  std::vector<double> p(std::size_t(mvtsa::packed_size(k))), work(std::size_t(k * k));
  mvtsa::pack_symmetric(full.data(), k, p.data());
  return mvtsa::pd_check_work(p.data(), k, mvtsa::kCloseTol, work.data());
}

TEST(PdCheck, ClassifiesDefiniteSemidefiniteAndIndefinite) {
  EXPECT_EQ(pd({2, 1, 1, 2}, 2), 0);
  EXPECT_EQ(pd({1, 1, 1, 1}, 2), 100);   // semidefinite: a zero eigenvalue
  EXPECT_EQ(pd({1, 2, 2, 1}, 2), 100);   // indefinite
  EXPECT_EQ(pd({-1, 0, 0, -2}, 2), 100); // negative definite
  EXPECT_EQ(pd({0, 0, 0, 0}, 2), 100);
  EXPECT_EQ(pd({4, 2, 0.6, 2, 2, 0.4, 0.6, 0.4, 3}, 3), 0);
}

TEST(PdCheck, TwoByTwoPivotsOnIndefiniteMatrices) {
  // Zero diagonal with a large off-diagonal forces a 2 x 2 pivot.
  EXPECT_EQ(pd({0, 1, 1, 0}, 2), 100);
  EXPECT_EQ(pd({1e-3, 5, 0, 5, 1e-3, 0, 0, 0, 1}, 3), 100);
}

// Random matrices Q diag(e) Q' with chosen eigenvalue signs: the sign count
// must see every negative or zero eigenvalue, also when 2 x 2 pivots occur.
TEST(PdCheck, AgreesWithChosenEigenvaluesOnRandomMatrices) {
  std::mt19937 gen(7);
  std::normal_distribution<double> N;
  for (int trial = 0; trial < 300; ++trial) {
    const int k = 2 + trial % 7;
    // Orthogonal Q by Gram-Schmidt.
    std::vector<double> q(std::size_t(k * k));
    for (double& x : q) x = N(gen);
    for (int c = 0; c < k; ++c) {
      for (int p = 0; p < c; ++p) {
        double d = 0;
        for (int r = 0; r < k; ++r) d += q[r * k + c] * q[r * k + p];
        for (int r = 0; r < k; ++r) q[r * k + c] -= d * q[r * k + p];
      }
      double n = 0;
      for (int r = 0; r < k; ++r) n += q[r * k + c] * q[r * k + c];
      for (int r = 0; r < k; ++r) q[r * k + c] /= std::sqrt(n);
    }
    std::vector<double> e(static_cast<std::size_t>(k), 0.0);
    const int kind = trial % 3;  // 0 definite, 1 one negative, 2 one zero
    for (int i = 0; i < k; ++i) e[i] = 0.5 + std::fabs(N(gen));
    if (kind == 1) e[trial % k] = -0.5 - std::fabs(N(gen));
    if (kind == 2) e[trial % k] = 0.0;
    std::vector<double> a(std::size_t(k * k), 0.0);
    for (int i = 0; i < k; ++i)
      for (int j = 0; j < k; ++j)
        for (int l = 0; l < k; ++l) a[i * k + j] += q[i * k + l] * e[l] * q[j * k + l];
    EXPECT_EQ(pd(a, k), kind == 0 ? 0 : 100) << "trial " << trial;
  }
}

TEST(CholeskyPacked, FactorReproducesTheMatrix) {
  const int k = 4;
  const double full[16] = {4, 2, 0.6, 1, 2, 2, 0.4, 0.5, 0.6, 0.4, 3, 0.2, 1, 0.5, 0.2, 5};
  std::vector<double> p(10);
  mvtsa::pack_symmetric(full, k, p.data());
  EXPECT_EQ(mvtsa::cholesky_packed(p.data(), k, mvtsa::kCholeskyTol, mvtsa::kCholeskyTol), 0);
  for (int i = 0; i < k; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = 0;
      for (int g = 0; g <= j; ++g) s += p[packed_index(i, g)] * p[packed_index(j, g)];
      EXPECT_NEAR(s, full[i * k + j], 1e-14);
    }
  EXPECT_EQ(p[packed_index(0, 0)], 2.0);
}

TEST(CholeskyPacked, ReportsTheRowWhosePivotIsTooSmall) {
  const double full[9] = {1, 1, 0, 1, 1, 0, 0, 0, 1};  // rank 2: row 1 has pivot 0
  std::vector<double> p(6);
  mvtsa::pack_symmetric(full, 3, p.data());
  EXPECT_EQ(mvtsa::cholesky_packed(p.data(), 3, mvtsa::kCholeskyTol, mvtsa::kCholeskyTol), 2);
  EXPECT_EQ(p[packed_index(1, 1)], 0.0);  // s not above the tolerance: L(1,1) = 0
}

TEST(MvnTransform, LowerTriangularProductPerRow) {
  const double l[3] = {2, 1, 3};  // L = [[2, 0], [1, 3]]
  const double z[4] = {1, 2, -1, 0.5};
  double out[4];
  mvtsa::mvn_transform(out, z, l, 2, 2);
  EXPECT_EQ(out[0], 2.0);
  EXPECT_EQ(out[1], 1.0 + 6.0);
  EXPECT_EQ(out[2], -2.0);
  EXPECT_EQ(out[3], -1.0 + 1.5);
}

}  // namespace
