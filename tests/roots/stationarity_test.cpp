// companion_roots and is_nonstationary: the worked cases, the path
// choice for first-order blocks, the determinant property of the roots,
// lag spreading and the failure paths.
#include "module/linalg/companion_roots.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <limits>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "module/linalg/general_eigenvalues.hpp"

namespace {

using Vec = std::vector<double>;
using cd = std::complex<double>;

// The reference for the roots of a polynomial whose lags share a factor:
// the eigenvalues of its full k p x k p companion matrix, as (real,
// imaginary) pairs in the order of general_eigenvalues.
Vec full_companion_eigenvalues(const Vec& coef, int k, int p) {
  const int m = k * p;
  Vec c(std::size_t(m) * m, 0.0), wr(m), wi(m), work(mvtsa::general_eigenvalues_work(m));
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < p; ++j)
      for (int l = 0; l < k; ++l)
        c[std::size_t(i) * m + j * k + l] = coef[std::size_t(j) * k * k + i * k + l];
  for (int j = 0; j < m - k; ++j) c[std::size_t(k + j) * m + j] = 1.0;
  EXPECT_EQ(mvtsa::general_eigenvalues(m, c.data(), m, wr.data(), wi.data(), work.data()), 0);
  Vec r;
  for (int i = 0; i < m; ++i) {
    r.push_back(wr[i]);
    r.push_back(wi[i]);
  }
  return r;
}

// p blocks of k x k, zero except the given lags (1-based), which get random
// entries of standard deviation sd.
Vec lagged_blocks(int k, int p, const std::vector<int>& lags, double sd, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> g(0.0, sd);
  Vec coef(std::size_t(k) * k * p, 0.0);
  for (int lag : lags)
    for (int i = 0; i < k * k; ++i) coef[std::size_t(lag - 1) * k * k + i] = g(rng);
  return coef;
}

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
    Vec work(mvtsa::is_nonstationary_work(coef.data(), p, p, nullptr, k));
    return mvtsa::is_nonstationary(coef.data(), p, p, nullptr, k, roots->data(), work.data(), st);
  }
  // companion_roots on coef in place, with the work it asks for followed by
  // guard values that must stay as they were.
  static int roots_of(Vec* coef, int k, int p, Vec* roots) {
    const std::size_t need = mvtsa::companion_roots_work(coef->data(), k, p);
    Vec work(need + kGuard, kGuardValue);
    const int st = mvtsa::companion_roots(coef->data(), k, p, roots->data(), work.data());
    for (std::size_t i = need; i < work.size(); ++i)
      EXPECT_EQ(work[i], kGuardValue) << "work overrun at " << i - need << ", k " << k << " p " << p;
    return st;
  }
  static constexpr std::size_t kGuard = 64;
  static constexpr double kGuardValue = -7.25;
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
  // Both first-order paths work in the caller's space: with the host
  // refusing its next allocation they still succeed and ask for nothing.
  host_.fail_allocation_at(1);
  const std::int64_t before = host_.allocation_count();
  int st = -1;
  r.assign(4, 0.0);
  Vec sym = {0.5, 0.1, 0.1, 0.5};
  EXPECT_EQ(roots_of(&sym, 2, 1, &r), mvtsa::kCompanionRootsOk);
  EXPECT_NEAR(r[0], 0.6, 1e-15);
  EXPECT_EQ(test({0.5, 0.2, 0.1, 0.5}, 2, 1, &r, &st), 0);
  EXPECT_EQ(st, mvtsa::kCompanionRootsOk);
  EXPECT_EQ(host_.allocation_count(), before);
  EXPECT_EQ(host_.current().raised_error, 0);
  host_.fail_allocation_at(0);
  // Symmetric within 2^-26.5 of the largest entry: averaged in place.
  Vec near = {0.5, 0.1, 0.1 + 1e-12, 0.5};
  EXPECT_EQ(roots_of(&near, 2, 1, &r), mvtsa::kCompanionRootsOk);
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

