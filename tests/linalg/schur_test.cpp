// real_schur and discrete_lyapunov: the decomposition by its residual
// |A U - U S| / (|A| u), the orthogonality of U and the shape of S;
// eigenvalues of companion matrices with chosen roots; the Lyapunov solution
// in closed form and by its residual; the singular and failure outcomes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

#include "module/linalg/lyapunov.hpp"
#include "module/linalg/real_schur.hpp"

namespace {

using Vec = std::vector<double>;
constexpr double kEps = 0x1p-52;

double max_abs(const Vec& a) {
  double m = 0.0;
  for (double x : a) m = std::max(m, std::fabs(x));
  return m;
}

Vec product(int n, const Vec& a, const Vec& b) {
  Vec c(std::size_t(n) * n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int l = 0; l < n; ++l)
      for (int j = 0; j < n; ++j) c[i * n + j] += a[i * n + l] * b[l * n + j];
  return c;
}

Vec transpose(int n, const Vec& a) {
  Vec t(a.size());
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) t[j * n + i] = a[i * n + j];
  return t;
}

struct Schur {
  int status;
  Vec S, U;
};
Schur schur(int n, const Vec& a, std::int64_t iterations = -1) {
  Schur r{0, a, Vec(std::size_t(n) * n, -7.0)};
  Vec work(mvtsa::real_schur_work(n));
  r.status = mvtsa::real_schur(n, r.S.data(), r.U.data(), work.data(),
                               iterations < 0 ? mvtsa::real_schur_iterations(n) : iterations);
  return r;
}

// Checks A U = U S, U'U = I, and the standard quasi-triangular shape of S;
// returns the eigenvalues read from S.
std::vector<std::complex<double>> check_schur(int n, const Vec& a, const Schur& r) {
  const double tol = 20.0 * n * kEps;
  const Vec au = product(n, a, r.U), us = product(n, r.U, r.S);
  Vec d(au.size());
  for (std::size_t i = 0; i < d.size(); ++i) d[i] = au[i] - us[i];
  EXPECT_LE(max_abs(d), tol * std::max(max_abs(a), 1.0));
  Vec utu = product(n, transpose(n, r.U), r.U);
  for (int i = 0; i < n; ++i) utu[i * n + i] -= 1.0;
  EXPECT_LE(max_abs(utu), tol);
  std::vector<std::complex<double>> eig;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j + 1 < i; ++j) EXPECT_EQ(r.S[i * n + j], 0.0) << i << " " << j;
    if (i + 1 < n && r.S[(i + 1) * n + i] != 0.0) {
      // a 2 x 2 block of a complex pair: equal diagonal, b c < 0, and the
      // next subdiagonal entry zero
      const double x = r.S[i * n + i], b = r.S[i * n + i + 1], c = r.S[(i + 1) * n + i];
      EXPECT_EQ(x, r.S[(i + 1) * n + i + 1]);
      EXPECT_LT(b * c, 0.0);
      if (i + 2 < n) {
        EXPECT_EQ(r.S[(i + 2) * n + i + 1], 0.0);
      }
      const double y = std::sqrt(-b * c);
      eig.push_back({x, y});
      eig.push_back({x, -y});
      ++i;
    } else {
      eig.push_back({r.S[i * n + i], 0.0});
    }
  }
  return eig;
}

TEST(RealSchur, RandomMatricesOfSeveralOrders) {
  std::mt19937 g(7);
  std::normal_distribution<double> z;
  for (int n : {1, 2, 3, 4, 7, 16, 60}) {
    Vec a(std::size_t(n) * n);
    for (double& x : a) x = z(g);
    const Schur r = schur(n, a);
    ASSERT_EQ(r.status, 0) << n;
    const auto eig = check_schur(n, a, r);
    // trace = sum of eigenvalues
    double tr = 0.0, sum = 0.0;
    for (int i = 0; i < n; ++i) tr += a[i * n + i];
    for (auto e : eig) sum += e.real();
    EXPECT_NEAR(sum, tr, 1e-12 * n) << n;
  }
}

// Companion matrix of prod_j (z - r_j) with the roots chosen: 0.9, -0.5,
// 0.6 e^{+-i pi/3}, 0.99 e^{+-0.1 i}, 0 (twice), and a double root 0.3.
TEST(RealSchur, CompanionEigenvaluesAreTheChosenRoots) {
  using C = std::complex<double>;
  const std::vector<C> roots = {0.9,
                                -0.5,
                                std::polar(0.6, M_PI / 3),
                                std::polar(0.6, -M_PI / 3),
                                std::polar(0.99, 0.1),
                                std::polar(0.99, -0.1),
                                0.0,
                                0.0,
                                0.3,
                                0.3};
  const int n = int(roots.size());
  std::vector<C> poly = {1.0};  // coefficients of z^n, z^{n-1}, ...
  for (C r : roots) {
    std::vector<C> next(poly.size() + 1, 0.0);
    for (std::size_t i = 0; i < poly.size(); ++i) {
      next[i] += poly[i];
      next[i + 1] -= r * poly[i];
    }
    poly = next;
  }
  Vec a(std::size_t(n) * n, 0.0);
  for (int j = 0; j < n; ++j) a[j] = -poly[j + 1].real();
  for (int i = 1; i < n; ++i) a[i * n + i - 1] = 1.0;
  const Schur r = schur(n, a);
  ASSERT_EQ(r.status, 0);
  auto eig = check_schur(n, a, r);
  // match each chosen root to the nearest computed eigenvalue: the simple
  // roots to 1e-11, the double ones to about sqrt(u) (measured: 2.4e-7 for
  // 0.3; the same matrix through numpy's balanced QR gives 3.3e-8)
  for (C want : roots) {
    auto it = std::min_element(eig.begin(), eig.end(),
                               [&](C x, C y) { return std::abs(x - want) < std::abs(y - want); });
    const bool twice = std::count(roots.begin(), roots.end(), want) == 2;
    EXPECT_LT(std::abs(*it - want), twice ? 1e-6 : 1e-11) << want;
    eig.erase(it);
  }
}

