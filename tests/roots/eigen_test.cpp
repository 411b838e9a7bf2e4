// general_eigenvalues: edge cases with known eigenvalues, closed forms,
// argument and failure statuses.
#include "module/linalg/general_eigenvalues.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <limits>
#include <random>
#include <vector>

#include "tests/support/matrices.hpp"

namespace {

using Vec = std::vector<double>;
using test_support::reflect;

struct Eig {
  int status = -99;
  Vec wr, wi;
};

// Eigenvalues of the row-major n x n matrix a (copied).
Eig eig(int n, Vec a) {
  Eig r;
  r.wr.assign(n, -7.0);
  r.wi.assign(n, -7.0);
  Vec work(mvtsa::general_eigenvalues_work(n));
  r.status = mvtsa::general_eigenvalues(n, a.data(), n, r.wr.data(), r.wi.data(), work.data());
  return r;
}

void expect_values(const Eig& r, const Vec& wr, const Vec& wi, double tol) {
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.wr.size(), wr.size());
  for (std::size_t i = 0; i < wr.size(); ++i) {
    EXPECT_NEAR(r.wr[i], wr[i], tol) << "eigenvalue " << i;
    EXPECT_NEAR(r.wi[i], wi[i], tol) << "eigenvalue " << i;
  }
}

// ---- general_eigenvalues: matrices with known eigenvalues

TEST(GeneralEigenvalues, EmptyAndOneByOne) {
  Eig r = eig(0, {});
  EXPECT_EQ(r.status, 0);
  double wr = 5.0, wi = 5.0, a = -2.5;
  Vec work(mvtsa::general_eigenvalues_work(1));
  EXPECT_EQ(mvtsa::general_eigenvalues(0, &a, 1, &wr, &wi, work.data()), 0);
  EXPECT_EQ(wr, 5.0);  // nothing written
  EXPECT_EQ(mvtsa::general_eigenvalues(1, &a, 1, &wr, &wi, work.data()), 0);
  EXPECT_EQ(wr, -2.5);
  EXPECT_EQ(wi, 0.0);
}

TEST(GeneralEigenvalues, DiagonalAndTriangularAreIsolatedExactly) {
  // No QR step runs: the diagonal comes back bit for bit, sorted descending.
  expect_values(eig(3, {1, 0, 0, 0, 3, 0, 0, 0, 2}), {3, 2, 1}, {0, 0, 0}, 0.0);
  expect_values(eig(4, {0.1, 7, -3, 2,  0, -0.7, 5, 1,  0, 0, 0.3, 9,  0, 0, 0, 0.2}),
                {0.3, 0.2, 0.1, -0.7}, {0, 0, 0, 0}, 0.0);
  // Lower triangular as well (the other permutation search).
  expect_values(eig(3, {0.5, 0, 0, 4, -1, 0, 2, 8, 0.25}), {0.5, 0.25, -1}, {0, 0, 0}, 0.0);
}

TEST(GeneralEigenvalues, RotationGivesPositiveImaginaryFirst) {
  expect_values(eig(2, {0, -1, 1, 0}), {0, 0}, {1, -1}, 1e-15);
  expect_values(eig(2, {0, 1, -1, 0}), {0, 0}, {1, -1}, 1e-15);
}

TEST(GeneralEigenvalues, OrderingOfMixedSpectrum) {
  // Eigenvalues 0.9, 0.5 +- 0.5i and 0.2, hidden by a reflection.
  const Vec b = {0.9, 0, 0, 0,  0, 0.5, -0.5, 0,  0, 0.5, 0.5, 0,  0, 0, 0, 0.2};
  const Vec a = reflect(4, b, {1, -2, 0.5, 3});
  expect_values(eig(4, a), {0.9, 0.5, 0.5, 0.2}, {0, 0.5, -0.5, 0}, 1e-14);
}

TEST(GeneralEigenvalues, PairBeforeRealWithTheSameRealPart) {
  // 0.5 real and 0.5 +- 0.5i: the larger |imaginary part| comes first.
  const Vec b = {0.5, 0, 0,  0, 0.5, -0.5,  0, 0.5, 0.5};
  expect_values(eig(3, b), {0.5, 0.5, 0.5}, {0.5, -0.5, 0}, 1e-15);
  expect_values(eig(3, reflect(3, b, {2, 1, -1})), {0.5, 0.5, 0.5}, {0.5, -0.5, 0}, 1e-14);
}