// Lags with a common factor g go through the polynomial in z^g; the k p
// roots must agree with the eigenvalues of the full companion matrix, in the
// same order, to 1e-12.  The order compares real parts with an absolute
// tolerance of 1.1e-15, so roots whose real parts both lie within rounding
// of one value (0 for the roots +-i r of a block at an even lag) may come in
// either order: root i may match the reference root j when the reference
// real parts at i and j agree to 1e-12.
TEST_F(Stationarity, CommonLagFactorAgreesWithTheFullCompanionMatrix) {
  struct Case {
    int k, p;
    std::vector<int> lags;
    double sd;
  };
  const Case cases[] = {
      {2, 100, {100}, 0.4},          // one block at a distant lag (g = 100, even)
      {2, 75, {75}, 0.4},            // g odd
      {3, 12, {3, 6, 12}, 0.3},      // g = 3, reduced order 4
      {2, 40, {8, 16, 24}, 0.3},     // g = 8 and zero blocks beyond the last lag
      {3, 7, {1, 2, 4}, 0.3},        // g = 1 with three zero blocks at the end
      {1, 60, {20, 40, 60}, 0.5},    // univariate
      {4, 30, {10, 30}, 0.25},
  };
  unsigned seed = 11;
  for (const Case& c : cases)
    for (int rep = 0; rep < 2; ++rep) {
      const Vec coef = lagged_blocks(c.k, c.p, c.lags, c.sd, seed++);
      const Vec ref = full_companion_eigenvalues(coef, c.k, c.p);
      Vec r(2 * std::size_t(c.k) * c.p, 0.0), copy = coef;
      ASSERT_EQ(roots_of(&copy, c.k, c.p, &r), mvtsa::kCompanionRootsOk);
      const std::size_t m = r.size() / 2;
      std::vector<bool> used(m, false);
      double worst = 0.0;
      for (std::size_t i = 0; i < m; ++i) {
        std::size_t best = m;
        double dist = 1.0;
        for (std::size_t j = 0; j < m; ++j) {
          if (used[j] || std::fabs(ref[2 * j] - ref[2 * i]) > 1e-12) continue;
          const double d = std::hypot(r[2 * i] - ref[2 * j], r[2 * i + 1] - ref[2 * j + 1]);
          if (d < dist) dist = d, best = j;
        }
        ASSERT_LT(best, m) << "k " << c.k << " p " << c.p << " seed " << seed - 1 << " root " << i;
        used[best] = true;
        worst = std::max(worst, dist);
      }
      EXPECT_LT(worst, 1e-12) << "k " << c.k << " p " << c.p << " seed " << seed - 1;
      // Real roots exactly real, pairs exactly conjugate and adjacent.
      for (std::size_t i = 0; i < r.size(); i += 2)
        if (r[i + 1] > 0.0) {
          EXPECT_EQ(r[i + 2], r[i]);
          EXPECT_EQ(r[i + 3], -r[i + 1]);
          i += 2;
        } else {
          EXPECT_EQ(r[i + 1], 0.0);
        }
    }
}

TEST_F(Stationarity, CommonLagFactorSpecialBlocks) {
  // A symmetric block at lag 4 with eigenvalues 0.6 and -0.4: the fourth
  // roots of 0.6 are +-0.6^(1/4) and +-0.6^(1/4) i, those of -0.4 lie on
  // the diagonals.  Roots exactly real or exactly conjugate.
  Vec coef(4 * 4, 0.0);
  const double phi[4] = {0.1, 0.5, 0.5, 0.1};
  std::copy(phi, phi + 4, coef.begin() + 12);
  Vec r(16, 0.0);
  ASSERT_EQ(roots_of(&coef, 2, 4, &r), mvtsa::kCompanionRootsOk);
  const double a = std::pow(0.6, 0.25), b = std::pow(0.4, 0.25) / std::sqrt(2.0);
  const Vec want = {a, 0, b, b, b, -b, 0, a, 0, -a, -b, b, -b, -b, -a, 0};
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(r[i], want[i], 4e-16) << i;
  EXPECT_EQ(r[1], 0.0);
  EXPECT_EQ(r[15], 0.0);
  // Every block zero: k p roots at the origin, and stationary.
  Vec zero(2 * 2 * 3, 0.0);
  r.assign(12, 1.0);
  EXPECT_EQ(test(zero, 2, 3, &r), 0);
  EXPECT_EQ(r, Vec(12, 0.0));
  // A missing value in the block at the common lag: no roots written.
  Vec bad(2 * 2 * 6, 0.0);
  bad[5 * 4 + 1] = std::numeric_limits<double>::quiet_NaN();
  bad[5 * 4] = 0.5;
  int st = -1;
  EXPECT_EQ(test(bad, 2, 6, &r, &st), 1);
  EXPECT_EQ(st, mvtsa::kCompanionRootsFailed);
  EXPECT_EQ(r, Vec(24, 0.0));
}

