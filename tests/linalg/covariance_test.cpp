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
    // the same verdict in other units: D A D for D = diag(10^-8 .. 10^8)
    std::vector<double> b = a;
    for (int i = 0; i < k; ++i)
      for (int j = 0; j < k; ++j)
        b[i * k + j] *= std::pow(10.0, -8.0 + 16.0 * i / (k - 1)) *
                        std::pow(10.0, -8.0 + 16.0 * j / (k - 1));
    EXPECT_EQ(pd(b, k), kind == 0 ? 0 : 100) << "trial " << trial << " rescaled";
  }
}

// The verdict is on the correlation matrix: variances of 1e-200 or 1e200
// are as positive definite as variances of 1, and a conditional variance
// below 2^-26.5 of the variance counts as zero in any units.
TEST(PdCheck, ToleranceIsRelativeToTheVariances) {
  for (double v : {1e-200, 1e-12, 1.0, 1e12, 1e200}) {
    EXPECT_EQ(pd({v, 0.5 * v, 0.5 * v, v}, 2), 0) << v;
    EXPECT_EQ(pd({v, 0, 0, 1.0}, 2), 0) << v;
    const double r = 1.0 - 1e-12;  // 1 - r^2 = 2e-12
    EXPECT_EQ(pd({v, r * v, r * v, v}, 2), 100) << v;
  }
}

// floored_ldl of a positive definite matrix is its exact LDL' (nothing
// raised): the log-determinant and the quadratic form of a solve.
TEST(FlooredLdl, ExactForAWellConditionedMatrix) {
  const int k = 4;
  const double full[16] = {4, 2, 0.6, 1, 2, 2, 0.4, 0.5, 0.6, 0.4, 3, 0.2, 1, 0.5, 0.2, 5};
  // det by cofactor-free elimination on a copy: the product of the pivots
  std::vector<double> g(full, full + 16);
  double det = 1.0;
  for (int j = 0; j < k; ++j) {
    det *= g[j * k + j];
    for (int i = j + 1; i < k; ++i) {
      const double f = g[i * k + j] / g[j * k + j];
      for (int c = j; c < k; ++c) g[i * k + c] -= f * g[j * k + c];
    }
  }
  std::vector<double> p(10), w(4);
  mvtsa::pack_symmetric(full, k, p.data());
  double logdet = 0.0;
  ASSERT_EQ(mvtsa::floored_ldl(p.data(), k, mvtsa::kCloseTol, &logdet), 0);
  EXPECT_NEAR(logdet, std::log(det), 1e-14);
  // v = A x for x = (1, -2, 0.5, 3): v' A^-1 v = x' A x
  const double x[4] = {1, -2, 0.5, 3};
  double v[4] = {0, 0, 0, 0}, xax = 0.0;
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < k; ++j) v[i] += full[i * k + j] * x[j];
  for (int i = 0; i < k; ++i) xax += x[i] * v[i];
  EXPECT_NEAR(mvtsa::ldl_quadratic(p.data(), k, v, w.data()), xax, 1e-12 * xax);
}

