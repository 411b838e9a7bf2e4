// symmetric_eigenvalues and its two tridiagonal halves: closed forms,
// argument and failure statuses, and the bisection fallback.
#include "module/linalg/symmetric_eigenvalues.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/support/matrices.hpp"

namespace {

using Vec = std::vector<double>;
using test_support::reflect;

Vec pack_lower(int n, const Vec& a) {
  Vec p;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) p.push_back(a[i * n + j]);
  return p;
}

int sym(int n, Vec packed, Vec* w) {
  w->assign(n, -7.0);
  Vec work(mvtsa::symmetric_eigenvalues_work(n));
  return mvtsa::symmetric_eigenvalues(n, packed.data(), w->data(), work.data());
}

TEST(SymmetricEigenvalues, TwoByTwoAndDiagonal) {
  Vec w;
  ASSERT_EQ(sym(2, {2, 1, 2}, &w), 0);
  EXPECT_NEAR(w[0], 3.0, 1e-15);
  EXPECT_NEAR(w[1], 1.0, 1e-15);
  ASSERT_EQ(sym(3, {-1, 0, 4, 0, 0, 2}, &w), 0);
  EXPECT_EQ(w, (Vec{4, 2, -1}));
  ASSERT_EQ(sym(3, {0, 0, 0, 0, 0, 0}, &w), 0);
  EXPECT_EQ(w, (Vec{0, 0, 0}));
}

TEST(SymmetricEigenvalues, SecondDifferenceMatrixClosedForm) {
  // tridiag(-1, 2, -1) of order n: 2 - 2 cos(j pi / (n + 1)), j = 1..n;
  // given dense so that the reduction has work to do, then reflected.
  for (int n : {1, 2, 5, 17, 40}) {
    Vec t(n * n, 0.0);
    for (int i = 0; i < n; ++i) {
      t[i * n + i] = 2.0;
      if (i > 0) t[i * n + i - 1] = t[(i - 1) * n + i] = -1.0;
    }
    Vec v(n);
    for (int i = 0; i < n; ++i) v[i] = std::sin(1.0 + i);
    Vec w;
    ASSERT_EQ(sym(n, pack_lower(n, reflect(n, t, v)), &w), 0) << n;
    for (int j = 0; j < n; ++j)
      EXPECT_NEAR(w[j], 2.0 - 2.0 * std::cos((n - j) * M_PI / (n + 1)), 1e-13) << n << " " << j;
  }
}

TEST(SymmetricEigenvalues, InvalidArguments) {
  Vec w(2), work(18), ap = {1, 0, 1};
  EXPECT_EQ(mvtsa::symmetric_eigenvalues(0, ap.data(), w.data(), work.data()), mvtsa::kSymBadArgument);
  EXPECT_EQ(mvtsa::symmetric_eigenvalues(-2, ap.data(), w.data(), work.data()), mvtsa::kSymBadArgument);
  EXPECT_EQ(mvtsa::symmetric_eigenvalues(2, nullptr, w.data(), work.data()), mvtsa::kSymBadArgument);
  EXPECT_EQ(mvtsa::symmetric_eigenvalues(2, ap.data(), nullptr, work.data()), mvtsa::kSymBadArgument);
  EXPECT_EQ(mvtsa::symmetric_eigenvalues(2, ap.data(), w.data(), nullptr), mvtsa::kSymBadArgument);
}

TEST(SymmetricEigenvalues, NanFallsBackAndReportsIncomplete) {
  Vec w;
  const int st = sym(3, {1, 0.5, std::numeric_limits<double>::quiet_NaN(), 0, 0.1, 3}, &w);
  EXPECT_EQ(st, mvtsa::kSymIncomplete);
}

TEST(TridiagonalSolvers, IterationCapForcesFailureAndBisectionAgrees) {
  // Random symmetric tridiagonal of order 12: QL with no iterations allowed
  // fails at the first eigenvalue; bisection finds all 12, matching QL.
  std::mt19937_64 rng(5);
  std::normal_distribution<double> z;
  const int n = 12;
  Vec d(n), e(n, 0.0);
  for (int i = 0; i < n; ++i) d[i] = z(rng);
  for (int i = 0; i + 1 < n; ++i) e[i] = z(rng);
  Vec d0 = d, e0 = e, e1 = e;
  EXPECT_EQ(mvtsa::tridiagonal_ql(n, d0.data(), e0.data(), 0), 1);
  Vec ql = d, eq = e;
  ASSERT_EQ(mvtsa::tridiagonal_ql(n, ql.data(), eq.data(), 50), 0);
  Vec bis(n);
  ASSERT_EQ(mvtsa::tridiagonal_bisection(n, d.data(), e1.data(), bis.data()), n);
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(bis[i], ql[i], 1e-13) << i;
    if (i > 0) {
      EXPECT_GE(ql[i - 1], ql[i]);
    }
  }
  // Trace and sum of squares (Frobenius norm) are preserved.
  double tr = 0, s = 0, fro = 0;
  for (int i = 0; i < n; ++i) {
    tr += d[i];
    s += ql[i];
    fro += d[i] * d[i] - ql[i] * ql[i] + (i + 1 < n ? 2 * e[i] * e[i] : 0.0);
  }
  EXPECT_NEAR(s, tr, 1e-13);
  EXPECT_NEAR(fro, 0.0, 1e-12);
}

TEST(TridiagonalSolvers, BisectionClosedFormAndSplitMatrix) {
  // Second-difference matrix with one off-diagonal zero: the spectrum is the
  // union of those of orders 3 and 4.
  const int n = 7;
  Vec d(n, 2.0), e(n - 1, -1.0), w(n);
  e[2] = 0.0;
  ASSERT_EQ(mvtsa::tridiagonal_bisection(n, d.data(), e.data(), w.data()), n);
  Vec want;
  for (int m : {3, 4})
    for (int j = 1; j <= m; ++j) want.push_back(2.0 - 2.0 * std::cos(j * M_PI / (m + 1)));
  std::sort(want.rbegin(), want.rend());
  for (int i = 0; i < n; ++i) EXPECT_NEAR(w[i], want[i], 1e-14) << i;
}
}  // namespace
