// lu_solve and lu_log_det: determinants and solutions with known
// values, the pivot statuses, and the log-determinant of an overflowing
// product of pivots.
#include "module/linalg/lu.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

using Vec = std::vector<double>;

int det_of(Vec a, int n, double* det) {
  Vec scale(static_cast<std::size_t>(n));
  return mvtsa::lu_solve(a.data(), n, nullptr, scale.data(), det);
}

TEST(LuSolve, DeterminantAndStatus) {
  double det = 0.0;
  // det [[0, 2, 1], [1, 1, 0], [3, 0, 4]] = 0(4) - 2(4) + 1(-3) = -11 (needs row exchanges)
  EXPECT_EQ(det_of({0, 2, 1, 1, 1, 0, 3, 0, 4}, 3, &det), mvtsa::kLuOk);
  EXPECT_NEAR(det, -11.0, 1e-13);
  // two equal rows: the second pivot (not the last) vanishes
  EXPECT_EQ(det_of({1, 1, 0, 1, 1, 0, 0, 0, 1}, 3, &det), mvtsa::kLuSmallPivot);
  EXPECT_EQ(det, 0.0);
  // last scaled pivot 1e-15: status 3, and the determinant is still the pivot product
  EXPECT_EQ(det_of({1, 1, 1, 1 + 1e-15}, 2, &det), mvtsa::kLuSmallLastPivot);
  EXPECT_NEAR(det, 1.1102230246251565e-15, 1e-30);
  // a zero row: its scaled pivot is zero, which the status reports first; det = 0
  EXPECT_EQ(det_of({1, 2, 0, 0}, 2, &det), mvtsa::kLuSmallLastPivot);
  EXPECT_EQ(det, 0.0);
  // a small scaled pivot before the last (1.1e-15 in column 2): the
  // elimination goes on and det is the product of all three pivots
  EXPECT_EQ(det_of({1, 1, 0, 1, 1 + 1e-15, 0, 0, 0, 2}, 3, &det), mvtsa::kLuSmallPivot);
  EXPECT_EQ(det, 2 * 1.1102230246251565e-15);
  // the pivot is the largest element relative to its row's largest: in
  // [[2, 1e10], [1, 1]] row 2 (scaled 1) goes first, not row 1 (scaled 2e-10)
  Vec a = {2, 1e10, 1, 1}, scale(2);
  ASSERT_EQ(mvtsa::lu_solve(a.data(), 2, nullptr, scale.data(), &det), mvtsa::kLuOk);
  EXPECT_EQ(a[0], 1.0);
  EXPECT_EQ(a[1], 1.0);
  EXPECT_NEAR(det, 2.0 - 1e10, 1e-5);
}

TEST(LuSolve, SolvesRandomSystemsAndStopsAtASmallPivot) {
  std::mt19937 g(3);
  std::normal_distribution<double> z;
  for (int n : {1, 2, 3, 7, 40}) {
    Vec a(std::size_t(n) * n), x(n), b(n, 0.0);
    for (double& v : a) v = z(g);
    for (double& v : x) v = z(g);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) b[i] += a[i * n + j] * x[j];
    Vec lu = a, sol = b, scale(n);
    double det = 0.0;
    ASSERT_EQ(mvtsa::lu_solve(lu.data(), n, sol.data(), scale.data(), &det), mvtsa::kLuOk) << n;
    for (int i = 0; i < n; ++i) EXPECT_NEAR(sol[i], x[i], 1e-10 * (1 + std::fabs(x[i]))) << n;
    // the same determinant with and without a right-hand side
    Vec lu2 = a;
    double det2 = 0.0;
    ASSERT_EQ(mvtsa::lu_solve(lu2.data(), n, nullptr, scale.data(), &det2), mvtsa::kLuOk);
    EXPECT_EQ(det, det2);
  }
  // singular system with a right-hand side and no determinant: the status,
  // and b is left unsolved
  Vec a = {1, 2, 2, 4}, b = {1, 1}, scale(2);
  EXPECT_EQ(mvtsa::lu_solve(a.data(), 2, b.data(), scale.data(), nullptr),
            mvtsa::kLuSmallLastPivot);
  EXPECT_TRUE(std::isfinite(b[0]) && std::isfinite(b[1]));  // never divided by the zero pivot
}

TEST(LuLogDet, ExactWhereTheProductOverflowsOrUnderflows) {
  Vec scale(3);
  // c I of order 3 for c from 1e-300 to 1e300: log det = 3 log c, although
  // the product of the pivots overflows or underflows at the ends
  for (double c : {1e-300, 1e-120, 1e-6, 1.0, 1e6, 1e120, 1e300}) {
    Vec a = {c, 0, 0, 0, c, 0, 0, 0, c};
    double det = 0.0;
    ASSERT_EQ(mvtsa::lu_solve(a.data(), 3, nullptr, scale.data(), &det), mvtsa::kLuOk) << c;
    EXPECT_NEAR(mvtsa::lu_log_det(a.data(), 3, det), 3 * std::log(c), 1e-12 * std::fabs(std::log(c)) + 1e-14)
        << c;
  }
  // no floor: a determinant of 1e-20 is 1e-20
  Vec a = {1e-10, 0, 0, 1e-10};
  double det = 0.0;
  ASSERT_EQ(mvtsa::lu_solve(a.data(), 2, nullptr, scale.data(), &det), mvtsa::kLuOk);
  EXPECT_DOUBLE_EQ(mvtsa::lu_log_det(a.data(), 2, det), std::log(1e-20));
  // a singular or negative determinant is not a logarithm
  Vec s = {1, 2, 2, 4};
  ASSERT_NE(mvtsa::lu_solve(s.data(), 2, nullptr, scale.data(), &det), mvtsa::kLuOk);
  EXPECT_FALSE(std::isfinite(mvtsa::lu_log_det(s.data(), 2, det)));
  Vec n = {0, 1, 1, 0};
  ASSERT_EQ(mvtsa::lu_solve(n.data(), 2, nullptr, scale.data(), &det), mvtsa::kLuOk);
  EXPECT_TRUE(std::isnan(mvtsa::lu_log_det(n.data(), 2, det)));
}

}  // namespace