TEST_F(Stationarity, CommonLagFactorAtHighOrder) {
  // Phi at lag 1000 alone (the full companion matrix has order 2000): the
  // roots lie on the circles of radius 0.6^(1/1000) and 0.4^(1/1000).
  const int p = 1000;
  Vec coef(4 * std::size_t(p), 0.0);
  const double phi[4] = {0.5, 0.1, 0.1, 0.5};
  std::copy(phi, phi + 4, coef.end() - 4);
  Vec r;
  EXPECT_EQ(test(coef, 2, p, &r), 0);
  const double r6 = std::pow(0.6, 1.0 / p), r4 = std::pow(0.4, 1.0 / p);
  int outer = 0;
  for (int i = 0; i < 2 * p; ++i) {
    const double m = std::hypot(r[2 * i], r[2 * i + 1]);
    EXPECT_TRUE(std::fabs(m - r6) < 1e-15 || std::fabs(m - r4) < 1e-15) << i;
    outer += std::fabs(m - r6) < 1e-15;
  }
  EXPECT_EQ(outer, p);
  // Every root satisfies z^1000 = 0.6 or 0.4.
  for (int i = 0; i < 2 * p; ++i) {
    const cd w = std::pow(cd(r[2 * i], r[2 * i + 1]), p);
    EXPECT_LT(std::min(std::abs(w - 0.6), std::abs(w - 0.4)), 1e-12) << i;
  }
  // Phi = 0.5 I + 0.5 at lag 1000: eigenvalue 1, on the circle.
  const double unit[4] = {0.75, 0.25, 0.25, 0.75};
  std::copy(unit, unit + 4, coef.end() - 4);
  EXPECT_EQ(test(coef, 2, p, &r), 1);
}

// The work follows the order of the companion matrix actually built: one
// block at lag 500 reduces to order k, so it costs O(k^2 + k p), while a
// block at lag 1 beside it needs the full (k p)^2.
TEST_F(Stationarity, WorkFollowsTheReducedOrder) {
  const int k = 3, p = 500;
  Vec coef(std::size_t(k) * k * p, 0.0);
  for (int i = 0; i < k * k; ++i) coef[std::size_t(p - 1) * k * k + i] = 0.01 * (i + 1);
  const std::uint64_t sparse = mvtsa::companion_roots_work(coef.data(), k, p);
  EXPECT_LT(sparse, std::uint64_t(10) * k * p);
  Vec r(2 * std::size_t(k) * p);
  ASSERT_EQ(roots_of(&coef, k, p, &r), mvtsa::kCompanionRootsOk);
  coef[0] = 0.2;
  const std::uint64_t full = mvtsa::companion_roots_work(coef.data(), k, p);
  EXPECT_EQ(full, std::uint64_t(k * p) * (k * p) + 5 * std::uint64_t(k * p) + 260);
  // Every block zero: no work at all.
  Vec zero(std::size_t(k) * k * 4, 0.0);
  EXPECT_EQ(mvtsa::companion_roots_work(zero.data(), k, 4), 0u);
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
  Vec work(mvtsa::is_nonstationary_work(coef.data(), 1, 2, lags, 1));
  EXPECT_EQ(mvtsa::is_nonstationary(coef.data(), 1, 2, lags, 1, r.data(), work.data()), 0);
  EXPECT_NEAR(r[1], 0.5, 1e-16);
  EXPECT_NEAR(r[3], -0.5, 1e-16);
}

TEST_F(Stationarity, FailuresCountAsNonstationary) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Vec r;
  int st = -1;
  // Missing value in a first-order block: no roots written.
  EXPECT_EQ(test({0.1, nan, 0.0, 0.2}, 2, 1, &r, &st), 1);
  EXPECT_EQ(st, mvtsa::kCompanionRootsMissing);
  EXPECT_EQ(r, Vec(4, 0.0));
  // Missing value in a higher-order polynomial: the eigenvalue routine refuses.
  EXPECT_EQ(test({0.1, 0.0, nan, 0.2}, 1, 4, &r, &st), 1);
  EXPECT_EQ(st, mvtsa::kCompanionRootsFailed);
  EXPECT_EQ(r, Vec(8, 0.0));
  // No host memory is asked for: a refusing host changes nothing.
  host_.fail_allocation_at(1);
  EXPECT_EQ(test({0.1, 0.2}, 1, 2, &r, &st), 0);
  EXPECT_EQ(st, mvtsa::kCompanionRootsOk);
  EXPECT_EQ(host_.current().raised_error, 0);
  host_.fail_allocation_at(0);
}

}  // namespace