TEST(GeneralEigenvalues, TinyAndHugeMatricesAreScaled) {
  // A real spectrum 3, 2, 1, -0.5 hidden by a reflection, at 1e-140 and 1e140.
  const Vec b = {3, 0, 0, 0,  0, 2, 0, 0,  0, 0, 1, 0,  0, 0, 0, -0.5};
  const Vec a = reflect(4, b, {0.3, 1, -1, 2});
  for (double s : {1e-140, 1e140}) {
    Vec as = a;
    for (double& x : as) x *= s;
    const Eig r = eig(4, as);
    ASSERT_EQ(r.status, 0) << s;
    const Vec want = {3, 2, 1, -0.5};
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(r.wr[i] / s, want[i], 1e-13) << s << " " << i;
      EXPECT_EQ(r.wi[i], 0.0);
    }
  }
  // Complex eigenvalues at 1e-140: every real part lies within the absolute
  // sort tolerance of every other, so the larger |imaginary part| leads;
  // the values are those of the unscaled matrix.
  const Vec c = reflect(4, {0.9, 0, 0, 0,  0, 0.5, -0.5, 0,  0, 0.5, 0.5, 0,  0, 0, 0, 0.2},
                        {1, -2, 0.5, 3});
  Vec cs = c;
  for (double& x : cs) x *= 1e-140;
  const Eig r = eig(4, cs);
  ASSERT_EQ(r.status, 0);
  const Vec want_r = {0.5, 0.5, 0.9, 0.2}, want_i = {0.5, -0.5, 0, 0};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(r.wr[i] * 1e140, want_r[i], 1e-13) << i;
    EXPECT_NEAR(r.wi[i] * 1e140, want_i[i], 1e-13) << i;
  }
}

TEST(GeneralEigenvalues, BalancingRescalesBadlyScaledMatrix) {
  // [[1, 1e6], [1e-6, 1]] has eigenvalues 2 and 0.  Balancing by powers of
  // 10 turns it into [[1, 1], [1, 1]]; without it the zero eigenvalue would
  // carry an error near 1e6 u = 1e-10.
  const Eig r = eig(2, {1, 1e6, 1e-6, 1});
  ASSERT_EQ(r.status, 0);
  EXPECT_NEAR(r.wr[0], 2.0, 4e-16);
  EXPECT_NEAR(r.wr[1], 0.0, 4e-16);
  EXPECT_EQ(r.wi[0], 0.0);
  EXPECT_EQ(r.wi[1], 0.0);
  // D B D^-1 with D = diag(1, 1e4, 1e8, 1e12) and B dense with eigenvalues
  // 3, 2, 1, -0.5: entries up to 1e12 times those of B.  Radix-10 balancing
  // recovers D exactly; without it the errors would reach about 1e12 u.
  const Vec b = reflect(4, {3, 0, 0, 0,  0, 2, 0, 0,  0, 0, 1, 0,  0, 0, 0, -0.5}, {1, 2, 3, 4});
  const double d[4] = {1, 1e4, 1e8, 1e12};
  Vec a(16);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) a[i * 4 + j] = d[i] * b[i * 4 + j] / d[j];
  expect_values(eig(4, a), {3, 2, 1, -0.5}, {0, 0, 0, 0}, 1e-14);
}

TEST(GeneralEigenvalues, SymmetricTwoByTwo) {
  expect_values(eig(2, {2, 1, 1, 2}), {3, 1}, {0, 0}, 1e-15);
}

TEST(GeneralEigenvalues, LeadingDimensionLargerThanOrder) {
  // A 2 x 2 matrix inside rows of 3: [[0, -0.25], [1, 0]] -> +-0.5i.
  Vec a = {0, -0.25, 99, 1, 0, 99};
  Vec wr(2), wi(2), work(mvtsa::general_eigenvalues_work(2));
  ASSERT_EQ(mvtsa::general_eigenvalues(2, a.data(), 3, wr.data(), wi.data(), work.data()), 0);
  EXPECT_NEAR(wr[0], 0.0, 1e-16);
  EXPECT_NEAR(wi[0], 0.5, 1e-16);
  EXPECT_NEAR(wi[1], -0.5, 1e-16);
}