// Rescaling variable j by c_j rescales the floored factors alike: the
// log-determinant moves by 2 sum log c_j and the quadratic form of C v is
// unchanged, with a pivot raised (rank 2 of 3) or a variable of zero variance
// left out.  A negative diagonal element is refused.
TEST(FlooredLdl, RaisedPivotsFollowTheUnits) {
  const int k = 3;
  // rows 0 and 1 equal: the second conditional variance is 0, raised to
  // 2^-26.5 times its variance
  const double a[9] = {2, 2, 0.5, 2, 2, 0.5, 0.5, 0.5, 1};
  const double v[3] = {0.3, -0.4, 0.8};
  std::vector<double> p(6), w(3);
  double base_ld = 0.0, base_q = 0.0;
  for (const std::vector<double>& c : {std::vector<double>{1, 1, 1}, {1e-6, 1e-6, 1e-6},
                                       {1e8, 1e-3, 10}}) {
    double s[9], cv[3], shift = 0.0;
    for (int i = 0; i < k; ++i) {
      cv[i] = c[i] * v[i];
      shift += 2 * std::log(c[i]);
      for (int j = 0; j < k; ++j) s[i * k + j] = c[i] * a[i * k + j] * c[j];
    }
    mvtsa::pack_symmetric(s, k, p.data());
    double ld = 0.0;
    ASSERT_EQ(mvtsa::floored_ldl(p.data(), k, mvtsa::kCloseTol, &ld), 1);
    const double q = mvtsa::ldl_quadratic(p.data(), k, cv, w.data());
    ASSERT_TRUE(std::isfinite(ld) && std::isfinite(q));
    if (c[0] == 1) {
      base_ld = ld;
      base_q = q;
      // log 2 + log(2^-26.5 2) + log of the third conditional variance
      EXPECT_NEAR(ld, std::log(2.0) + std::log(mvtsa::kCloseTol * 2) + std::log(1 - 0.125), 1e-12);
    }
    EXPECT_NEAR(ld - shift, base_ld, 1e-12 * std::fabs(base_ld));
    EXPECT_NEAR(q, base_q, 1e-9 * base_q);
  }
  // a variable of zero variance: left out of both
  const double z[4] = {4, 0, 0, 0};
  mvtsa::pack_symmetric(z, 2, p.data());
  double ld = 0.0;
  ASSERT_EQ(mvtsa::floored_ldl(p.data(), 2, mvtsa::kCloseTol, &ld), 0);
  EXPECT_DOUBLE_EQ(ld, std::log(4.0));
  const double u[2] = {1.0, 7.0};
  EXPECT_DOUBLE_EQ(mvtsa::ldl_quadratic(p.data(), 2, u, w.data()), 0.25);
  const double neg[4] = {1, 0, 0, -1};
  mvtsa::pack_symmetric(neg, 2, p.data());
  EXPECT_EQ(mvtsa::floored_ldl(p.data(), 2, mvtsa::kCloseTol, &ld), -1);
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

// The pivot tolerance is relative to each row's diagonal: a covariance in
// units of 1e-10 (variances 1e-20, below the tolerance itself) factors as
// the one in units of 1, scaled.
TEST(CholeskyPacked, ToleranceIsRelativeToTheDiagonal) {
  const double full[9] = {4, 2, 0.6, 2, 2, 0.4, 0.6, 0.4, 3};
  std::vector<double> p(6), q(6);
  mvtsa::pack_symmetric(full, 3, p.data());
  ASSERT_EQ(mvtsa::cholesky_packed(p.data(), 3, mvtsa::kCholeskyTol, mvtsa::kCholeskyTol), 0);
  for (double c : {1e-10, 1e10}) {
    double s[9];
    for (int i = 0; i < 9; ++i) s[i] = full[i] * c * c;
    mvtsa::pack_symmetric(s, 3, q.data());
    ASSERT_EQ(mvtsa::cholesky_packed(q.data(), 3, mvtsa::kCholeskyTol, mvtsa::kCholeskyTol), 0)
        << c;
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(q[i] / c, p[i], 1e-15 * std::fabs(p[i]) + 1e-300) << c;
  }
}

TEST(CholeskyPacked, ReportsTheRowWhosePivotIsTooSmall) {
  const double full[9] = {1, 1, 0, 1, 1, 0, 0, 0, 1};  // rank 2: row 1 has pivot 0
  std::vector<double> p(6);
  mvtsa::pack_symmetric(full, 3, p.data());
  EXPECT_EQ(mvtsa::cholesky_packed(p.data(), 3, mvtsa::kCholeskyTol, mvtsa::kCholeskyTol), 2);
  EXPECT_EQ(p[packed_index(1, 1)], 0.0);  // s not above the tolerance: L(1,1) = 0
}

}  // namespace