TEST(RealSchur, IterationCapAndNonFiniteEntriesFail) {
  std::mt19937 g(11);
  std::normal_distribution<double> z;
  const int n = 8;
  Vec a(std::size_t(n) * n);
  for (double& x : a) x = z(g);
  EXPECT_EQ(schur(n, a, 0).status, n);  // no sweep allowed: the last row fails
  EXPECT_EQ(schur(n, a, 1).status > 0, true);
  a[3 * n + 5] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_GT(schur(n, a).status, 0);
  EXPECT_EQ(schur(0, {}).status, 0);
}

// X = A X A' + Q by its residual, relative to |X|.
double lyapunov_residual(int n, const Vec& a, const Vec& q, const Vec& x) {
  const Vec axa = product(n, product(n, a, x), transpose(n, a));
  Vec r(x.size());
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = x[i] - axa[i] - q[i];
  return max_abs(r) / max_abs(x);
}

int lyapunov(int n, const Vec& a, const Vec& q, Vec* x, double tol = 1e-10) {
  x->assign(std::size_t(n) * n, -7.0);
  Vec work(mvtsa::discrete_lyapunov_work(n));
  return mvtsa::discrete_lyapunov(n, a.data(), q.data(), tol, x->data(), work.data());
}

TEST(DiscreteLyapunov, DiagonalTransitionIsTheClosedForm) {
  // X_ij = Q_ij / (1 - a_i a_j)
  const Vec d = {0.5, -0.25, 0.875};
  const Vec q = {1, 0.5, 0.25, 0.5, 2, -0.5, 0.25, -0.5, 3};
  Vec a(9, 0.0), x;
  for (int i = 0; i < 3; ++i) a[i * 3 + i] = d[i];
  ASSERT_EQ(lyapunov(3, a, q, &x), mvtsa::kLyapunovOk);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      {
      const double want = q[i * 3 + j] / (1 - d[i] * d[j]);
      EXPECT_NEAR(x[i * 3 + j], want, 4 * kEps * std::fabs(want)) << i << j;
    }
}

TEST(DiscreteLyapunov, RandomStableTransitionsSolveTheEquation) {
  std::mt19937 g(13);
  std::normal_distribution<double> z;
  for (int n : {2, 5, 13, 50, 120}) {
    // A with spectral radius below 0.95: a random matrix scaled by its
    // Frobenius norm, which bounds the radius
    Vec a(std::size_t(n) * n), b(std::size_t(n) * n), x;
    for (double& v : a) v = z(g);
    double fro = 0.0;
    for (double v : a) fro += v * v;
    for (double& v : a) v *= 0.95 / std::sqrt(fro);
    for (double& v : b) v = z(g);
    const Vec q = product(n, b, transpose(n, b));
    ASSERT_EQ(lyapunov(n, a, q, &x), mvtsa::kLyapunovOk) << n;
    EXPECT_LE(lyapunov_residual(n, a, q, x), 50 * n * kEps) << n;
  }
}

TEST(DiscreteLyapunov, SingularAndFailedOutcomes) {
  Vec x;
  // a unit root: 1 - 1 * 1 = 0
  EXPECT_EQ(lyapunov(2, {1, 0.5, 0, 0.3}, {1, 0, 0, 1}, &x), mvtsa::kLyapunovSingular);
  // a rotation: the complex pair e^{+-i} gives 1 - |lambda|^2 = 0 in the 4 x 4 block system
  const double c = std::cos(1.0), s = std::sin(1.0);
  EXPECT_EQ(lyapunov(2, {c, -s, s, c}, {1, 0, 0, 1}, &x), mvtsa::kLyapunovSingular);
  // the tolerance decides: 1 - 0.9^2 = 0.19 passes 0.1 and fails 0.2
  EXPECT_EQ(lyapunov(1, {0.9}, {1}, &x, 0.1), mvtsa::kLyapunovOk);
  EXPECT_EQ(lyapunov(1, {0.9}, {1}, &x, 0.2), mvtsa::kLyapunovSingular);
  // NaN in A: the Schur form or the block systems fail
  EXPECT_NE(lyapunov(3, {0.1, 0, 0, 0, std::numeric_limits<double>::quiet_NaN(), 0.2, 0.3, 0, 0.1},
                     {1, 0, 0, 0, 1, 0, 0, 0, 1}, &x),
            mvtsa::kLyapunovOk);
  EXPECT_EQ(mvtsa::discrete_lyapunov_work(std::int64_t(1) << 32), UINT64_MAX);
  EXPECT_EQ(mvtsa::discrete_lyapunov_work(10), 4u * 100 + 60 + 2);
}

}  // namespace