TEST(GeneralEigenvalues, RepeatedComplexPairsStayPaired) {
  // Two copies of 0.3 +- 0.4i and two of -0.2 +- 0.1i in a dense disguise:
  // groups of equal values must come out as (+, -) pairs.
  Vec b(36, 0.0);
  auto block = [&](int at, double re, double im) {
    b[at * 6 + at] = re;
    b[at * 6 + at + 1] = -im;
    b[(at + 1) * 6 + at] = im;
    b[(at + 1) * 6 + at + 1] = re;
  };
  block(0, 0.3, 0.4);
  block(2, -0.2, 0.1);
  block(4, 0.3, 0.4);
  const Eig r = eig(6, reflect(6, b, {1, 2, -1, 0.5, 0.25, -3}));
  expect_values(r, {0.3, 0.3, 0.3, 0.3, -0.2, -0.2}, {0.4, -0.4, 0.4, -0.4, 0.1, -0.1}, 1e-13);
  for (int i = 0; i < 6; i += 2) {
    EXPECT_EQ(r.wr[i], r.wr[i + 1]);
    EXPECT_EQ(r.wi[i], -r.wi[i + 1]);
  }
}

// ---- general_eigenvalues: statuses

TEST(GeneralEigenvalues, InvalidArguments) {
  Vec a = {1, 2, 3, 4}, wr(2, 9.0), wi(2, 9.0), work(mvtsa::general_eigenvalues_work(2));
  EXPECT_EQ(mvtsa::general_eigenvalues(-1, a.data(), 2, wr.data(), wi.data(), work.data()),
            mvtsa::kEigBadOrder);
  EXPECT_EQ(mvtsa::general_eigenvalues(2, a.data(), 1, wr.data(), wi.data(), work.data()),
            mvtsa::kEigBadLeading);
  EXPECT_EQ(mvtsa::general_eigenvalues(2, nullptr, 2, wr.data(), wi.data(), work.data()),
            mvtsa::kEigBadMatrix);
  EXPECT_EQ(mvtsa::general_eigenvalues(2, a.data(), 2, nullptr, wi.data(), work.data()),
            mvtsa::kEigBadResult);
  EXPECT_EQ(mvtsa::general_eigenvalues(2, a.data(), 2, wr.data(), wi.data(), nullptr),
            mvtsa::kEigBadWork);
  EXPECT_EQ(wr[0], 9.0);
  EXPECT_EQ(a[1], 2.0);  // nothing touched
}

TEST(GeneralEigenvalues, NanAndInfinityFailWithoutHanging) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  // Dense, diagonal (isolated by balancing) and companion-shaped cases.
  for (double bad : {nan, inf, -inf}) {
    EXPECT_NE(eig(3, {1, 2, 3, 4, bad, 6, 7, 8, 9}).status, 0);
    EXPECT_NE(eig(3, {1, 0, 0, 0, bad, 0, 0, 0, 9}).status, 0);
    EXPECT_NE(eig(2, {bad, 0, 0, 1}).status, 0);
    Vec big(60 * 60, 0.0);
    for (int i = 0; i < 60; ++i) big[i] = 0.01 * (i + 1);
    for (int i = 1; i < 60; ++i) big[i * 60 + i - 1] = 1.0;
    big[59] = bad;
    EXPECT_NE(eig(60, big).status, 0);
  }
}

TEST(GeneralEigenvalues, ExtremeFiniteEntriesStayBounded) {
  // Entries spanning the whole exponent range: a valid status and, on
  // success, finite eigenvalues.
  const double mx = std::numeric_limits<double>::max();
  const double dn = std::numeric_limits<double>::denorm_min();
  const Eig r = eig(3, {mx, dn, 0, dn, -mx, mx, 1, dn, 1e-300});
  if (r.status == 0)
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isfinite(r.wr[i]) && std::isfinite(r.wi[i]));
  else
    EXPECT_GT(r.status, 0);
}

}  // namespace
